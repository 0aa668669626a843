#pragma once
// The row layout of an uncompressed AVI frame, for the AVI library and every
// reader that walks such frames itself.

#include <cstdint>

namespace avi {

// Bytes of one stored row of an uncompressed frame: width x bits per pixel,
// padded to a multiple of 4 bytes.
constexpr std::uint64_t bitmapRowBytes(std::uint64_t width, unsigned bitsPerPixel) {
    return (width * bitsPerPixel + 31) / 32 * 4;
}

}  // namespace avi
