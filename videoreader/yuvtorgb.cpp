#include <videoreader/yuvtorgb.hpp>

#include <common/cpu/cpufeatures.hpp>

#include <immintrin.h>

#include <algorithm>
#include <cmath>

namespace qsVideoReader {

namespace {

std::int16_t q13(double value) {
    return static_cast<std::int16_t>(std::lround(value * 8192.0));
}

// The rounding multiply-high of the SIMD path, (a * c + 2^14) >> 15.
inline int mulhrs(int a, int c) {
    return (a * c + 0x4000) >> 15;
}

inline std::uint8_t toByte(int q5) {
    return static_cast<std::uint8_t>(std::clamp((q5 + 16) >> 5, 0, 255));
}

// Pixels [x, width) of one row, the plain way.
void rowPlain(const std::uint8_t* yRow, const std::uint8_t* uRow, const std::uint8_t* vRow, unsigned shiftX,
              const YuvToRgbMatrix& m, std::size_t x, std::size_t width, std::uint8_t* out) {
    for (; x < width; ++x) {
        const int y5 = mulhrs((yRow[x] - m.yOffset) * 128, m.y);
        const int u = (uRow[x >> shiftX] - 128) * 128;
        const int v = (vRow[x >> shiftX] - 128) * 128;
        out[3 * x] = toByte(y5 + mulhrs(v, m.rv));
        out[3 * x + 1] = toByte(y5 - mulhrs(u, m.gu) - mulhrs(v, m.gv));
        out[3 * x + 2] = toByte(y5 + mulhrs(u, m.bu));
    }
}

// Byte j of 16 packed RGB pixels' output vector k takes channel j % 3 of
// pixel (16 k + j) / 3: the shuffle picking that byte out of the channel's
// 16 values, or nothing (0x80).
struct Interleave {
    alignas(16) std::uint8_t mask[3][3][16];  // [output vector][channel][byte]
    constexpr Interleave() : mask() {
        for (int k = 0; k < 3; ++k) {
            for (int c = 0; c < 3; ++c) {
                for (int j = 0; j < 16; ++j) {
                    const int at = 16 * k + j;
                    mask[k][c][j] = static_cast<std::uint8_t>(at % 3 == c ? at / 3 : 0x80);
                }
            }
        }
    }
};
constexpr Interleave interleave;

#define MM_AVX2 __attribute__((target("avx2")))

MM_AVX2 inline __m128i channelBytes(__m256i q5) {
    const __m256i whole = _mm256_srai_epi16(_mm256_adds_epi16(q5, _mm256_set1_epi16(16)), 5);
    return _mm_packus_epi16(_mm256_castsi256_si128(whole), _mm256_extracti128_si256(whole, 1));
}

MM_AVX2 inline __m256i chroma16(const std::uint8_t* row, std::size_t x, unsigned shiftX) {
    if (shiftX == 0) {
        return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x)));
    }
    // 8 samples, each standing for two pixels.
    const __m128i eight = _mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + x / 2)));
    return _mm256_set_m128i(_mm_unpackhi_epi16(eight, eight), _mm_unpacklo_epi16(eight, eight));
}

// 16 pixels at a time while 16 are left; the plain loop does the rest.
MM_AVX2 void rowAvx2(const std::uint8_t* yRow, const std::uint8_t* uRow, const std::uint8_t* vRow, unsigned shiftX,
                     const YuvToRgbMatrix& m, std::size_t width, std::uint8_t* out) {
    const __m256i yOffset = _mm256_set1_epi16(m.yOffset);
    const __m256i half = _mm256_set1_epi16(128);
    const __m256i cy = _mm256_set1_epi16(m.y);
    const __m256i rv = _mm256_set1_epi16(m.rv);
    const __m256i gu = _mm256_set1_epi16(m.gu);
    const __m256i gv = _mm256_set1_epi16(m.gv);
    const __m256i bu = _mm256_set1_epi16(m.bu);
    __m128i masks[3][3];
    for (int k = 0; k < 3; ++k) {
        for (int c = 0; c < 3; ++c) {
            masks[k][c] = _mm_load_si128(reinterpret_cast<const __m128i*>(interleave.mask[k][c]));
        }
    }
    std::size_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m256i luma = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(yRow + x)));
        const __m256i y5 = _mm256_mulhrs_epi16(_mm256_slli_epi16(_mm256_sub_epi16(luma, yOffset), 7), cy);
        const __m256i u = _mm256_slli_epi16(_mm256_sub_epi16(chroma16(uRow, x, shiftX), half), 7);
        const __m256i v = _mm256_slli_epi16(_mm256_sub_epi16(chroma16(vRow, x, shiftX), half), 7);
        const __m128i r = channelBytes(_mm256_adds_epi16(y5, _mm256_mulhrs_epi16(v, rv)));
        const __m128i g = channelBytes(
            _mm256_subs_epi16(_mm256_subs_epi16(y5, _mm256_mulhrs_epi16(u, gu)), _mm256_mulhrs_epi16(v, gv)));
        const __m128i b = channelBytes(_mm256_adds_epi16(y5, _mm256_mulhrs_epi16(u, bu)));
        std::uint8_t* at = out + 3 * x;
        for (int k = 0; k < 3; ++k) {
            const __m128i packed = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(r, masks[k][0]),
                                                             _mm_shuffle_epi8(g, masks[k][1])),
                                                _mm_shuffle_epi8(b, masks[k][2]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(at + 16 * k), packed);
        }
    }
    rowPlain(yRow, uRow, vRow, shiftX, m, x, width, out);
}

}  // namespace

YuvToRgbMatrix yuvToRgbMatrix(double kr, double kb, bool fullRange) {
    const double kg = 1.0 - kr - kb;
    const double yScale = fullRange ? 1.0 : 255.0 / 219.0;
    const double cScale = fullRange ? 1.0 : 255.0 / 224.0;
    YuvToRgbMatrix m;
    m.yOffset = fullRange ? 0 : 16;
    m.y = q13(yScale);
    m.rv = q13(2.0 * (1.0 - kr) * cScale);
    m.gu = q13(2.0 * kb * (1.0 - kb) / kg * cScale);
    m.gv = q13(2.0 * kr * (1.0 - kr) / kg * cScale);
    m.bu = q13(2.0 * (1.0 - kb) * cScale);
    return m;
}

void yuvToRgb24(const YuvPlanes& p, const YuvToRgbMatrix& m, std::size_t width, std::size_t height,
                std::uint8_t* out, std::size_t outStride) {
    const mmcpu::CpuFeatures& cpu = mmcpu::cpuFeatures();
    const bool wide = cpu.avx2 && !cpu.forcePlain && p.shiftX <= 1;
    for (std::size_t row = 0; row < height; ++row) {
        const std::uint8_t* yRow = p.y + row * p.yStride;
        const std::uint8_t* uRow = p.u + (row >> p.shiftY) * p.uStride;
        const std::uint8_t* vRow = p.v + (row >> p.shiftY) * p.vStride;
        std::uint8_t* outRow = out + row * outStride;
        if (wide) {
            rowAvx2(yRow, uRow, vRow, p.shiftX, m, width, outRow);
        } else {
            rowPlain(yRow, uRow, vRow, p.shiftX, m, 0, width, outRow);
        }
    }
}

}  // namespace qsVideoReader
