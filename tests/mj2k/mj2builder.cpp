#include "mj2builder.hpp"

#include <support/files.hpp>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>

namespace mj2test {

namespace {

void quiet(const char*, void*) {}

struct Sink {
    std::vector<std::uint8_t> bytes;
    std::size_t pos = 0;
};

OPJ_SIZE_T writeSink(void* buffer, OPJ_SIZE_T n, void* user) {
    auto* s = static_cast<Sink*>(user);
    if (s->bytes.size() < s->pos + n) s->bytes.resize(s->pos + n);
    std::memcpy(s->bytes.data() + s->pos, buffer, n);
    s->pos += n;
    return n;
}
OPJ_OFF_T skipSink(OPJ_OFF_T n, void* user) {
    auto* s = static_cast<Sink*>(user);
    s->pos += static_cast<std::size_t>(n);
    if (s->bytes.size() < s->pos) s->bytes.resize(s->pos);
    return n;
}
OPJ_BOOL seekSink(OPJ_OFF_T to, void* user) {
    static_cast<Sink*>(user)->pos = static_cast<std::size_t>(to);
    return OPJ_TRUE;
}

struct Source {
    const std::uint8_t* data;
    std::size_t size, pos;
};
OPJ_SIZE_T readSource(void* buffer, OPJ_SIZE_T n, void* user) {
    auto* s = static_cast<Source*>(user);
    if (s->pos >= s->size) return static_cast<OPJ_SIZE_T>(-1);
    std::size_t take = std::min<std::size_t>(n, s->size - s->pos);
    std::memcpy(buffer, s->data + s->pos, take);
    s->pos += take;
    return take;
}
OPJ_OFF_T skipSource(OPJ_OFF_T n, void* user) {
    auto* s = static_cast<Source*>(user);
    s->pos = std::min<std::size_t>(s->size, s->pos + static_cast<std::size_t>(n));
    return n;
}
OPJ_BOOL seekSource(OPJ_OFF_T to, void* user) {
    auto* s = static_cast<Source*>(user);
    if (static_cast<std::size_t>(to) > s->size) return OPJ_FALSE;
    s->pos = static_cast<std::size_t>(to);
    return OPJ_TRUE;
}

// Big-endian box writer that back-patches each box size when the box closes.
class Boxes {
public:
    std::vector<std::uint8_t> b;
    void u8(std::uint32_t v) { b.push_back(static_cast<std::uint8_t>(v)); }
    void u16(std::uint32_t v) { u8(v >> 8); u8(v); }
    void u32(std::uint32_t v) { u16(v >> 16); u16(v & 0xFFFF); }
    void u64(std::uint64_t v) { u32(static_cast<std::uint32_t>(v >> 32)); u32(static_cast<std::uint32_t>(v)); }
    void text(const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }
    void zeros(std::size_t n) { b.insert(b.end(), n, 0); }
    void begin(const std::string& type) {
        open_.push_back(b.size());
        u32(0);
        text(type);
    }
    void beginFull(const std::string& type, std::uint8_t version, std::uint32_t flags) {
        begin(type);
        u8(version);
        u8(flags >> 16); u8(flags >> 8); u8(flags);
    }
    void end() {
        std::size_t at = open_.back();
        open_.pop_back();
        putU32(b, at, static_cast<std::uint32_t>(b.size() - at));
    }

private:
    std::vector<std::size_t> open_;
};

void matrix(Boxes& w) {
    const std::uint32_t m[9] = {0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000};
    for (auto v : m) w.u32(v);
}

void writeTrack(Boxes& w, const MovieLayout& layout, bool video, const std::vector<std::uint64_t>& chunkOffsets,
                const std::vector<std::uint32_t>& sizes, std::uint64_t duration) {
    w.begin("trak");
    w.beginFull("tkhd", 0, 7);
    w.u32(0); w.u32(0); w.u32(video ? 1 : 2); w.u32(0); w.u32(static_cast<std::uint32_t>(duration));
    w.zeros(8); w.u16(0); w.u16(0); w.u16(video ? 0 : 0x100); w.u16(0);
    matrix(w);
    w.u32(video ? layout.width << 16 : 0); w.u32(video ? layout.height << 16 : 0);
    w.end();
    w.begin("mdia");
    w.beginFull("mdhd", 0, 0);
    w.u32(0); w.u32(0); w.u32(layout.timescale); w.u32(static_cast<std::uint32_t>(duration)); w.u16(0x55C4); w.u16(0);
    w.end();
    w.beginFull("hdlr", 0, 0);
    w.u32(0); w.text(video ? "vide" : "soun"); w.zeros(12); w.text("Handler"); w.u8(0);
    w.end();
    w.begin("minf");
    w.beginFull("dinf", 0, 0);  // deliberately odd: parsers must skip what they do not use
    w.end();
    w.begin("stbl");
    w.beginFull("stsd", 0, 0);
    w.u32(1);
    if (video) {
        w.begin(layout.videoEntryType);
        w.zeros(6); w.u16(1);
        w.u16(0); w.u16(0); w.zeros(12);
        w.u16(layout.width); w.u16(layout.height);
        w.u32(0x00480000); w.u32(0x00480000); w.u32(0); w.u16(1); w.zeros(32); w.u16(24); w.u16(0xFFFF);
        w.begin("jp2h");
        w.begin("ihdr");
        w.u32(layout.height); w.u32(layout.width); w.u16(layout.components); w.u8(layout.bitDepth - 1); w.u8(7); w.u8(0); w.u8(0);
        w.end();
        if (layout.colour) {
            w.begin("colr");
            w.u8(1); w.u8(0); w.u8(0); w.u32(layout.colour);
            w.end();
        }
        w.end();
        w.end();
    } else {
        w.begin("twos");
        w.zeros(6); w.u16(1);
        w.u16(0); w.u16(0); w.u32(0); w.u16(layout.audioChannels); w.u16(16); w.u16(0); w.u16(0); w.u32(44100u << 16);
        w.end();
    }
    w.end();  // stsd

    // Time to sample, equal durations in one run.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> runs;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        std::uint32_t d = i < layout.durations.size() ? layout.durations[i] : 40;
        if (!runs.empty() && runs.back().second == d) ++runs.back().first;
        else runs.push_back({1, d});
    }
    w.beginFull("stts", 0, 0);
    w.u32(static_cast<std::uint32_t>(runs.size()));
    for (auto& r : runs) { w.u32(r.first); w.u32(r.second); }
    w.end();

