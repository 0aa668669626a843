// Pixel conversions to RGB24: the scalar reference and the SSSE3 and AVX2
// paths, each compiled for its instruction set and chosen at run time.
#include <avi/pixelconvert.hpp>
#include <common/cpu/cpufeatures.hpp>

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace avi {
namespace detail {

namespace {

// A pixel as its three output bytes in the low 24 bits: blue, green, red.
// 5-6-5 pixels (bit-field RGB) keep six bits of green; as with 5-5-5, the
// bits below each component's own are 0.
template <bool k565>
inline std::uint32_t rgb16(unsigned v) {
    if (k565) return ((v & 0x1Fu) << 3) | (((v >> 5) & 0x3Fu) << 10) | (((v >> 11) & 0x1Fu) << 19);
    return ((v & 0x1Fu) << 3) | (((v >> 5) & 0x1Fu) << 11) | (((v >> 10) & 0x1Fu) << 19);
}

inline void put3(std::uint8_t* dst, std::uint32_t bgr) {
    dst[0] = static_cast<std::uint8_t>(bgr);
    dst[1] = static_cast<std::uint8_t>(bgr >> 8);
    dst[2] = static_cast<std::uint8_t>(bgr >> 16);
}

// Four pixels as 12 output bytes, written with two stores.
inline void put12(std::uint8_t* dst, std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    const std::uint64_t lo = static_cast<std::uint64_t>(a & 0xFFFFFFu) |
                             (static_cast<std::uint64_t>(b & 0xFFFFFFu) << 24) |
                             (static_cast<std::uint64_t>(c & 0xFFFFu) << 48);
    const std::uint32_t hi = ((c >> 16) & 0xFFu) | ((d & 0xFFFFFFu) << 8);
    std::memcpy(dst, &lo, 8);
    std::memcpy(dst + 8, &hi, 4);
}

inline std::uint32_t load32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline unsigned load16(const std::uint8_t* p) {
    return p[0] | (p[1] << 8u);
}

// ---- scalar rows ----

inline void store64(std::uint8_t* p, std::uint64_t v) { std::memcpy(p, &v, 8); }

// The pixels [0, x) of an 8-bit row, from the back, eight at a time. The
// eight indexes are taken in one load before any output is written (their
// 24 output bytes start at or after them); the outputs go out front to back
// in pairs, each 8-byte store carrying two pixels and two bytes that the
// next store overwrites. The last pair's store is moved two bytes back (it
// repeats the green and red of the pixel before), so nothing past the eight
// pixels, where later pixels already are, is touched.
void palette8RowScalar(const std::uint8_t* src, std::uint8_t* dst, std::size_t x, const std::uint32_t* lut) {
    for (; x % 8; --x) put3(dst + 3 * (x - 1), lut[src[x - 1]]);
    for (; x >= 8; x -= 8) {
        std::uint64_t idx;
        std::memcpy(&idx, src + x - 8, 8);
        std::uint8_t* d = dst + 3 * (x - 8);
        auto px = [&](int k) -> std::uint64_t { return lut[(idx >> (8 * k)) & 0xFF]; };
        const std::uint64_t p5 = px(5);
        store64(d, px(0) | px(1) << 24);
        store64(d + 6, px(2) | px(3) << 24);
        store64(d + 12, px(4) | p5 << 24);
        store64(d + 16, (p5 >> 8) | (px(6) << 16) | (px(7) << 40));
    }
}

template <bool k565>
void rgb16RowScalar(const std::uint8_t* src, std::uint8_t* dst, std::size_t x) {
    for (; x % 4; --x) put3(dst + 3 * (x - 1), rgb16<k565>(load16(src + 2 * (x - 1))));
    for (; x >= 4; x -= 4) {
        const std::uint8_t* v = src + 2 * (x - 4);
        put12(dst + 3 * (x - 4), rgb16<k565>(load16(v)), rgb16<k565>(load16(v + 2)), rgb16<k565>(load16(v + 4)),
              rgb16<k565>(load16(v + 6)));
    }
}

// Pixels [from, to) of a 32-bit row, front to back: the 12 bytes written
// end before the next four pixels begin.
void rgb32RowScalar(const std::uint8_t* src, std::uint8_t* dst, std::size_t from, std::size_t to) {
    std::size_t x = from;
    for (; x + 4 <= to; x += 4)
        put12(dst + 3 * x, load32(src + 4 * x), load32(src + 4 * x + 4), load32(src + 4 * x + 8),
              load32(src + 4 * x + 12));
    for (; x < to; ++x) put3(dst + 3 * x, load32(src + 4 * x));
}

// ---- shuffle tables ----

// Output bytes [first, first + 16) of eight 16-bit pixels split into a
// blue-green register (two bytes per pixel) and a red one: which byte of the
// source each comes from, -1 (0x80) for none.
struct Shuffle {
    alignas(16) std::int8_t bytes[16];
};

constexpr Shuffle pickFrom555(int first, bool red) {
    Shuffle s{};
    for (int k = 0; k < 16; ++k) {
        const int out = first + k, pixel = out / 3, component = out % 3;
        s.bytes[k] = -1;
        if (out >= 24) continue;
        if (red && component == 2) s.bytes[k] = static_cast<std::int8_t>(2 * pixel);
        if (!red && component < 2) s.bytes[k] = static_cast<std::int8_t>(2 * pixel + component);
    }
    return s;
}

constexpr Shuffle kBgLow = pickFrom555(0, false), kRedLow = pickFrom555(0, true);
constexpr Shuffle kBgHigh = pickFrom555(16, false), kRedHigh = pickFrom555(16, true);
// Four 32-bit pixels to 12 bytes (the last four bytes zero).
constexpr Shuffle kPack32 = {{0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1}};

// ---- SSSE3 rows ----

template <bool k565>
__attribute__((target("ssse3"))) void rgb16RowSsse3(const std::uint8_t* src, std::uint8_t* dst, std::size_t w) {
    std::size_t x = w;
    for (; x % 8; --x) put3(dst + 3 * (x - 1), rgb16<k565>(load16(src + 2 * (x - 1))));
    const __m128i mask = _mm_set1_epi16(0xF8);
    const __m128i greenMask = _mm_set1_epi16(k565 ? 0xFC : 0xF8);
    const __m128i bgLow = _mm_load_si128(reinterpret_cast<const __m128i*>(kBgLow.bytes));
    const __m128i redLow = _mm_load_si128(reinterpret_cast<const __m128i*>(kRedLow.bytes));
    const __m128i bgHigh = _mm_load_si128(reinterpret_cast<const __m128i*>(kBgHigh.bytes));
    const __m128i redHigh = _mm_load_si128(reinterpret_cast<const __m128i*>(kRedHigh.bytes));
    for (; x >= 8; x -= 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * (x - 8)));
        const __m128i b = _mm_and_si128(_mm_slli_epi16(v, 3), mask);
        const __m128i g = _mm_and_si128(_mm_srli_epi16(v, k565 ? 3 : 2), greenMask);
        const __m128i r = _mm_and_si128(_mm_srli_epi16(v, k565 ? 8 : 7), mask);
        const __m128i bg = _mm_or_si128(b, _mm_slli_epi16(g, 8));
        const __m128i lo = _mm_or_si128(_mm_shuffle_epi8(bg, bgLow), _mm_shuffle_epi8(r, redLow));
        const __m128i hi = _mm_or_si128(_mm_shuffle_epi8(bg, bgHigh), _mm_shuffle_epi8(r, redHigh));
        std::uint8_t* d = dst + 3 * (x - 8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), lo);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 16), hi);
    }
}

