#include "mjpegfixtures.hpp"

#include <support/avibuilder.hpp>

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

Bytes djpegDecode(const Bytes& jpeg, std::string* messages) {
    static int made = 0;
    const std::string in = scratchPath("djpeg-" + std::to_string(++made) + ".jpg");
    writeFile(in, jpeg);
    testsupport::run("djpeg -ppm -outfile '" + in + ".ppm' '" + in + "' 2> '" + in + ".err'");
    if (messages != nullptr) {
        const Bytes err = readFile(in + ".err");
        messages->assign(err.begin(), err.end());
    }
    Bytes ppm = readFile(in + ".ppm");
    // "P6\nW H\n255\n" then the rows.
    std::size_t at = 0;
    for (int lines = 0; at < ppm.size() && lines < 3; ++at) {
        if (ppm[at] == '\n') ++lines;
    }
    return Bytes(ppm.begin() + static_cast<long>(at), ppm.end());
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
    avitest::AviRecipe s;
    s.hasVideo = recipe.video;
    if (!recipe.fourCC.empty()) {
        std::string code = recipe.fourCC;
        code.resize(4, ' ');
        s.compression = avitest::get32(code, 0);
    }
    s.videoTag = recipe.fourCC.empty() ? "db" : "dc";
    s.bits = recipe.bitCount;
    s.width = recipe.width;
    s.height = recipe.height;
    s.rate = recipe.rate;
    s.scale = recipe.scale;
    s.palette.assign(recipe.palette.begin(), recipe.palette.end());
    for (const Bytes& f : recipe.frames) s.frames.emplace_back(f.begin(), f.end());
    s.hasAudio = recipe.audio;
    s.formatTag = recipe.audioFormatTag;
    for (const Bytes& a : recipe.audioChunks) s.audioChunks.emplace_back(a.begin(), a.end());
    const std::string bytes = avitest::buildAvi(s).bytes;
    return Bytes(bytes.begin(), bytes.end());
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
