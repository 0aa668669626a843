#include "mjpegfixtures.hpp"

#include <common/jpeg/jpegerrors.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>

#include <jpeglib.h>

namespace mjpegtest {

namespace {

std::uint32_t u32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t(b[at + 3]) << 24);
}

bool idIs(const Bytes& b, std::size_t at, const char* id) {
    return at + 4 <= b.size() && std::memcmp(&b[at], id, 4) == 0;
}

// Walks the chunks in [begin, end), descending into LIST movi and LIST rec.
void walk(const Bytes& b, std::size_t begin, std::size_t end, bool inMovi, std::vector<Chunk>& out) {
    std::size_t at = begin;
    while (at + 8 <= end) {
        const std::uint32_t size = u32(b, at + 4);
        const std::size_t data = at + 8;
        if (data + size > b.size()) {
            break;
        }
        if (idIs(b, at, "LIST") || idIs(b, at, "RIFF")) {
            const bool movi = idIs(b, data, "movi");
            const bool rec = idIs(b, data, "rec ");
            const bool riff = idIs(b, at, "RIFF");
            if (riff || movi || (inMovi && rec)) {
                walk(b, data + 4, data + size, inMovi || movi, out);
            }
        } else if (inMovi && (b[at + 2] == 'd') && (b[at + 3] == 'c' || b[at + 3] == 'b') &&
                   b[at] == '0' && b[at + 1] == '0') {
            out.push_back({data, size});
        }
        at = data + size + (size & 1);
    }
}

class Writer {
public:
    Bytes bytes;
    void u8(std::uint8_t v) { bytes.push_back(v); }
    void u16(std::uint16_t v) {
        u8(v & 0xFF);
        u8(v >> 8);
    }
    void u32(std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    void id(const std::string& s) {
        for (int i = 0; i < 4; ++i) {
            u8(i < static_cast<int>(s.size()) ? s[i] : ' ');
        }
    }
    void raw(const Bytes& b) { bytes.insert(bytes.end(), b.begin(), b.end()); }
    // Opens a chunk (or a list when listType is given); returns where its
    // size goes.
    std::size_t open(const std::string& fourCC, const std::string& listType = "") {
        id(fourCC);
        const std::size_t at = bytes.size();
        u32(0);
        if (!listType.empty()) {
            id(listType);
        }
        return at;
    }
    void close(std::size_t sizeAt) {
        const std::uint32_t size = static_cast<std::uint32_t>(bytes.size() - sizeAt - 4);
        for (int i = 0; i < 4; ++i) {
            bytes[sizeAt + i] = (size >> (8 * i)) & 0xFF;
        }
        if (size & 1) {
            u8(0);
        }
    }
};

}  // namespace

PeerFile gstreamerFile(int width, int height, int frames, int fps, bool audio) {
    static std::map<std::string, PeerFile> made;
    const std::string name = "gst-" + std::to_string(width) + "x" + std::to_string(height) + "-" +
                             std::to_string(frames) + "-" + std::to_string(fps) +
                             (audio ? "-a" : "") + ".avi";
    auto found = made.find(name);
    if (found != made.end()) {
        return found->second;
    }
    PeerFile file{scratchPath(name), width, height, frames, fps, audio};
    std::string pipeline = "gst-launch-1.0 -q videotestsrc pattern=smpte num-buffers=" +
                           std::to_string(frames) + " ! video/x-raw,width=" + std::to_string(width) +
                           ",height=" + std::to_string(height) + ",framerate=" + std::to_string(fps) +
                           "/1 ! jpegenc ! avimux name=mux ! filesink location=" + file.path;
    if (audio) {
        // As many samples as the video lasts, 16-bit stereo.
        const long samples = 44100L * frames / fps;
        pipeline += " audiotestsrc num-buffers=" + std::to_string(samples / 1024 + 1) +
                    " samplesperbuffer=1024 ! audio/x-raw,format=S16LE,channels=2,rate=44100 ! mux.";
    }
    if (!run(pipeline)) {
        throw std::runtime_error("GStreamer could not make " + name);
    }
    made[name] = file;
    return file;
}