__attribute__((target("ssse3"))) void rgb32RowSsse3(const std::uint8_t* src, std::uint8_t* dst, std::size_t w) {
    const __m128i pack = _mm_load_si128(reinterpret_cast<const __m128i*>(kPack32.bytes));
    std::size_t x = 0;
    // Each store writes 16 bytes of which 12 are pixels: the 4 beyond belong
    // to the next pixels (written next) and stay inside the row.
    for (; x + 6 <= w; x += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 3 * x), _mm_shuffle_epi8(v, pack));
    }
    rgb32RowScalar(src, dst, x, w);
}

// Four table loads in one register, packed to 12 bytes that sit at the top
// of a 16-byte store: the 4 bytes below belong to pixels written later.
__attribute__((target("ssse3"))) void palette8RowSsse3(const std::uint8_t* src, std::uint8_t* dst, std::size_t w,
                                                       const std::uint32_t* lut) {
    static constexpr Shuffle high = {{-1, -1, -1, -1, 0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14}};
    const __m128i pack = _mm_load_si128(reinterpret_cast<const __m128i*>(high.bytes));
    std::size_t x = w;
    for (; x % 4; --x) put3(dst + 3 * (x - 1), lut[src[x - 1]]);
    // The first block stays whole: its store would reach before the row.
    for (; x >= 8; x -= 4) {
        const std::uint8_t* s = src + x - 4;
        const __m128i ab = _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(lut[s[0]])),
                                              _mm_cvtsi32_si128(static_cast<int>(lut[s[1]])));
        const __m128i cd = _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(lut[s[2]])),
                                              _mm_cvtsi32_si128(static_cast<int>(lut[s[3]])));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 3 * (x - 4) - 4),
                         _mm_shuffle_epi8(_mm_unpacklo_epi64(ab, cd), pack));
    }
    palette8RowScalar(src, dst, x, lut);
}

