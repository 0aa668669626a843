#include "samplecount.hpp"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

namespace mmpython {

namespace {

// A byte range and a position in it; reads beyond the end fail.
struct Cursor {
    const unsigned char* data;
    std::uint64_t size;
    std::uint64_t at = 0;

    bool u32(std::uint32_t& value) {
        if (size - at < 4) return false;
        value = (std::uint32_t(data[at]) << 24) | (data[at + 1] << 16) | (data[at + 2] << 8) | data[at + 3];
        at += 4;
        return true;
    }
};

struct Box {
    std::string type;
    Cursor payload;
};

// The next box inside `in`, moving past it; false at the end or on a header
// that claims more than is left.
bool nextBox(Cursor& in, Box& box) {
    std::uint32_t size32 = 0, type = 0;
    const std::uint64_t start = in.at;
    if (!in.u32(size32) || !in.u32(type)) return false;
    std::uint64_t size = size32;
    if (size32 == 1) {
        std::uint32_t high = 0, low = 0;
        if (!in.u32(high) || !in.u32(low)) return false;
        size = (std::uint64_t(high) << 32) | low;
    } else if (size32 == 0) {
        size = in.size - start;
    }
    const std::uint64_t header = in.at - start;
    if (size < header || size > in.size - start) return false;
    const char name[4] = {char(type >> 24), char(type >> 16), char(type >> 8), char(type)};
    box.type.assign(name, 4);
    box.payload = Cursor{in.data + in.at, size - header};
    in.at = start + size;
    return true;
}

bool child(Cursor in, const char* type, Box& found) {
    Box box;
    while (nextBox(in, box)) {
        if (box.type == type) {
            found = box;
            return true;
        }
    }
    return false;
}

bool isVideoTrack(const Box& mdia) {
    Box hdlr;
    std::uint32_t versionFlags = 0, predefined = 0, handler = 0;
    return child(mdia.payload, "hdlr", hdlr) && hdlr.payload.u32(versionFlags) && hdlr.payload.u32(predefined) &&
           hdlr.payload.u32(handler) && handler == 0x76696465u;  // "vide"
}

}  // namespace

std::optional<long> isoVideoSampleCount(const std::string& path) {
    constexpr std::uint64_t kMaxMovieBox = 64u << 20;
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    // Walk the top-level boxes by their headers to the movie box.
    std::vector<unsigned char> movie;
    for (int boxes = 0; boxes < 65536 && file; ++boxes) {
        unsigned char header[16];
        const auto start = static_cast<std::uint64_t>(file.tellg());
        if (!file.read(reinterpret_cast<char*>(header), 8)) return std::nullopt;
        std::uint64_t size = (std::uint32_t(header[0]) << 24) | (header[1] << 16) | (header[2] << 8) | header[3];
        std::uint64_t headerBytes = 8;
        if (size == 1) {
            if (!file.read(reinterpret_cast<char*>(header + 8), 8)) return std::nullopt;
            size = 0;
            for (int i = 8; i < 16; ++i) size = (size << 8) | header[i];
            headerBytes = 16;
        }
        if (size == 0 || size < headerBytes) return std::nullopt;
        if (std::memcmp(header + 4, "moov", 4) == 0) {
            if (size - headerBytes > kMaxMovieBox) return std::nullopt;
            movie.resize(size - headerBytes);
            if (!file.read(reinterpret_cast<char*>(movie.data()), static_cast<std::streamsize>(movie.size()))) {
                return std::nullopt;
            }
            break;
        }
        file.seekg(static_cast<std::streamoff>(start + size));
    }
    if (movie.empty()) return std::nullopt;
    Cursor moov{movie.data(), movie.size()};
    Box trak;
    while (nextBox(moov, trak)) {
        Box mdia, minf, stbl, stsz;
        if (trak.type != "trak" || !child(trak.payload, "mdia", mdia) || !isVideoTrack(mdia)) continue;
        if (!child(mdia.payload, "minf", minf) || !child(minf.payload, "stbl", stbl) ||
            !child(stbl.payload, "stsz", stsz)) {
            return std::nullopt;
        }
        std::uint32_t versionFlags = 0, sampleSize = 0, count = 0;
        if (!stsz.payload.u32(versionFlags) || !stsz.payload.u32(sampleSize) || !stsz.payload.u32(count)) {
            return std::nullopt;
        }
        return static_cast<long>(count);
    }
    return std::nullopt;
}

}  // namespace mmpython
