#include <platform/mj2kdecoder/j2kcodec.hpp>

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
    bool start(const std::uint8_t* data, std::size_t size) {
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
        if (comp.dx == 0 || comp.dy == 0) return false;
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

// Value of component `c` at picture position (x, y), chroma planes sampled at
// the nearest stored position.
inline std::int32_t at(const opj_image_t& image, std::uint32_t c, std::uint32_t x, std::uint32_t y) {
    const opj_image_comp_t& comp = image.comps[c];
    if (comp.dx == 1 && comp.dy == 1) return comp.data[std::size_t(y) * comp.w + x];
    std::uint32_t cx = (image.x0 + x) / comp.dx;
    std::uint32_t cy = (image.y0 + y) / comp.dy;
    cx = cx > comp.x0 ? cx - comp.x0 : 0;
    cy = cy > comp.y0 ? cy - comp.y0 : 0;
    if (cx >= comp.w) cx = comp.w - 1;
    if (cy >= comp.h) cy = comp.h - 1;
    return comp.data[std::size_t(cy) * comp.w + cx];
}

template <typename T>
void copyAs(const opj_image_t& image, const FrameFormat& f, bool rowMajor, T* out) {
    const std::uint32_t W = f.width, H = f.height, C = f.channels;
    const std::int32_t maxValue = static_cast<std::int32_t>((std::uint32_t(1) << f.precision) - 1);
    const double half = double(std::uint32_t(1) << (f.precision - 1));
    auto clampValue = [maxValue](double v) -> T {
        if (!(v > 0.0)) return 0;
        if (v >= maxValue) return static_cast<T>(maxValue);
        return static_cast<T>(std::lround(v));
    };
    auto clampInt = [maxValue](std::int32_t v) -> T {
        return static_cast<T>(v < 0 ? 0 : (v > maxValue ? maxValue : v));
    };
    auto index = [&](std::uint32_t x, std::uint32_t y, std::uint32_t c) -> std::size_t {
        return rowMajor ? (std::size_t(y) * W + x) * C + c : std::size_t(c) * H * W + std::size_t(x) * H + y;
    };
    for (std::uint32_t y = 0; y < H; ++y) {
        for (std::uint32_t x = 0; x < W; ++x) {
            if (f.ycc) {
                // Full-range luma/chroma to RGB, the conversion of sYCC.
                double Y = at(image, 0, x, y);
                double Cb = at(image, 1, x, y) - half;
                double Cr = at(image, 2, x, y) - half;
                out[index(x, y, 0)] = clampValue(Y + 1.402 * Cr);
                out[index(x, y, 1)] = clampValue(Y - 0.344136 * Cb - 0.714136 * Cr);
                out[index(x, y, 2)] = clampValue(Y + 1.772 * Cb);
            } else {
                for (std::uint32_t c = 0; c < C; ++c) out[index(x, y, c)] = clampInt(at(image, c, x, y));
            }
        }
    }
}

}  // namespace

bool readHeader(const std::uint8_t* data, std::size_t size, ColourSpace trackColour, FrameFormat& format) {
    Decoder d;
    if (!d.start(data, size)) return false;
    return describe(*d.image, trackColour, format);
}

ImageHandle decode(const std::uint8_t* data, std::size_t size) {
    Decoder d;
    if (!d.start(data, size) || !sizeAcceptable(*d.image)) return nullptr;
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
    FrameFormat use = format;
    use.precision = actual.precision;  // clamp to what this frame stores
    if (format.bytesPerSample() == 1)
        copyAs(image, use, rowMajorInterleaved, static_cast<std::uint8_t*>(destination));
    else
        copyAs(image, use, rowMajorInterleaved, static_cast<std::uint16_t*>(destination));
    return true;
}

}  // namespace mj2k