// ---- AVX2 rows ----

__attribute__((target("avx2"))) inline __m256i table(const Shuffle& s) {
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(s.bytes)));
}

// Gathers are slow on many processors; eight table loads put into one
// register and packed from 32 to 24 bits do better.
__attribute__((target("avx2"))) void palette8RowAvx2(const std::uint8_t* src, std::uint8_t* dst, std::size_t w,
                                                     const std::uint32_t* lut) {
    std::size_t x = w;
    for (; x % 8; --x) put3(dst + 3 * (x - 1), lut[src[x - 1]]);
    const __m256i pack = table(kPack32);
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
    for (; x >= 8; x -= 8) {
        const std::uint8_t* s = src + x - 8;
        // Pairs of pixels joined in general registers, so that only four
        // values cross into the vector register (inserts are the costly part).
        auto pair = [&](int k) {
            return static_cast<long long>(lut[s[k]] | static_cast<std::uint64_t>(lut[s[k + 1]]) << 32);
        };
        __m256i px = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_set_epi64x(pair(2), pair(0))),
                                             _mm_set_epi64x(pair(6), pair(4)), 1);
        px = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(px, pack), join);
        std::uint8_t* d = dst + 3 * (x - 8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm256_castsi256_si128(px));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 16), _mm256_extracti128_si256(px, 1));
    }
}

// ---- AVX-512 VBMI rows ----

// Sixty-four palette indexes go through byte permutes: one 256-entry table
// per component (four registers of 64 entries, two two-register permutes
// and a blend on the index's top bit), then the three component registers
// are interleaved into 192 output bytes with two permutes per register.
struct alignas(64) Perm64 {
    std::uint8_t bytes[64];
};

// Output register `part` (bytes 64 part .. 64 part + 63 of 64 pixels): byte j
// is component j % 3 (blue, green, red) of pixel j / 3. From blue and green
// (the second register's entries from 64 on), and the red bytes' mask.
constexpr Perm64 interleaveBlueGreen(int part) {
    Perm64 p{};
    for (int i = 0; i < 64; ++i) {
        const int j = 64 * part + i, component = j % 3;
        p.bytes[i] = static_cast<std::uint8_t>(component == 2 ? 0 : j / 3 + 64 * component);
    }
    return p;
}
constexpr Perm64 interleaveRed(int part) {
    Perm64 p{};
    for (int i = 0; i < 64; ++i) {
        const int j = 64 * part + i;
        p.bytes[i] = static_cast<std::uint8_t>(j % 3 == 2 ? j / 3 : 0);
    }
    return p;
}
constexpr std::uint64_t redBytes(int part) {
    std::uint64_t mask = 0;
    for (int i = 0; i < 64; ++i)
        if ((64 * part + i) % 3 == 2) mask |= std::uint64_t(1) << i;
    return mask;
}
constexpr Perm64 kBlueGreen[3] = {interleaveBlueGreen(0), interleaveBlueGreen(1), interleaveBlueGreen(2)};
constexpr Perm64 kRed[3] = {interleaveRed(0), interleaveRed(1), interleaveRed(2)};
constexpr std::uint64_t kRedBytes[3] = {redBytes(0), redBytes(1), redBytes(2)};