    std::uint32_t spc = layout.samplesPerChunk;
    w.beginFull("stsc", 0, 0);
    std::uint32_t full = static_cast<std::uint32_t>(sizes.size() / spc);
    std::uint32_t rest = static_cast<std::uint32_t>(sizes.size() % spc);
    w.u32((full ? 1 : 0) + (rest ? 1 : 0));
    if (full) { w.u32(1); w.u32(spc); w.u32(1); }
    if (rest) { w.u32(full + 1); w.u32(rest); w.u32(1); }
    w.end();

    w.beginFull("stsz", 0, 0);
    w.u32(0); w.u32(static_cast<std::uint32_t>(sizes.size()));
    for (auto s : sizes) w.u32(s);
    w.end();

    w.beginFull(layout.co64 ? "co64" : "stco", 0, 0);
    w.u32(static_cast<std::uint32_t>(chunkOffsets.size()));
    for (auto o : chunkOffsets) layout.co64 ? w.u64(o) : w.u32(static_cast<std::uint32_t>(o));
    w.end();
    w.end();  // stbl
    w.end();  // minf
    w.end();  // mdia
    w.end();  // trak
}

std::vector<std::uint8_t> buildMoov(const MovieLayout& layout, std::uint64_t mdatData, const std::vector<std::vector<std::uint8_t>>& samples,
                                    std::vector<std::uint64_t>* offsets) {
    std::vector<std::uint32_t> sizes;
    std::vector<std::uint64_t> chunks;
    std::uint64_t pos = mdatData;
    std::uint64_t duration = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (i % layout.samplesPerChunk == 0) chunks.push_back(pos);
        if (offsets) offsets->push_back(pos);
        sizes.push_back(static_cast<std::uint32_t>(samples[i].size()));
        pos += samples[i].size();
        duration += i < layout.durations.size() ? layout.durations[i] : 40;
    }
    Boxes w;
    w.begin("moov");
    w.beginFull("mvhd", 0, 0);
    w.u32(0); w.u32(0); w.u32(layout.timescale); w.u32(static_cast<std::uint32_t>(duration));
    w.u32(0x10000); w.u16(0x100); w.zeros(10); matrix(w); w.zeros(24); w.u32(3);
    w.end();
    if (layout.withVideo) writeTrack(w, layout, true, chunks, sizes, duration);
    if (layout.withAudio) writeTrack(w, layout, false, {}, {}, duration);
    w.end();
    return w.b;
}

}  // namespace

