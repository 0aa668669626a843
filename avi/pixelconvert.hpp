#pragma once
// In-place conversions of stored uncompressed frames to 24-bit rows (blue,
// green, red), with run-time chosen SIMD paths. Every path writes exactly the
// bytes of the scalar one: the 3 x width bytes of each output row, never its
// pad bytes.
//
// Layout: row r of the stored frame starts at r x inStride, row r of the
// output at r x outStride, in the same buffer. Growing conversions (palette,
// 16 bits) walk from the last pixel to the first, the shrinking one (32 bits)
// from the first to the last, so no output byte lands on a stored byte still
// to be read.

#include <cstddef>
#include <cstdint>

namespace avi {
namespace detail {

// Avx512Vbmi: palette frames with byte permutes; the other conversions take
// the AVX2 path there.
enum class PixelIsa { Scalar, Ssse3, Avx2, Avx512Vbmi };

// The best path this processor runs (chosen once; the plain one when
// MM_FORCE_PLAIN_CPU asks for it), and whether it runs a given one.
PixelIsa bestPixelIsa();
bool pixelIsaSupported(PixelIsa isa);

// Palette frames of 2, 4 or 8 bits per pixel (the leftmost pixel of a byte in
// its high bits); lut holds 256 entries of 0x00RRGGBB.
void paletteToRgb24(std::uint8_t* frame, std::size_t width, std::size_t height, unsigned bits,
                    std::size_t inStride, std::size_t outStride, const std::uint32_t* lut, PixelIsa isa);
// 16-bit 5-5-5 frames.
void rgb555ToRgb24(std::uint8_t* frame, std::size_t width, std::size_t height, std::size_t inStride,
                   std::size_t outStride, PixelIsa isa);
// 16-bit 5-6-5 frames (bit-field RGB).
void rgb565ToRgb24(std::uint8_t* frame, std::size_t width, std::size_t height, std::size_t inStride,
                   std::size_t outStride, PixelIsa isa);
// 32-bit frames (rows of 4 x width bytes); only the first `stored` bytes of
// the frame hold pixels, and only those are converted.
void rgb32ToRgb24(std::uint8_t* frame, std::size_t width, std::size_t height, std::size_t outStride,
                  std::size_t stored, PixelIsa isa);

}  // namespace detail
}  // namespace avi