PeerFile ffmpegFile(int width, int height, int frames, int fps, bool audio, const std::string& huffman,
                    const std::string& pixelFormat) {
    static std::map<std::string, PeerFile> made;
    const std::string name = "ff-" + std::to_string(width) + "x" + std::to_string(height) + "-" +
                             std::to_string(frames) + "-" + std::to_string(fps) +
                             (audio ? "-a" : "") + "-" + huffman + "-" + pixelFormat + ".avi";
    auto found = made.find(name);
    if (found != made.end()) {
        return found->second;
    }
    PeerFile file{scratchPath(name), width, height, frames, fps, audio};
    std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=" + std::to_string(width) +
                          "x" + std::to_string(height) + ":rate=" + std::to_string(fps);
    if (audio) {
        command += " -f lavfi -i sine=frequency=440:sample_rate=22050 -c:a pcm_s16le -shortest";
    }
    command += " -frames:v " + std::to_string(frames) + " -c:v mjpeg -pix_fmt " + pixelFormat + " -q:v 4 -huffman " + huffman + " " +
               file.path;
    if (!run(command)) {
        throw std::runtime_error("FFmpeg could not make " + name);
    }
    made[name] = file;
    return file;
}

std::vector<Chunk> videoChunks(const Bytes& file) {
    std::vector<Chunk> chunks;
    walk(file, 0, file.size(), false, chunks);
    return chunks;
}

Bytes chunkData(const Bytes& file, const Chunk& chunk) {
    return Bytes(file.begin() + chunk.offset, file.begin() + chunk.offset + chunk.size);
}

int stripHuffmanTables(std::uint8_t* frame, std::size_t size) {
    int stripped = 0;
    std::size_t at = 2;  // past SOI
    while (at + 4 <= size && frame[at] == 0xFF) {
        const std::uint8_t marker = frame[at + 1];
        const std::size_t length = (frame[at + 2] << 8) | frame[at + 3];
        if (marker == 0xDA) {
            break;  // entropy-coded data follows
        }
        if (marker == 0xC4) {
            frame[at + 1] = 0xFE;  // COM
            ++stripped;
        }
        at += 2 + length;
    }
    return stripped;
}

Bytes libjpegDecode(const Bytes& jpeg, int& width, int& height) {
    jpeg_decompress_struct cinfo;
    multimedia::common::jpeg::ErrorManager errors;
    errors.install(cinfo);
    jpeg_create_decompress(&cinfo);
    Bytes rgb;
    try {
        jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
        jpeg_read_header(&cinfo, TRUE);
        cinfo.out_color_space = JCS_RGB;
        jpeg_start_decompress(&cinfo);
        width = static_cast<int>(cinfo.output_width);
        height = static_cast<int>(cinfo.output_height);
        rgb.resize(std::size_t(width) * height * 3);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = rgb.data() + std::size_t(cinfo.output_scanline) * width * 3;
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_decompress(&cinfo);
    } catch (...) {
        jpeg_destroy_decompress(&cinfo);
        throw;
    }
    jpeg_destroy_decompress(&cinfo);
    return rgb;
}

std::vector<Bytes> ffmpegDecode(const std::string& path, int width, int height) {
    const std::string out = path + ".rgb";
    const char* flags = std::getenv("MJPEG_SWS");
    if (!run("ffmpeg -nostdin -v error -y " + std::string(flags ? flags : "") + " -i " + path +
             " -f rawvideo -pix_fmt rgb24 " + out)) {
        throw std::runtime_error("FFmpeg could not decode " + path);
    }
    const Bytes all = readFile(out);
    const std::size_t frameBytes = std::size_t(width) * height * 3;
    std::vector<Bytes> frames;
    for (std::size_t at = 0; at + frameBytes <= all.size(); at += frameBytes) {
        frames.emplace_back(all.begin() + at, all.begin() + at + frameBytes);
    }
    return frames;
}

Bytes toColumnMajorPlanes(const Bytes& packed, int width, int height) {
    if (packed.size() != std::size_t(width) * height * 3) {
        throw std::invalid_argument("frame of another size");
    }
    Bytes planes(packed.size());
    const std::size_t h = height, w = width;
    for (std::size_t y = 0; y < h; ++y) {
        for (std::size_t x = 0; x < w; ++x) {
            for (std::size_t c = 0; c < 3; ++c) {
                planes[c * h * w + x * h + y] = packed[(y * w + x) * 3 + c];
            }
        }
    }
    return planes;
}