Picture makePicture(std::uint32_t width, std::uint32_t height, std::uint32_t components, std::uint32_t precision,
                    std::uint32_t seed) {
    Picture p;
    p.width = width;
    p.height = height;
    p.precision = precision;
    std::uint32_t maxValue = (1u << precision) - 1;
    for (std::uint32_t c = 0; c < components; ++c) {
        std::vector<std::int32_t> plane(std::size_t(width) * height);
        for (std::uint32_t y = 0; y < height; ++y)
            for (std::uint32_t x = 0; x < width; ++x) {
                // Gradients that differ per channel, row and column, plus a
                // frame-dependent pattern, covering the whole range.
                std::uint64_t v = (std::uint64_t(x) * 7919u + std::uint64_t(y) * 104729u * (c + 1) +
                                   std::uint64_t(seed) * 31337u + c * 977u + (x ^ y) * 13u);
                plane[std::size_t(y) * width + x] = static_cast<std::int32_t>(v % (std::uint64_t(maxValue) + 1));
            }
        p.planes.push_back(std::move(plane));
    }
    return p;
}

std::vector<std::uint8_t> encodeJ2k(const Picture& picture) {
    const std::uint32_t nc = static_cast<std::uint32_t>(picture.planes.size());
    std::vector<opj_image_cmptparm_t> params(nc);
    for (std::uint32_t c = 0; c < nc; ++c) {
        std::memset(&params[c], 0, sizeof(params[c]));
        std::uint32_t sub = c == 0 ? 1 : picture.chromaSubsampling;
        params[c].dx = sub;
        params[c].dy = sub;
        params[c].w = (picture.width + sub - 1) / sub;
        params[c].h = (picture.height + sub - 1) / sub;
        params[c].prec = picture.precision;
        params[c].sgnd = picture.isSigned;
    }
    opj_image_t* image = opj_image_create(nc, params.data(), nc == 3 ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_GRAY);
    EXPECT_NE(image, nullptr);
    if (!image) return {};
    image->x0 = 0;
    image->y0 = 0;
    image->x1 = picture.width;
    image->y1 = picture.height;
    for (std::uint32_t c = 0; c < nc; ++c) {
        std::size_t n = std::size_t(params[c].w) * params[c].h;
        for (std::size_t i = 0; i < n && i < picture.planes[c].size(); ++i) image->comps[c].data[i] = picture.planes[c][i];
    }
    opj_cparameters_t cp;
    opj_set_default_encoder_parameters(&cp);
    cp.tcp_numlayers = 1;
    cp.tcp_rates[0] = 0;  // lossless
    cp.cp_disto_alloc = 1;
    cp.irreversible = 0;
    cp.numresolution = 3;
    cp.tcp_mct = (nc == 3 && picture.chromaSubsampling == 1) ? 1 : 0;
    opj_codec_t* codec = opj_create_compress(OPJ_CODEC_J2K);
    opj_set_info_handler(codec, quiet, nullptr);
    opj_set_warning_handler(codec, quiet, nullptr);
    opj_set_error_handler(codec, quiet, nullptr);
    Sink sink;
    bool ok = opj_setup_encoder(codec, &cp, image);
    opj_stream_t* stream = opj_stream_create(1 << 16, OPJ_FALSE);
    opj_stream_set_user_data(stream, &sink, nullptr);
    opj_stream_set_write_function(stream, writeSink);
    opj_stream_set_skip_function(stream, skipSink);
    opj_stream_set_seek_function(stream, seekSink);
    ok = ok && opj_start_compress(codec, image, stream) && opj_encode(codec, stream) && opj_end_compress(codec, stream);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    EXPECT_TRUE(ok) << "OpenJPEG could not encode the test picture";
    return ok ? sink.bytes : std::vector<std::uint8_t>{};
}

