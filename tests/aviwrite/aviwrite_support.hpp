#pragma once
// Helpers shared by the writer tests: scratch files, little-endian views of a
// written file, deterministic frame contents, a one-call writer for a whole
// file, and running the peer tools.

#include <avi/avifile.hpp>

#include <glib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace aviwrite {

// A per-process scratch folder inside the build tree (or /tmp), removed with
// everything in it when the test program ends.
class ScratchDir {
public:
    ScratchDir() {
        const char* build = std::getenv("MM_BUILD_DIR");
        path_ = std::string(build ? build : "/tmp") + "/aviwrite-scratch-" + std::to_string(::getpid());
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

inline std::string scratchDir() {
    static const ScratchDir dir;
    return dir.path();
}

inline std::string scratchFile(const std::string& name) {
    return scratchDir() + "/" + name;
}

// Little-endian view of a whole file.
struct Bytes {
    std::vector<unsigned char> data;

    std::size_t size() const { return data.size(); }
    std::uint32_t u8(std::size_t at) const { return data.at(at); }
    std::uint32_t u16(std::size_t at) const { return u8(at) | u8(at + 1) << 8; }
    std::uint32_t u32(std::size_t at) const { return u16(at) | u16(at + 2) << 16; }
    std::uint64_t u64(std::size_t at) const { return u32(at) | std::uint64_t(u32(at + 4)) << 32; }
    std::string str(std::size_t at, std::size_t n = 4) const {
        return std::string(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n));
    }
};

inline Bytes readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes{std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())};
}

// Bytes that differ from frame to frame and from position to position.
inline std::vector<char> pattern(std::size_t n, unsigned seed) {
    std::vector<char> out(n);
    std::uint32_t x = 2463534242u ^ (seed * 2654435761u);
    for (std::size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<char>(x & 0xFF);
    }
    return out;
}

inline std::vector<avi::tagRGBQUAD> greyPalette(std::size_t n) {
    std::vector<avi::tagRGBQUAD> map(n);
    for (std::size_t i = 0; i < n; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        map[i] = avi::tagRGBQUAD{v, static_cast<std::uint8_t>(255 - v), static_cast<std::uint8_t>(v / 2), 0};
    }
    return map;
}

// What a test wants in a file. frameBytes 0 uses the unsized writeVideoFrame.
struct Recipe {
    unsigned width = 0, height = 0;
    double frameRate = 25.0;
    std::string fourCC;
    unsigned bitsPerPixel = 24;
    unsigned frameBytes = 0;
    unsigned frames = 0;
    std::vector<avi::tagRGBQUAD> colormap;
    bool audio = false;
    bool audioFirst = false;  // describe the audio stream first (stream 0)
    double sampleRate = 44100.0;
    unsigned bitsPerSample = 16, channels = 2, bytesPerChunk = 17640;  // 0.1 s
    unsigned audioChunks = 0;
    unsigned long superIndexEntries = 0;  // 0 keeps the default
};

// What went into the file: frames as given, audio chunk data as stored
// (bytesPerChunk bytes; the pad byte of an odd size is not data).
struct Written {
    std::vector<std::vector<char>> frames;
    std::vector<std::vector<char>> audio;
    avi::errors::error_T error = avi::errors::NO_ERROR;
};

inline unsigned rowBytes(unsigned width, unsigned bits) {
    return (width * bits + 31) / 32 * 4;
}

inline Written writeFile(const std::string& path, const Recipe& r) {
    Written w;
    avi::File file;
    if (!file.open(path.c_str(), "w")) {
        w.error = file.getErrorCode();
        return w;
    }
    if (r.superIndexEntries) file.setNumSuperIndexEntries(r.superIndexEntries);
    if (!r.colormap.empty()) file.setColormap(r.colormap);
    const bool video = r.frames > 0 || r.width > 0;
    auto describeVideo = [&] {
        if (video) file.setVideoInfo(r.width, r.height, r.frameRate, r.fourCC, r.bitsPerPixel);
    };
    auto describeAudio = [&] {
        if (r.audio) file.setAudioInfo(r.sampleRate, r.bitsPerSample, r.channels, r.bytesPerChunk);
    };
    if (r.audioFirst) {
        describeAudio();
        describeVideo();
    } else {
        describeVideo();
        describeAudio();
    }
    const unsigned steps = std::max(r.frames, r.audioChunks);
    for (unsigned i = 0; i < steps; ++i) {
        if (r.audio && i < r.audioChunks) {
            std::vector<char> chunk = pattern(file.getAudioChunkSize(), 1000 + i);
            file.writeAudio(chunk.data());
            chunk.resize(r.bytesPerChunk);
            w.audio.push_back(chunk);
        }
        if (i < r.frames) {
            if (r.frameBytes) {
                std::vector<char> frame = pattern(r.frameBytes, i);
                file.writeVideoFrame(frame.data(), r.frameBytes);
                w.frames.push_back(frame);
            } else {
                const std::size_t size = std::size_t(r.height) * rowBytes(r.width, r.bitsPerPixel);
                std::vector<char> frame = pattern(size, i);
                file.writeVideoFrame(frame.data());
                w.frames.push_back(frame);
            }
        }
    }
    file.close();
    w.error = file.getErrorCode();
    return w;
}

struct CommandResult {
    int status = -1;
    std::string out;
};

// Runs a shell command and collects its standard output.
inline CommandResult run(const std::string& command) {
    CommandResult result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
    result.status = ::pclose(pipe);
    return result;
}

inline std::string md5(const void* data, std::size_t size) {
    gchar* text = g_compute_checksum_for_data(G_CHECKSUM_MD5, static_cast<const guchar*>(data), size);
    std::string out(text);
    g_free(text);
    return out;
}

}  // namespace aviwrite
