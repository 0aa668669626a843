#pragma once
// Helpers shared by the writer tests (scratch files and commands come from
// tests/support): little-endian views of a written file, deterministic frame contents, a one-call writer for a whole
// file, and running the peer tools.

#include <avi/avifile.hpp>
#include <avi/bitmaprows.hpp>
#include <support/files.hpp>

#include <glib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace aviwrite {

using testsupport::scratchDir;
inline std::string scratchFile(const std::string& name) { return testsupport::scratchPath(name); }

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

inline Bytes readAll(const std::string& path) { return Bytes{testsupport::readBytes(path)}; }

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
    return static_cast<unsigned>(avi::bitmapRowBytes(width, bits));
}

// beforeClose sees the writer with every chunk written, just before close.
inline Written writeFile(const std::string& path, const Recipe& r,
                         const std::function<void(avi::File&)>& beforeClose = {}) {
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
    if (beforeClose) beforeClose(file);
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
    result.out = testsupport::run(command, &result.status);
    return result;
}

inline std::string md5(const void* data, std::size_t size) {
    gchar* text = g_compute_checksum_for_data(G_CHECKSUM_MD5, static_cast<const guchar*>(data), size);
    std::string out(text);
    g_free(text);
    return out;
}

// ---- every kind of file the writer makes, and the peers' view of them ----

struct Kind {
    std::string name;
    Recipe recipe;
};

// Test names and failure messages show the kind's name, not its bytes.
[[maybe_unused]] inline void PrintTo(const Kind& kind, std::ostream* os) {
    *os << kind.name;
}

inline Recipe video(unsigned width, unsigned height, unsigned bits, unsigned frames) {
    Recipe r;
    r.width = width;
    r.height = height;
    r.bitsPerPixel = bits;
    r.frames = frames;
    if (bits == 16 || bits == 32) r.frameBytes = height * rowBytes(width, bits);
    return r;
}

inline std::vector<Kind> everyKind() {
    std::vector<Kind> kinds;
    kinds.push_back({"rgb24-odd", video(33, 17, 24, 6)});
    kinds.push_back({"rgb24-even", video(32, 16, 24, 5)});
    Recipe pal = video(31, 9, 8, 4);
    pal.colormap = aviwrite::greyPalette(256);
    kinds.push_back({"pal8", pal});
    kinds.push_back({"rgb16", video(11, 6, 16, 4)});
    kinds.push_back({"rgb32", video(10, 6, 32, 4)});
    Recipe yuy2 = video(16, 8, 16, 3);
    yuy2.fourCC = "YUY2";
    yuy2.frameBytes = 16 * 8 * 2;
    kinds.push_back({"fourcc-yuy2", yuy2});
    Recipe audioOnly;
    audioOnly.audio = true;
    audioOnly.audioChunks = 5;
    kinds.push_back({"audio-only", audioOnly});
    Recipe both = video(20, 10, 24, 5);
    both.audio = true;
    both.audioFirst = true;
    both.audioChunks = 5;
    both.frameRate = 10.0;
    kinds.push_back({"audio-first-video", both});
    Recipe odd = video(12, 4, 24, 4);
    odd.audio = true;
    odd.bitsPerSample = 8;
    odd.channels = 1;
    odd.bytesPerChunk = 4411;
    odd.audioChunks = 4;
    kinds.push_back({"odd-audio-chunks", odd});
    return kinds;
}

using Fields = std::map<std::string, std::string>;



// One map of key=value per stream, in stream order.
inline std::vector<Fields> probe(const std::string& path) {
    const auto result = run("ffprobe -v error -count_frames -show_entries "
                            "stream=index,codec_type,width,height,r_frame_rate,nb_read_frames,sample_rate,channels "
                            "-of compact=p=0 '" + path + "'");
    std::vector<Fields> streams;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        Fields fields;
        std::istringstream parts(line);
        for (std::string part; std::getline(parts, part, '|');) {
            const auto eq = part.find('=');
            if (eq != std::string::npos) fields[part.substr(0, eq)] = part.substr(eq + 1);
        }
        if (!fields.empty()) streams.push_back(fields);
    }
    return streams;
}

// Per stream, the md5 of every packet in order.
inline std::map<int, std::vector<std::string>> frameHashes(const std::string& path, const std::string& options) {
    const auto result = run("ffmpeg -v error -nostdin -i '" + path + "' " + options + " -f framemd5 - 2>/dev/null");
    std::map<int, std::vector<std::string>> hashes;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> cols;
        std::istringstream parts(line);
        for (std::string c; std::getline(parts, c, ',');) cols.push_back(c.substr(c.find_first_not_of(' ')));
        // Packets with side data (a palette) carry further columns after the hash.
        if (cols.size() >= 6) hashes[std::stoi(cols[0])].push_back(cols[5]);
    }
    return hashes;
}

struct Flow {
    int buffers = 0;
    std::uint64_t bytes = 0;
};

// Buffers (and their bytes) that pass a converter after avidemux, for one pad.
inline Flow gstFlow(const std::string& path, const std::string& pad, const std::string& convert) {
    const std::string chain = convert.empty() ? std::string() : " ! " + convert;
    // A demuxer that hangs on a file fails the test instead of blocking it.
    const auto result = run("timeout 120 gst-launch-1.0 -v filesrc location='" + path + "' ! avidemux name=d d." + pad +
                            " ! queue" + chain + " ! identity silent=false ! fakesink 2>/dev/null");
    Flow flow;
    std::istringstream lines(result.out);
    const std::string mark = "identity0: last-message = chain";
    for (std::string line; std::getline(lines, line);) {
        if (line.find(mark) == std::string::npos) continue;
        ++flow.buffers;
        const auto open = line.find(") (");
        if (open != std::string::npos) flow.bytes += std::stoull(line.substr(open + 3));
    }
    return flow;
}

}  // namespace aviwrite