Decoded decodeJ2k(const std::uint8_t* data, std::size_t size) {
    Decoded d;
    Source src{data, size, 0};
    opj_codec_t* codec = opj_create_decompress(OPJ_CODEC_J2K);
    opj_set_info_handler(codec, quiet, nullptr);
    opj_set_warning_handler(codec, quiet, nullptr);
    opj_set_error_handler(codec, quiet, nullptr);
    opj_dparameters_t dp;
    opj_set_default_decoder_parameters(&dp);
    opj_setup_decoder(codec, &dp);
    opj_stream_t* stream = opj_stream_create(1 << 16, OPJ_TRUE);
    opj_stream_set_user_data(stream, &src, nullptr);
    opj_stream_set_user_data_length(stream, size);
    opj_stream_set_read_function(stream, readSource);
    opj_stream_set_skip_function(stream, skipSource);
    opj_stream_set_seek_function(stream, seekSource);
    opj_image_t* image = nullptr;
    bool ok = opj_read_header(stream, codec, &image) && opj_decode(codec, stream, image) && opj_end_decompress(codec, stream);
    if (ok) {
        d.width = image->x1 - image->x0;
        d.height = image->y1 - image->y0;
        for (std::uint32_t c = 0; c < image->numcomps; ++c) {
            const opj_image_comp_t& comp = image->comps[c];
            d.dx.push_back(comp.dx);
            d.dy.push_back(comp.dy);
            d.precision.push_back(comp.prec);
            d.planeWidth.push_back(comp.w);
            d.planes.emplace_back(comp.data, comp.data + std::size_t(comp.w) * comp.h);
        }
    }
    if (image) opj_image_destroy(image);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    return d;
}