Bytes buildAvi(const AviRecipe& recipe) {
    Writer w;
    const bool compressed = !recipe.fourCC.empty();
    const std::uint32_t streams = (recipe.video ? 1 : 0) + (recipe.audio ? 1 : 0);
    const int audioStream = recipe.video ? 1 : 0;
    const std::uint16_t channels = 1, bits = 16, blockAlign = channels * bits / 8;
    const std::uint32_t sampleRate = 8000;
    std::uint32_t audioBytes = 0;
    for (const Bytes& c : recipe.audioChunks) {
        audioBytes += static_cast<std::uint32_t>(c.size());
    }

    const std::size_t riff = w.open("RIFF", "AVI ");
    const std::size_t hdrl = w.open("LIST", "hdrl");
    const std::size_t avih = w.open("avih");
    w.u32(recipe.rate ? static_cast<std::uint32_t>(1e6 * recipe.scale / recipe.rate) : 0);
    w.u32(0);
    w.u32(0);
    w.u32(0x10);  // has an index
    w.u32(static_cast<std::uint32_t>(recipe.frames.size()));
    w.u32(0);
    w.u32(streams);
    w.u32(0);
    w.u32(static_cast<std::uint32_t>(recipe.width));
    w.u32(static_cast<std::uint32_t>(recipe.height < 0 ? -recipe.height : recipe.height));
    for (int i = 0; i < 4; ++i) {
        w.u32(0);
    }
    w.close(avih);
    if (recipe.video) {
        const std::size_t strl = w.open("LIST", "strl");
        const std::size_t strh = w.open("strh");
        w.id("vids");
        w.id(compressed ? recipe.fourCC : "DIB ");
        w.u32(0);
        w.u32(0);
        w.u32(0);
        w.u32(recipe.scale);
        w.u32(recipe.rate);
        w.u32(0);
        w.u32(static_cast<std::uint32_t>(recipe.frames.size()));
        w.u32(0);
        w.u32(0xFFFFFFFF);
        w.u32(0);
        for (int i = 0; i < 4; ++i) {
            w.u16(0);
        }
        w.close(strh);
        const std::size_t strf = w.open("strf");
        w.u32(40);
        w.u32(static_cast<std::uint32_t>(recipe.width));
        w.u32(static_cast<std::uint32_t>(recipe.height));
        w.u16(1);
        w.u16(recipe.bitCount);
        if (compressed) {
            w.id(recipe.fourCC);
        } else {
            w.u32(0);
        }
        w.u32(0);
        w.u32(0);
        w.u32(0);
        w.u32(static_cast<std::uint32_t>(recipe.palette.size() / 4));
        w.u32(0);
        w.raw(recipe.palette);
        w.close(strf);
        w.close(strl);
    }
    if (recipe.audio) {
        const std::size_t strl = w.open("LIST", "strl");
        const std::size_t strh = w.open("strh");
        w.id("auds");
        w.u32(0);
        w.u32(0);
        w.u32(0);
        w.u32(0);
        w.u32(blockAlign);
        w.u32(sampleRate * blockAlign);
        w.u32(0);
        w.u32(audioBytes / blockAlign);
        w.u32(0);
        w.u32(0xFFFFFFFF);
        w.u32(blockAlign);
        for (int i = 0; i < 4; ++i) {
            w.u16(0);
        }
        w.close(strh);
        const std::size_t strf = w.open("strf");
        w.u16(recipe.audioFormatTag);
        w.u16(channels);
        w.u32(sampleRate);
        w.u32(sampleRate * blockAlign);
        w.u16(blockAlign);
        w.u16(bits);
        w.u16(0);
        w.close(strf);
        w.close(strl);
    }
    w.close(hdrl);

    struct Entry {
        std::string id;
        std::uint32_t offset;
        std::uint32_t size;
    };
    std::vector<Entry> entries;
    const std::size_t movi = w.open("LIST", "movi");
    const std::size_t moviType = movi + 4;
    const std::string videoId = compressed ? "00dc" : "00db";
    const std::string audioId = "0" + std::to_string(audioStream) + "wb";
    const std::size_t n = std::max(recipe.frames.size(), recipe.audioChunks.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (recipe.video && i < recipe.frames.size()) {
            entries.push_back({videoId, static_cast<std::uint32_t>(w.bytes.size() - moviType),
                               static_cast<std::uint32_t>(recipe.frames[i].size())});
            const std::size_t c = w.open(videoId);
            w.raw(recipe.frames[i]);
            w.close(c);
        }
        if (recipe.audio && i < recipe.audioChunks.size()) {
            entries.push_back({audioId, static_cast<std::uint32_t>(w.bytes.size() - moviType),
                               static_cast<std::uint32_t>(recipe.audioChunks[i].size())});
            const std::size_t c = w.open(audioId);
            w.raw(recipe.audioChunks[i]);
            w.close(c);
        }
    }
    w.close(movi);
    const std::size_t idx1 = w.open("idx1");
    for (const Entry& e : entries) {
        w.id(e.id);
        w.u32(0x10);
        w.u32(e.offset);
        w.u32(e.size);
    }
    w.close(idx1);
    w.close(riff);
    return w.bytes;
}