// The palette as three tables of 256 bytes: blue, green, red.
struct alignas(64) PalettePlanes {
    std::uint8_t component[3][256];
};

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void palette8RowVbmi(const std::uint8_t* src,
                                                                            std::uint8_t* dst, std::size_t w,
                                                                            const std::uint32_t* lut,
                                                                            const PalettePlanes& planes) {
    // The pixels past the last whole block of 64 first (the row goes back
    // to front), on the AVX2 path.
    const std::size_t whole = w / 64 * 64;
    if (whole < w) palette8RowAvx2(src + whole, dst + 3 * whole, w - whole, lut);
    __m512i table[3][4];
    for (int c = 0; c < 3; ++c)
        for (int q = 0; q < 4; ++q) table[c][q] = _mm512_load_si512(planes.component[c] + 64 * q);
    __m512i blueGreen[3], red[3];
    for (int part = 0; part < 3; ++part) {
        blueGreen[part] = _mm512_load_si512(kBlueGreen[part].bytes);
        red[part] = _mm512_load_si512(kRed[part].bytes);
    }
    for (std::size_t x = whole; x >= 64; x -= 64) {
        // All 64 indexes are in a register before any of their 192 output
        // bytes (which start at or after them) is stored.
        const __m512i idx = _mm512_loadu_si512(src + x - 64);
        const __mmask64 high = _mm512_movepi8_mask(idx);
        __m512i comp[3];
        for (int c = 0; c < 3; ++c)
            comp[c] = _mm512_mask_blend_epi8(high, _mm512_permutex2var_epi8(table[c][0], idx, table[c][1]),
                                             _mm512_permutex2var_epi8(table[c][2], idx, table[c][3]));
        std::uint8_t* d = dst + 3 * (x - 64);
        for (int part = 0; part < 3; ++part) {
            __m512i out = _mm512_permutex2var_epi8(comp[0], blueGreen[part], comp[1]);
            out = _mm512_mask_permutexvar_epi8(out, kRedBytes[part], red[part], comp[2]);
            _mm512_storeu_si512(d + 64 * part, out);
        }
    }
}

template <bool k565>
__attribute__((target("avx2"))) void rgb16RowAvx2(const std::uint8_t* src, std::uint8_t* dst, std::size_t w) {
    std::size_t x = w;
    for (; x % 16; --x) put3(dst + 3 * (x - 1), rgb16<k565>(load16(src + 2 * (x - 1))));
    const __m256i mask = _mm256_set1_epi16(0xF8);
    const __m256i greenMask = _mm256_set1_epi16(k565 ? 0xFC : 0xF8);
    const __m256i bgLow = table(kBgLow), redLow = table(kRedLow), bgHigh = table(kBgHigh), redHigh = table(kRedHigh);
    for (; x >= 16; x -= 16) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 2 * (x - 16)));
        const __m256i b = _mm256_and_si256(_mm256_slli_epi16(v, 3), mask);
        const __m256i g = _mm256_and_si256(_mm256_srli_epi16(v, k565 ? 3 : 2), greenMask);
        const __m256i r = _mm256_and_si256(_mm256_srli_epi16(v, k565 ? 8 : 7), mask);
        const __m256i bg = _mm256_or_si256(b, _mm256_slli_epi16(g, 8));
        const __m256i lo = _mm256_or_si256(_mm256_shuffle_epi8(bg, bgLow), _mm256_shuffle_epi8(r, redLow));
        const __m256i hi = _mm256_or_si256(_mm256_shuffle_epi8(bg, bgHigh), _mm256_shuffle_epi8(r, redHigh));
        std::uint8_t* d = dst + 3 * (x - 16);
        // Each 128-bit lane holds eight pixels: 24 output bytes apiece.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm256_castsi256_si128(lo));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 16), _mm256_castsi256_si128(hi));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 24), _mm256_extracti128_si256(lo, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 40), _mm256_extracti128_si256(hi, 1));
    }
}

__attribute__((target("avx2"))) void rgb32RowAvx2(const std::uint8_t* src, std::uint8_t* dst, std::size_t w) {
    const __m256i pack = table(kPack32);
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
    std::size_t x = 0;
    // 32 bytes stored, 24 of them pixels; the rest is overwritten next.
    for (; x + 11 <= w; x += 8) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * x));
        const __m256i px = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(v, pack), join);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 3 * x), px);
    }
    rgb32RowScalar(src, dst, x, w);
}

}  // namespace

bool pixelIsaSupported(PixelIsa isa) {
    const mmcpu::CpuFeatures& cpu = mmcpu::cpuFeatures();
    switch (isa) {
    case PixelIsa::Avx512Vbmi: return cpu.avx512vbmi;
    case PixelIsa::Scalar: return true;
    case PixelIsa::Ssse3: return cpu.ssse3;
    case PixelIsa::Avx2: return cpu.avx2;
    }
    return false;
}

