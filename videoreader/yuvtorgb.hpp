#pragma once
// Planar 8-bit Y'CbCr to packed RGB24, done by the reader itself on the
// caller's thread while GStreamer's streaming thread decodes the next
// picture. A pipeline element converting every picture costs more than the
// decoding for most codecs, and it converts pictures a seek then throws away.
//
// Each chroma sample stands for the pixels it covers (no interpolation
// between samples), as FFmpeg's default conversion does. The arithmetic is
// 16-bit fixed point: Y', Cb and Cr scaled by 2^7, coefficients by 2^13, a
// rounding multiply-high to 2^5, sums rounded to whole values and clamped.
// The SIMD and the plain path compute exactly the same values; each result
// lies within 1 of the real-valued conversion.

#include <cstddef>
#include <cstdint>

namespace qsVideoReader {

// Coefficients of one matrix and range, in units of 2^-13.
struct YuvToRgbMatrix {
    std::int16_t yOffset = 16;  // the black level Y' is taken from
    std::int16_t y = 0;         // Y' to R, G and B
    std::int16_t rv = 0;        // Cr to R
    std::int16_t gu = 0;        // Cb to G (subtracted)
    std::int16_t gv = 0;        // Cr to G (subtracted)
    std::int16_t bu = 0;        // Cb to B
};

// The matrix of the luma weights kr and kb (0.299 and 0.114 for BT.601,
// 0.2126 and 0.0722 for BT.709), for limited range (Y' 16-235, chroma
// 16-240) or full range (0-255).
YuvToRgbMatrix yuvToRgbMatrix(double kr, double kb, bool fullRange);

// Three planes of one picture; chroma sample (x >> shiftX, y >> shiftY)
// covers pixel (x, y).
struct YuvPlanes {
    const std::uint8_t* y = nullptr;
    const std::uint8_t* u = nullptr;
    const std::uint8_t* v = nullptr;
    std::size_t yStride = 0;
    std::size_t uStride = 0;
    std::size_t vStride = 0;
    unsigned shiftX = 1;
    unsigned shiftY = 1;
};

// Converts width x height pixels into rows of width * 3 bytes, `outStride`
// bytes apart.
void yuvToRgb24(const YuvPlanes& planes, const YuvToRgbMatrix& matrix, std::size_t width,
                std::size_t height, std::uint8_t* out, std::size_t outStride);

}  // namespace qsVideoReader
