#include "netpbm.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace mmtool {

namespace {

bool product(std::uint64_t a, std::uint64_t b, std::uint64_t& out) { return !__builtin_mul_overflow(a, b, &out); }

}  // namespace

unsigned imageSampleBytes(multimedia::common::avbuffer::VideoDataType type) {
    using namespace multimedia::common::avbuffer;
    switch (type) {
        case VIDEO_UINT8: return 1;
        case VIDEO_UINT16: return 2;
        default: return 0;
    }
}

const char* netpbmExtension(const FrameSamples& frame) { return frame.channels == 1 ? "pgm" : "ppm"; }

bool encodeNetpbm(const FrameSamples& frame, std::string& image, std::string& why) {
    const std::uint64_t w = frame.width, h = frame.height, c = frame.channels, sb = frame.sampleBytes;
    if (c != 1 && c != 3) {
        why = std::to_string(c) + " channels have no Netpbm form";
        return false;
    }
    if (sb != 1 && sb != 2) {
        why = "samples of " + std::to_string(sb) + " bytes have no Netpbm form";
        return false;
    }
    std::uint64_t plane = 0, samples = 0, bytes = 0;
    if (w == 0 || h == 0 || !product(w, h, plane) || !product(plane, c, samples) || !product(samples, sb, bytes)) {
        why = "a frame of " + std::to_string(w) + "x" + std::to_string(h) + " has no image";
        return false;
    }
    if (frame.data == nullptr || bytes > frame.bytes) {
        why = "the frame holds " + std::to_string(frame.bytes) + " bytes, its size needs " + std::to_string(bytes);
        return false;
    }
    image = (c == 1 ? "P5\n" : "P6\n") + std::to_string(w) + " " + std::to_string(h) + "\n" +
            (sb == 1 ? "255\n" : "65535\n");
    const std::size_t header = image.size();
    image.resize(header + bytes);
    char* out = &image[header];
    for (std::uint64_t y = 0; y < h; ++y) {
        for (std::uint64_t x = 0; x < w; ++x) {
            for (std::uint64_t k = 0; k < c; ++k) {
                const std::uint64_t at = frame.rowMajorInterleaved ? (y * w + x) * c + k : k * plane + x * h + y;
                if (sb == 1) {
                    *out++ = static_cast<char>(frame.data[at]);
                } else {
                    std::uint16_t v;
                    std::memcpy(&v, frame.data + 2 * at, 2);
                    *out++ = static_cast<char>(v >> 8);
                    *out++ = static_cast<char>(v & 0xFF);
                }
            }
        }
    }
    return true;
}

bool writeNetpbm(const std::string& path, const FrameSamples& frame, std::string& why) {
    std::string image;
    if (!encodeNetpbm(frame, image, why)) return false;
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        why = std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(image.data(), 1, image.size(), out) == image.size();
    const int writeErrno = errno;
    if (std::fclose(out) != 0 || !written) {
        why = std::strerror(written ? errno : writeErrno);
        return false;
    }
    return true;
}

}  // namespace mmtool
