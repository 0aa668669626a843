#pragma once
// Delivered frames as Netpbm images: one channel as P5 (grey), three as P6
// (RGB); 8-bit samples with maxval 255, 16-bit samples with maxval 65535 and
// each sample big-endian, as Netpbm defines them.

#include <common/avbuffer/datatypes.hpp>

#include <cstdint>
#include <string>

namespace mmtool {

// One frame's samples as the device laid them out.
struct FrameSamples {
    const unsigned char* data = nullptr;
    std::uint64_t bytes = 0;  // size of the block at `data`; no sample is read beyond it
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    std::uint64_t channels = 0;
    unsigned sampleBytes = 1;  // 1 or 2; 2-byte samples in the machine's byte order
    // Row-major interleaved; otherwise the default layout, planar and
    // column-major: sample (y, x, c) at c*H*W + x*H + y.
    bool rowMajorInterleaved = true;
};

// The sample width of the types an image is written from: 1 for 8-bit, 2 for
// 16-bit unsigned samples, 0 for every other type.
unsigned imageSampleBytes(multimedia::common::avbuffer::VideoDataType type);

// "pgm" for one channel, "ppm" otherwise.
const char* netpbmExtension(const FrameSamples& frame);

// The whole image file. False, with `why`, when the frame has no Netpbm form
// (not 1 or 3 channels, no pixels, a sample width other than 1 or 2) or its
// block is smaller than its dimensions say.
bool encodeNetpbm(const FrameSamples& frame, std::string& image, std::string& why);

// encodeNetpbm, written to `path`.
bool writeNetpbm(const std::string& path, const FrameSamples& frame, std::string& why);

}  // namespace mmtool