Bytes encodeJpeg(const Bytes& rgb, int width, int height, int quality) {
    jpeg_compress_struct cinfo;
    multimedia::common::jpeg::ErrorManager errors;
    errors.install(cinfo);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    Bytes result;
    try {
        jpeg_mem_dest(&cinfo, &out, &outSize);
        cinfo.image_width = static_cast<JDIMENSION>(width);
        cinfo.image_height = static_cast<JDIMENSION>(height);
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_RGB;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, quality, TRUE);
        jpeg_start_compress(&cinfo, TRUE);
        while (cinfo.next_scanline < cinfo.image_height) {
            JSAMPROW row = const_cast<std::uint8_t*>(rgb.data()) + std::size_t(cinfo.next_scanline) * width * 3;
            jpeg_write_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_compress(&cinfo);
        result.assign(out, out + outSize);
    } catch (...) {
        jpeg_destroy_compress(&cinfo);
        std::free(out);
        throw;
    }
    jpeg_destroy_compress(&cinfo);
    std::free(out);
    return result;
}

Bytes testPicture(int width, int height, int seed) {
    Bytes rgb(std::size_t(width) * height * 3);
    std::mt19937 noise(static_cast<unsigned>(seed));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &rgb[(std::size_t(y) * width + x) * 3];
            p[0] = static_cast<std::uint8_t>((x * 255) / std::max(1, width - 1) + seed * 17);
            p[1] = static_cast<std::uint8_t>((y * 255) / std::max(1, height - 1) + seed * 29);
            p[2] = static_cast<std::uint8_t>(((x + y) * 7 + seed * 41) ^ (noise() & 0x1F));
        }
    }
    return rgb;
}

int maxDifference(const Bytes& a, const Bytes& b) {
    int worst = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
    }
    return worst;
}

double meanDifference(const Bytes& a, const Bytes& b) {
    double sum = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        sum += std::abs(int(a[i]) - int(b[i]));
    }
    return a.empty() ? 0.0 : sum / a.size();
}

}  // namespace mjpegtest

#include <platform/services/i18n/i18n.hpp>
#include <platform/decoders/mjpegavidecoder/mjpegavidecoder.hpp>

namespace mjpegtest {

std::unique_ptr<qsVideoReader::IVideoReader> openReader(const std::string& path) {
    std::unique_ptr<qsVideoReader::IVideoReader> reader(qsVideoReader::createMjpegAviReaderInstance());
    reader->open(vq::i18n::to_ustring(path.c_str()), false);
    return reader;
}

Bytes readOne(qsVideoReader::IVideoReader& reader, bool interleaved) {
    Bytes frame(reader.getWidth() * reader.getHeight() * reader.getNumColorChannels());
    reader.readFrame(interleaved, frame.data());
    return frame;
}

Frames readAll(qsVideoReader::IVideoReader& reader, bool interleaved) {
    Frames all;
    for (int guard = 0; guard < 100000; ++guard) {
        Bytes frame = readOne(reader, interleaved);
        if (reader.isEndOfStream()) {
            break;
        }
        all.pixels.push_back(std::move(frame));
        all.times.push_back(reader.getCurrentTime());
    }
    return all;
}

}  // namespace mjpegtest
