#include <platform/decoders/mj2kdecoder/j2kcodec.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace mj2k {

namespace {

struct CodecDeleter {
    void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct StreamDeleter {
    void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
using CodecHandle = std::unique_ptr<opj_codec_t, CodecDeleter>;
using StreamHandle = std::unique_ptr<opj_stream_t, StreamDeleter>;

void quiet(const char*, void*) {}

// A read-only OpenJPEG stream over bytes in memory.
struct MemorySource {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
};

OPJ_SIZE_T readMemory(void* buffer, OPJ_SIZE_T n, void* user) {
    auto* src = static_cast<MemorySource*>(user);
    std::size_t left = src->size - src->pos;
    if (left == 0) return static_cast<OPJ_SIZE_T>(-1);  // end of stream
    std::size_t take = std::min<std::size_t>(n, left);
    std::memcpy(buffer, src->data + src->pos, take);
    src->pos += take;
    return take;
}

OPJ_OFF_T skipMemory(OPJ_OFF_T n, void* user) {
    auto* src = static_cast<MemorySource*>(user);
    if (n < 0) {
        std::size_t back = std::min<std::size_t>(static_cast<std::size_t>(-n), src->pos);
        src->pos -= back;
        return -static_cast<OPJ_OFF_T>(back);
    }
    std::size_t fwd = std::min<std::size_t>(static_cast<std::size_t>(n), src->size - src->pos);
    src->pos += fwd;
    return static_cast<OPJ_OFF_T>(fwd);
}

OPJ_BOOL seekMemory(OPJ_OFF_T to, void* user) {
    auto* src = static_cast<MemorySource*>(user);
    if (to < 0 || static_cast<std::uint64_t>(to) > src->size) return OPJ_FALSE;
    src->pos = static_cast<std::size_t>(to);
    return OPJ_TRUE;
}

struct Decoder {
    MemorySource source;
    CodecHandle codec;
    StreamHandle stream;
    ImageHandle image;

    // Sets up codec and stream and reads the main header.
    bool start(const std::uint8_t* data, std::size_t size, unsigned threads = 0) {
        if (!data || size == 0) return false;
        source = MemorySource{data, size, 0};
        codec.reset(opj_create_decompress(OPJ_CODEC_J2K));
        if (!codec) return false;
        opj_set_info_handler(codec.get(), quiet, nullptr);
        opj_set_warning_handler(codec.get(), quiet, nullptr);
        opj_set_error_handler(codec.get(), quiet, nullptr);
        opj_dparameters_t params;
        opj_set_default_decoder_parameters(&params);
        if (!opj_setup_decoder(codec.get(), &params)) return false;
        // Code blocks decode in parallel; without thread support in OpenJPEG
        // this fails and decoding stays on this thread, with the same result.
        if (threads > 1) opj_codec_set_threads(codec.get(), static_cast<int>(threads));
        stream.reset(opj_stream_create(64 * 1024, OPJ_TRUE));
        if (!stream) return false;
        opj_stream_set_user_data(stream.get(), &source, nullptr);
        opj_stream_set_user_data_length(stream.get(), size);
        opj_stream_set_read_function(stream.get(), readMemory);
        opj_stream_set_skip_function(stream.get(), skipMemory);
        opj_stream_set_seek_function(stream.get(), seekMemory);
        opj_image_t* raw = nullptr;
        bool ok = opj_read_header(stream.get(), codec.get(), &raw);
        image.reset(raw);  // adopted whether or not the header was complete
        return ok && image && image->numcomps > 0 && image->comps;
    }
};

bool sizeAcceptable(const opj_image_t& image) {
    if (image.x1 <= image.x0 || image.y1 <= image.y0) return false;
    std::uint64_t w = image.x1 - image.x0, h = image.y1 - image.y0;
    return w * h * image.numcomps <= kMaxImageSamples;
}

// Channels delivered and whether they hold luma and chroma.
bool describe(const opj_image_t& image, ColourSpace colour, FrameFormat& f) {
    if (!sizeAcceptable(image)) return false;
    f.width = image.x1 - image.x0;
    f.height = image.y1 - image.y0;
    // Extra components (alpha, for instance) are not delivered.
    f.channels = image.numcomps >= 3 ? 3 : 1;
    f.precision = 0;
    f.isSigned = false;
    bool subsampled = false;
    for (std::uint32_t c = 0; c < f.channels; ++c) {
        const opj_image_comp_t& comp = image.comps[c];
        if (comp.dx == 0 || comp.dy == 0 || comp.prec == 0) return false;
        f.precision = std::max<std::uint32_t>(f.precision, comp.prec);
        if (comp.sgnd) f.isSigned = true;
        if (comp.dx != 1 || comp.dy != 1) subsampled = true;
    }
    if (f.channels == 3) {
        // A colour box decides; without one, subsampled chroma means luma and chroma.
        if (colour == ColourSpace::SYCC) f.ycc = true;
        else if (colour != ColourSpace::Unknown) f.ycc = false;
        else f.ycc = image.color_space == OPJ_CLRSPC_SYCC || subsampled;
    } else {
        f.ycc = false;
    }
    return true;
}

// Where a component's stored samples fall under the picture's pixels along one
// axis: for each pixel the two nearest samples and the weight of the second,
// so chroma is interpolated linearly between neighbours, never just repeated.
// A subsampled sample sits at the centre of the pixels it covers, or, when
// `cosited`, on the first of them.
struct Taps {
    std::vector<std::uint32_t> first, second;
    std::vector<float> weight;
};

Taps tapsFor(std::uint32_t pixels, std::uint32_t imageOrigin, std::uint32_t step, std::uint32_t compOrigin,
             std::uint32_t stored, bool cosited) {
    Taps t;
    t.first.resize(pixels);
    t.second.resize(pixels);
    t.weight.resize(pixels);
    for (std::uint32_t p = 0; p < pixels; ++p) {
        double u = cosited ? (double(imageOrigin) + p) / step - compOrigin
                           : (double(imageOrigin) + p + 0.5) / step - 0.5 - compOrigin;
        double f = std::floor(u);
        double w = u - f;
        if (f < 0) {
            f = 0;
            w = 0;
        }
        std::uint32_t i0 = f >= stored ? stored - 1 : static_cast<std::uint32_t>(f);
        std::uint32_t i1 = i0 + 1 < stored ? i0 + 1 : i0;
        t.first[p] = i0;
        t.second[p] = i1;
        t.weight[p] = i1 == i0 ? 0.0f : static_cast<float>(w);
    }
    return t;
}

// Luma/chroma to RGB. GStreamer's encoder labels its YCbCr input sYCC, yet
// stores it as it came from the pipeline: video range (luma 16-235, chroma
// 16-240 at 8 bits, scaled for more bits). GStreamer's own decode and FFmpeg's
// (which ignores the colour box) both read such samples as video range, so
// this reader does too: a full-range reading would stretch every GStreamer
// file's contrast. The matrix follows GStreamer's default for untagged video:
// BT.601 up to 576 lines, BT.709 above, BT.2020 from 2160 lines.
struct YccToRgb {
    float yOffset, yScale, cOffset, cScale;
    float crToR, cbToG, crToG, cbToB;

    YccToRgb(std::uint32_t lumaBits, std::uint32_t chromaBits, std::uint32_t height) {
        const float ys = std::ldexp(1.0f, int(lumaBits) - 8), cs = std::ldexp(1.0f, int(chromaBits) - 8);
        yOffset = 16 * ys;
        yScale = 1.0f / (219 * ys);
        cOffset = 128 * cs;
        cScale = 1.0f / (224 * cs);
        float kr = 0.299f, kb = 0.114f;
        if (height >= 2160) kr = 0.2627f, kb = 0.0593f;
        else if (height > 576) kr = 0.2126f, kb = 0.0722f;
        const float kg = 1 - kr - kb;
        crToR = 2 * (1 - kr);
        cbToB = 2 * (1 - kb);
        cbToG = 2 * kb * (1 - kb) / kg;
        crToG = 2 * kr * (1 - kr) / kg;
    }
};

// Whether every component holds a sample for each picture position, so
// samples map one to one (RGB or grey, never luma/chroma).
bool fullSizeComponents(const opj_image_t& image, const FrameFormat& f) {
    bool fullSize = !f.ycc;
    for (std::uint32_t c = 0; c < f.channels; ++c) {
        const opj_image_comp_t& comp = image.comps[c];
        fullSize = fullSize && comp.dx == 1 && comp.dy == 1 && comp.w >= f.width && comp.h >= f.height;
    }
    return fullSize;
}

// Where sample c of picture position (x, y) goes in either layout.
inline std::size_t outIndex(bool rowMajor, std::uint32_t W, std::uint32_t H, std::uint32_t C, std::uint32_t x,
                            std::uint32_t y, std::uint32_t c) {
    return rowMajor ? (std::size_t(y) * W + x) * C + c : std::size_t(c) * H * W + std::size_t(x) * H + y;
}

// Full-size components: exact integer scaling, rounded to nearest:
// v * (2^n - 1) / (2^p - 1).
template <typename T>
void copyFullSize(const opj_image_t& image, const FrameFormat& f, bool rowMajor, T* out) {
    const std::uint32_t W = f.width, H = f.height, C = f.channels;
    const std::uint64_t top = (std::uint64_t(1) << (8 * sizeof(T))) - 1;
    for (std::uint32_t c = 0; c < C; ++c) {
        const opj_image_comp_t& comp = image.comps[c];
        const std::uint64_t inMax = (std::uint64_t(1) << comp.prec) - 1;
        for (std::uint32_t y = 0; y < H; ++y) {
            const std::int32_t* in = comp.data + std::size_t(y) * comp.w;
            for (std::uint32_t x = 0; x < W; ++x) {
                const std::int32_t v = in[x];
                const std::uint64_t u = v <= 0 ? 0 : std::uint64_t(v) > inMax ? inMax : std::uint64_t(v);
                out[outIndex(rowMajor, W, H, C, x, y, c)] =
                    static_cast<T>(inMax == top ? u : (u * top + inMax / 2) / inMax);
            }
        }
    }
}

// Picture row y of every component, interpolated to full size, interleaved
// into `line` (W x C samples).
void interpolateRow(const opj_image_t& image, const std::vector<Taps>& cols, const std::vector<Taps>& rows,
                    std::uint32_t y, std::uint32_t W, std::uint32_t C, float* line) {
    for (std::uint32_t c = 0; c < C; ++c) {
        const opj_image_comp_t& comp = image.comps[c];
        const Taps& tc = cols[c];
        const std::int32_t* r0 = comp.data + std::size_t(rows[c].first[y]) * comp.w;
        const std::int32_t* r1 = comp.data + std::size_t(rows[c].second[y]) * comp.w;
        const float wy = rows[c].weight[y];
        float* dst = line + c;
        if (comp.dx == 1 && comp.dy == 1) {
            for (std::uint32_t x = 0; x < W; ++x) dst[std::size_t(x) * C] = float(r0[x]);
        } else {
            for (std::uint32_t x = 0; x < W; ++x) {
                const std::uint32_t a = tc.first[x], b = tc.second[x];
                const float wx = tc.weight[x];
                const float top = r0[a] + wx * float(r0[b] - r0[a]);
                const float bottom = r1[a] + wx * float(r1[b] - r1[a]);
                dst[std::size_t(x) * C] = top + wy * (bottom - top);
            }
        }
    }
}

// Subsampled or luma/chroma components: each row interpolated to full size,
// then converted to RGB and scaled to the output's range.
template <typename T>
void copyAs(const opj_image_t& image, const FrameFormat& f, bool rowMajor, T* out) {
    if (fullSizeComponents(image, f)) {
        copyFullSize(image, f, rowMajor, out);
        return;
    }
    const std::uint32_t W = f.width, H = f.height, C = f.channels;
    const float outMax = float((std::uint32_t(1) << (8 * sizeof(T))) - 1);
    std::vector<Taps> cols(C), rows(C);
    float toOut[3];
    for (std::uint32_t c = 0; c < C; ++c) {
        const opj_image_comp_t& comp = image.comps[c];
        // GStreamer's siting for untagged video: centred up to 576 lines,
        // horizontally co-sited above (as MPEG-2 and later place chroma).
        cols[c] = tapsFor(W, image.x0, comp.dx, comp.x0, comp.w, H > 576);
        rows[c] = tapsFor(H, image.y0, comp.dy, comp.y0, comp.h, false);
        toOut[c] = outMax / float((std::uint64_t(1) << comp.prec) - 1);
    }
    const YccToRgb ycc(image.comps[0].prec, C == 3 ? image.comps[1].prec : 8, H);
    std::vector<float> line(std::size_t(W) * C);
    auto store = [outMax](float v) -> T {
        if (!(v > 0.0f)) return 0;
        if (v >= outMax) return static_cast<T>(outMax);
        return static_cast<T>(v + 0.5f);
    };
    for (std::uint32_t y = 0; y < H; ++y) {
        interpolateRow(image, cols, rows, y, W, C, line.data());
        const float* v = line.data();
        if (f.ycc) {
            for (std::uint32_t x = 0; x < W; ++x, v += 3) {
                const float Y = (v[0] - ycc.yOffset) * ycc.yScale;
                const float Pb = (v[1] - ycc.cOffset) * ycc.cScale;
                const float Pr = (v[2] - ycc.cOffset) * ycc.cScale;
                const float rgb[3] = {Y + ycc.crToR * Pr, Y - ycc.cbToG * Pb - ycc.crToG * Pr, Y + ycc.cbToB * Pb};
                for (std::uint32_t c = 0; c < 3; ++c) out[outIndex(rowMajor, W, H, 3, x, y, c)] = store(rgb[c] * outMax);
            }
        } else if (rowMajor) {
            T* o = out + std::size_t(y) * W * C;
            for (std::uint32_t x = 0; x < W; ++x)
                for (std::uint32_t c = 0; c < C; ++c, ++v, ++o) *o = store(*v * toOut[c]);
        } else {
            for (std::uint32_t x = 0; x < W; ++x)
                for (std::uint32_t c = 0; c < C; ++c, ++v)
                    out[std::size_t(c) * H * W + std::size_t(x) * H + y] = store(*v * toOut[c]);
        }
    }
}

}  // namespace

bool readHeader(const std::uint8_t* data, std::size_t size, ColourSpace trackColour, FrameFormat& format) {
    Decoder d;
    if (!d.start(data, size)) return false;
    return describe(*d.image, trackColour, format);
}

ImageHandle decode(const std::uint8_t* data, std::size_t size, unsigned threads) {
    Decoder d;
    if (!d.start(data, size, threads) || !sizeAcceptable(*d.image)) return nullptr;
    if (!opj_decode(d.codec.get(), d.stream.get(), d.image.get())) return nullptr;
    if (!opj_end_decompress(d.codec.get(), d.stream.get())) return nullptr;
    return std::move(d.image);
}

bool copyFrame(const opj_image_t& image, const FrameFormat& format, bool rowMajorInterleaved, void* destination) {
    FrameFormat actual;
    if (!destination || format.bytesPerSample() == 0) return false;
    if (!describe(image, format.ycc ? ColourSpace::SYCC : ColourSpace::SRGB, actual)) return false;
    if (actual.width != format.width || actual.height != format.height || actual.channels != format.channels ||
        actual.isSigned || actual.bytesPerSample() != format.bytesPerSample())
        return false;
    for (std::uint32_t c = 0; c < format.channels; ++c) {
        const opj_image_comp_t& comp = image.comps[c];
        if (!comp.data || comp.w == 0 || comp.h == 0) return false;
        // Every picture position must map into the stored plane.
        if (std::uint64_t(comp.w) * comp.dx + comp.dx < format.width ||
            std::uint64_t(comp.h) * comp.dy + comp.dy < format.height)
            return false;
    }
    if (format.bytesPerSample() == 1)
        copyAs(image, format, rowMajorInterleaved, static_cast<std::uint8_t*>(destination));
    else
        copyAs(image, format, rowMajorInterleaved, static_cast<std::uint16_t*>(destination));
    return true;
}

}  // namespace mj2k