PixelIsa bestPixelIsa() {
    static const PixelIsa best = [] {
        if (mmcpu::cpuFeatures().forcePlain) return PixelIsa::Scalar;
        if (pixelIsaSupported(PixelIsa::Avx512Vbmi)) return PixelIsa::Avx512Vbmi;
        if (pixelIsaSupported(PixelIsa::Avx2)) return PixelIsa::Avx2;
        if (pixelIsaSupported(PixelIsa::Ssse3)) return PixelIsa::Ssse3;
        return PixelIsa::Scalar;
    }();
    return best;
}

void paletteToRgb24(std::uint8_t* frame, std::size_t width, std::size_t height, unsigned bits,
                    std::size_t inStride, std::size_t outStride, const std::uint32_t* lut, PixelIsa isa) {
    const unsigned perByte = 8 / bits;
    const unsigned mask = (1u << bits) - 1u;
    PalettePlanes planes;
    if (bits == 8 && isa == PixelIsa::Avx512Vbmi) {
        for (int i = 0; i < 256; ++i)
            for (int c = 0; c < 3; ++c) planes.component[c][i] = static_cast<std::uint8_t>(lut[i] >> (8 * c));
    }
    for (std::size_t r = height; r-- > 0;) {
        const std::uint8_t* src = frame + r * inStride;
        std::uint8_t* dst = frame + r * outStride;
        if (bits != 8) {
            for (std::size_t x = width; x-- > 0;) {
                const unsigned shift = 8 - bits - static_cast<unsigned>(x % perByte) * bits;
                put3(dst + 3 * x, lut[(src[x / perByte] >> shift) & mask]);  // leftmost pixel in the high bits
            }
        } else if (isa == PixelIsa::Avx512Vbmi) {
            palette8RowVbmi(src, dst, width, lut, planes);
        } else if (isa == PixelIsa::Avx2) {
            palette8RowAvx2(src, dst, width, lut);
        } else if (isa == PixelIsa::Ssse3) {
            palette8RowSsse3(src, dst, width, lut);
        } else {
            palette8RowScalar(src, dst, width, lut);
        }
    }
}

namespace {

template <bool k565>
void rgb16ToRgb24(std::uint8_t* frame, std::size_t width, std::size_t height, std::size_t inStride,
                  std::size_t outStride, PixelIsa isa) {
    for (std::size_t r = height; r-- > 0;) {
        const std::uint8_t* src = frame + r * inStride;
        std::uint8_t* dst = frame + r * outStride;
        switch (isa) {
        case PixelIsa::Avx512Vbmi:
        case PixelIsa::Avx2: rgb16RowAvx2<k565>(src, dst, width); break;
        case PixelIsa::Ssse3: rgb16RowSsse3<k565>(src, dst, width); break;
        case PixelIsa::Scalar: rgb16RowScalar<k565>(src, dst, width); break;
        }
    }
}

}  // namespace

void rgb555ToRgb24(std::uint8_t* frame, std::size_t width, std::size_t height, std::size_t inStride,
                   std::size_t outStride, PixelIsa isa) {
    rgb16ToRgb24<false>(frame, width, height, inStride, outStride, isa);
}

void rgb565ToRgb24(std::uint8_t* frame, std::size_t width, std::size_t height, std::size_t inStride,
                   std::size_t outStride, PixelIsa isa) {
    rgb16ToRgb24<true>(frame, width, height, inStride, outStride, isa);
}

void rgb32ToRgb24(std::uint8_t* frame, std::size_t width, std::size_t height, std::size_t outStride,
                  std::size_t stored, PixelIsa isa) {
    for (std::size_t r = 0; r < height; ++r) {
        const std::size_t rowStart = r * 4 * width;
        if (rowStart >= stored) break;
        const std::size_t pixels = std::min(width, (stored - rowStart) / 4);
        const std::uint8_t* src = frame + rowStart;
        std::uint8_t* dst = frame + r * outStride;
        switch (isa) {
        case PixelIsa::Avx512Vbmi:
        case PixelIsa::Avx2: rgb32RowAvx2(src, dst, pixels); break;
        case PixelIsa::Ssse3: rgb32RowSsse3(src, dst, pixels); break;
        case PixelIsa::Scalar: rgb32RowScalar(src, dst, 0, pixels); break;
        }
    }
}

}  // namespace detail
}  // namespace avi