std::vector<std::uint8_t> writeMovie(const MovieLayout& layout, std::vector<std::uint64_t>* sampleOffsets,
                                     std::vector<std::uint8_t>* mdatPart) {
    std::vector<std::vector<std::uint8_t>> samples;
    for (const auto& s : layout.samples) {
        if (!layout.wrapInJp2c) {
            samples.push_back(s);
            continue;
        }
        Boxes w;
        w.begin(layout.sampleBoxType.c_str());
        w.b.insert(w.b.end(), s.begin(), s.end());
        w.end();
        samples.push_back(w.b);
    }
    Boxes head;
    head.begin("jP  ");
    head.u32(0x0D0A870A);
    head.end();
    head.begin("ftyp");
    head.text("mjp2"); head.u32(0); head.text("mjp2"); head.text("isom");
    head.end();

    std::vector<std::uint8_t> mdat;
    {
        Boxes w;
        w.begin("mdat");
        for (auto& s : samples) w.b.insert(w.b.end(), s.begin(), s.end());
        w.end();
        mdat = w.b;
    }
    std::vector<std::uint8_t> out = head.b;
    if (layout.gapBeforeMdat) {
        // Movie box, then a free box with a 64-bit size over the gap, then the
        // media data; the caller writes the gap as a hole.
        Boxes freeBox;
        freeBox.u32(1);
        freeBox.text("free");
        freeBox.u64(16 + layout.gapBeforeMdat);
        auto probe = buildMoov(layout, 0, samples, nullptr);
        std::uint64_t data = out.size() + probe.size() + 16 + layout.gapBeforeMdat + 8;
        auto moov = buildMoov(layout, data, samples, sampleOffsets);
        out.insert(out.end(), moov.begin(), moov.end());
        out.insert(out.end(), freeBox.b.begin(), freeBox.b.end());
        if (mdatPart) *mdatPart = mdat;
        return out;
    }
    if (layout.mdatFirst) {
        std::uint64_t data = out.size() + 8;
        out.insert(out.end(), mdat.begin(), mdat.end());
        auto moov = buildMoov(layout, data, samples, sampleOffsets);
        out.insert(out.end(), moov.begin(), moov.end());
    } else {
        auto probe = buildMoov(layout, 0, samples, nullptr);
        std::uint64_t data = out.size() + probe.size() + 8;
        auto moov = buildMoov(layout, data, samples, sampleOffsets);
        out.insert(out.end(), moov.begin(), moov.end());
        out.insert(out.end(), mdat.begin(), mdat.end());
    }
    return out;
}

std::size_t findBox(const std::vector<std::uint8_t>& file, const std::string& type) {
    static const std::set<std::string> containers = {"moov", "trak", "mdia", "minf", "stbl", "jp2h"};
    std::function<std::size_t(std::size_t, std::size_t)> walk = [&](std::size_t from, std::size_t to) -> std::size_t {
        std::size_t pos = from;
        while (pos + 8 <= to) {
            std::uint32_t size = (std::uint32_t(file[pos]) << 24) | (file[pos + 1] << 16) | (file[pos + 2] << 8) | file[pos + 3];
            std::string t(reinterpret_cast<const char*>(&file[pos + 4]), 4);
            if (size < 8 || pos + size > to) return std::string::npos;
            if (t == type) return pos;
            std::size_t found = std::string::npos;
            if (containers.count(t)) found = walk(pos + 8, pos + size);
            else if (t == "stsd") found = walk(pos + 16, pos + size);                      // into the entries
            else if (t == "mjp2" || t == "avc1") found = walk(pos + 8 + 78, pos + size);  // past the visual fields
            if (found != std::string::npos) return found;
            pos += size;
        }
        return std::string::npos;
    };
    return walk(0, file.size());
}

void putU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t v) {
    bytes[at] = static_cast<std::uint8_t>(v >> 24);
    bytes[at + 1] = static_cast<std::uint8_t>(v >> 16);
    bytes[at + 2] = static_cast<std::uint8_t>(v >> 8);
    bytes[at + 3] = static_cast<std::uint8_t>(v);
}

std::string writeTemp(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    return testsupport::writeFile(testsupport::scratchPath(name), bytes);
}

std::string writeSparseMovie(const std::string& name, const MovieLayout& layout, std::vector<std::uint64_t>* sampleOffsets) {
    std::vector<std::uint8_t> mdat;
    std::vector<std::uint8_t> head = writeMovie(layout, sampleOffsets, &mdat);
    std::string path = writeTemp(name, head);
    std::FILE* f = std::fopen(path.c_str(), "r+b");
    EXPECT_NE(f, nullptr);
    if (!f) return path;
    EXPECT_EQ(::fseeko(f, static_cast<off_t>(head.size() + layout.gapBeforeMdat), SEEK_SET), 0);
    EXPECT_EQ(std::fwrite(mdat.data(), 1, mdat.size(), f), mdat.size());
    std::fclose(f);
    return path;
}

}  // namespace mj2test
