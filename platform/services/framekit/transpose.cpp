// The default-layout copy: packed rows of interleaved samples become one
// column-major plane per channel. A naive loop either reads or writes with a
// stride of a whole row or column and misses the cache on nearly every
// sample. The fast paths move tiles of 16 pixels through vector registers:
// 16 rows (SSE2) or 32 rows (AVX2) of 16 x C bytes become, after an
// in-register transpose, 16 x C runs of 16 or 32 rows of one column of one
// plane. Tiles are walked in bands of 64 rows, so every destination column
// receives one whole cache line's worth of rows before the walk moves on,
// inside strips of 256 pixels, so the source lines a band reads stay in L2.
// Frames too large for the cache of one core take the streaming path: the
// tiles of a strip of 16 columns land in a small cached block, which then
// goes to the planes with non-temporal stores that do not evict the source.

#include <common/cpu/cpufeatures.hpp>
#include <platform/services/framekit/copypaths.hpp>
#include <platform/services/framekit/framekit.hpp>

#include <immintrin.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace pixcapframekit {
namespace {

constexpr std::size_t TILE = 16;    // pixels of one tile; rows of one SSE2 tile
constexpr std::size_t BAND = 64;    // rows: one cache line of every destination column
constexpr std::size_t STRIP = 256;  // pixels of one strip
// The streaming path keeps one strip of 16 columns of every plane in cache;
// taller frames than this block allows take the cached paths.
constexpr std::size_t STREAM_BLOCK_LIMIT = 512 * 1024;
// Rows and pixels of one cache block of the scalar copy.
constexpr std::size_t BLOCK = 64;

// Where the samples of a band are: `rows` is frame row `firstRow`.
struct Band {
    const std::uint8_t* rows;
    std::size_t rowLength;  // bytes from one row to the next (padding included)
    std::size_t firstRow;
};

// Plain copy of frame rows [y0, y1) x pixels [x0, x1) of a band; the scalar
// path and the edges the tiles do not cover.
template <typename T>
void transposeRect(const T* rows, std::size_t rowLength, std::size_t firstRow, T* const* planes,
                   std::size_t height, std::size_t channels, std::size_t y0, std::size_t y1,
                   std::size_t x0, std::size_t x1) {
    for (std::size_t x = x0; x < x1; ++x) {
        for (std::size_t c = 0; c < channels; ++c) {
            T* out = planes[c] + x * height;
            const T* in = rows + x * channels + c;
            for (std::size_t y = y0; y < y1; ++y) {
                out[y] = in[(y - firstRow) * rowLength];
            }
        }
    }
}

template <typename T>
void transposeScalar(const T* rows, std::size_t rowLength, std::size_t firstRow, T* const* planes,
                     std::size_t width, std::size_t height, std::size_t channels,
                     std::size_t rowCount) {
    const std::size_t end = firstRow + rowCount;
    for (std::size_t y0 = firstRow; y0 < end; y0 += BLOCK) {
        const std::size_t y1 = std::min(end, y0 + BLOCK);
        for (std::size_t x0 = 0; x0 < width; x0 += BLOCK) {
            transposeRect(rows, rowLength, firstRow, planes, height, channels, y0, y1, x0,
                          std::min(width, x0 + BLOCK));
        }
    }
}

// Transposes 16 rows of 16 bytes: afterwards r[j] holds byte j of every
// input row, row 0 first. Four rounds of unpacking, each doubling the width
// of the interleaved groups. Fully unrolled so the arrays live in registers.
// The same body serves SSE2 (one 16 x 16 square) and AVX2, whose unpack
// works on each 128-bit half alone: two squares at once, one per half.
#define FK_TRANSPOSE16(V, P)                                                          \
    V a[16];                                                                          \
    _Pragma("GCC unroll 16") for (int i = 0; i < 8; ++i) {                            \
        a[i] = P##unpacklo_epi8(r[2 * i], r[2 * i + 1]);                              \
        a[i + 8] = P##unpackhi_epi8(r[2 * i], r[2 * i + 1]);                          \
    }                                                                                 \
    V b[16]; /* b[4q + j]: rows 4j..4j+3, bytes 4q..4q+3 */                           \
    _Pragma("GCC unroll 16") for (int j = 0; j < 4; ++j) {                            \
        b[j] = P##unpacklo_epi16(a[2 * j], a[2 * j + 1]);                             \
        b[j + 4] = P##unpackhi_epi16(a[2 * j], a[2 * j + 1]);                         \
        b[j + 8] = P##unpacklo_epi16(a[8 + 2 * j], a[8 + 2 * j + 1]);                 \
        b[j + 12] = P##unpackhi_epi16(a[8 + 2 * j], a[8 + 2 * j + 1]);                \
    }                                                                                 \
    V c[8][2]; /* c[p][h]: rows 8h..8h+7, bytes 2p and 2p+1 */                        \
    _Pragma("GCC unroll 16") for (int q = 0; q < 4; ++q) {                            \
        _Pragma("GCC unroll 2") for (int h = 0; h < 2; ++h) {                         \
            c[2 * q][h] = P##unpacklo_epi32(b[4 * q + 2 * h], b[4 * q + 2 * h + 1]);  \
            c[2 * q + 1][h] = P##unpackhi_epi32(b[4 * q + 2 * h], b[4 * q + 2 * h + 1]); \
        }                                                                             \
    }                                                                                 \
    _Pragma("GCC unroll 16") for (int p = 0; p < 8; ++p) {                            \
        r[2 * p] = P##unpacklo_epi64(c[p][0], c[p][1]);                               \
        r[2 * p + 1] = P##unpackhi_epi64(c[p][0], c[p][1]);                           \
    }

#define FK_AVX2 __attribute__((target("avx2")))

__attribute__((always_inline)) inline void transpose16(__m128i r[16]) { FK_TRANSPOSE16(__m128i, _mm_) }

FK_AVX2 __attribute__((always_inline)) inline void transpose16(__m256i r[16]) {
    FK_TRANSPOSE16(__m256i, _mm256_)
}

// One tile of 16 rows x 16 pixels at frame row y and pixel x. Each row of
// the tile is 16 x C bytes; transposing it as C squares of 16 x 16 bytes
// turns byte j of the rows into one vector, which is the 16 rows of channel
// j % C at pixel j / C: one column segment of one destination plane. The
// channel count is a template argument so the byte-to-plane arithmetic is
// done with constants.
template <std::size_t channels>
__attribute__((always_inline)) inline void tileSse2(const Band& band, std::uint8_t* const* planes,
                                                    std::size_t height, std::size_t y,
                                                    std::size_t x) {
    // Everything the stores need is read into locals first: a byte store may
    // alias any memory, so the compiler would reload fields after each one.
    const std::size_t rowLength = band.rowLength;
    const std::uint8_t* start = band.rows + (y - band.firstRow) * rowLength + x * channels;
    std::uint8_t* out[channels];
    _Pragma("GCC unroll 4") for (std::size_t c = 0; c < channels; ++c) out[c] = planes[c] + x * height + y;
    _Pragma("GCC unroll 4") for (std::size_t square = 0; square < channels; ++square) {
        __m128i r[16];
        const std::uint8_t* row = start + square * TILE;
        _Pragma("GCC unroll 16") for (std::size_t i = 0; i < TILE; ++i, row += rowLength) {
            r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
        }
        transpose16(r);
        // Byte j of the square goes to plane (16 square + j) % C, whose
        // columns come in order: each plane's pointer steps one column.
        _Pragma("GCC unroll 16") for (std::size_t j = 0; j < TILE; ++j) {
            std::uint8_t*& column = out[(square * TILE + j) % channels];
            _mm_storeu_si128(reinterpret_cast<__m128i*>(column), r[j]);
            column += height;
        }
    }
}

// The same for 32 rows: row i of the tile in the lower half of a register,
// row i + 16 in the upper half, so each result is 32 consecutive rows of one
// column, stored at once.
template <std::size_t channels>
FK_AVX2 __attribute__((always_inline)) inline void tileAvx2(const Band& band,
                                                            std::uint8_t* const* planes,
                                                            std::size_t height, std::size_t y,
                                                            std::size_t x) {
    const std::size_t rowLength = band.rowLength;
    const std::uint8_t* start = band.rows + (y - band.firstRow) * rowLength + x * channels;
    const std::size_t half = TILE * rowLength;
    std::uint8_t* out[channels];
    _Pragma("GCC unroll 4") for (std::size_t c = 0; c < channels; ++c) out[c] = planes[c] + x * height + y;
    _Pragma("GCC unroll 4") for (std::size_t square = 0; square < channels; ++square) {
        __m256i r[16];
        const std::uint8_t* row = start + square * TILE;
        _Pragma("GCC unroll 16") for (std::size_t i = 0; i < TILE; ++i, row += rowLength) {
            r[i] = _mm256_inserti128_si256(
                _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row))),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + half)), 1);
        }
        transpose16(r);
        _Pragma("GCC unroll 16") for (std::size_t j = 0; j < TILE; ++j) {
            std::uint8_t*& column = out[(square * TILE + j) % channels];
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(column), r[j]);
            column += height;
        }
    }
}

// Frame rows [y0, y1) x the 16 pixels from x: AVX2 tiles while 32 rows are
// left (in the AVX2 walk), then SSE2 tiles, then the last rows one by one.
// The walk over a band is written twice, once for each instruction set,
// because the AVX2 tiles may only be inlined into code built for AVX2.
#define FK_TILE_WALK(WIDE_TILES)                                                              \
    const std::size_t end = band.firstRow + rowCount;                                         \
    const std::size_t tiled = width - width % TILE;                                           \
    for (std::size_t sx = 0; sx < tiled; sx += STRIP) {                                       \
        const std::size_t sxEnd = std::min(tiled, sx + STRIP);                                \
        for (std::size_t y0 = band.firstRow; y0 < end; y0 += BAND) {                          \
            const std::size_t y1 = std::min(end, y0 + BAND);                                  \
            for (std::size_t x = sx; x < sxEnd; x += TILE) {                                  \
                std::size_t y = y0;                                                           \
                WIDE_TILES                                                                    \
                for (; y + TILE <= y1; y += TILE) tileSse2<channels>(band, planes, height, y, x); \
                if (y < y1) {                                                                 \
                    transposeRect(band.rows, band.rowLength, band.firstRow, planes, height,   \
                                  channels, y, y1, x, x + TILE);                              \
                }                                                                             \
            }                                                                                 \
        }                                                                                     \
    }                                                                                         \
    if (tiled < width) {                                                                      \
        transposeRect(band.rows, band.rowLength, band.firstRow, planes, height, channels,     \
                      band.firstRow, end, tiled, width);                                      \
    }

template <std::size_t channels>
void transposeTiledSse2(const Band& band, std::uint8_t* const* planes, std::size_t width,
                        std::size_t height, std::size_t rowCount) {
    FK_TILE_WALK()
}

template <std::size_t channels>
FK_AVX2 void transposeTiledAvx2(const Band& band, std::uint8_t* const* planes, std::size_t width,
                                std::size_t height, std::size_t rowCount) {
    FK_TILE_WALK(for (; y + 2 * TILE <= y1; y += 2 * TILE) tileAvx2<channels>(band, planes, height, y, x);)
}

// n bytes from a cached block to memory with non-temporal stores; the
// unaligned head and tail go through the cache.
void streamOut(std::uint8_t* dst, const std::uint8_t* src, std::size_t n) {
    const std::size_t head =
        std::min(n, (16 - reinterpret_cast<std::uintptr_t>(dst) % 16) % 16);
    std::memcpy(dst, src, head);
    std::size_t i = head;
    for (; i + 64 <= n; i += 64) {
        const __m128i* s = reinterpret_cast<const __m128i*>(src + i);
        __m128i* d = reinterpret_cast<__m128i*>(dst + i);
        _mm_stream_si128(d, _mm_loadu_si128(s));
        _mm_stream_si128(d + 1, _mm_loadu_si128(s + 1));
        _mm_stream_si128(d + 2, _mm_loadu_si128(s + 2));
        _mm_stream_si128(d + 3, _mm_loadu_si128(s + 3));
    }
    for (; i + 16 <= n; i += 16) {
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)));
    }
    std::memcpy(dst + i, src + i, n - i);
}

bool hasAvx2() { return mmcpu::cpuFeatures().avx2; }

template <std::size_t channels>
void transposeStreaming(const std::uint8_t* src, std::size_t rowLength, std::uint8_t* const* planes,
                        std::size_t width, std::size_t height) {
    const std::size_t columnBlock = TILE * height;  // one plane's part of a strip
    std::vector<std::uint8_t> block(columnBlock * channels);
    std::uint8_t* blockPlanes[channels];
    for (std::size_t c = 0; c < channels; ++c) blockPlanes[c] = block.data() + c * columnBlock;
    const std::size_t tiled = width - width % TILE;
    for (std::size_t x = 0; x < tiled; x += TILE) {
        const Band strip{src + x * channels, rowLength, 0};
        if (hasAvx2()) {
            transposeTiledAvx2<channels>(strip, blockPlanes, TILE, height, height);
        } else {
            transposeTiledSse2<channels>(strip, blockPlanes, TILE, height, height);
        }
        for (std::size_t c = 0; c < channels; ++c) {
            streamOut(planes[c] + x * height, blockPlanes[c], columnBlock);
        }
    }
    _mm_sfence();  // the streamed lines are visible before the caller reads the frame
    if (tiled < width) {
        transposeRect(src, rowLength, 0, planes, height, channels, 0, height, tiled, width);
    }
}

template <std::size_t channels>
void transposeBand8(CopyPath path, const Band& band, std::uint8_t* const* planes,
                    std::size_t width, std::size_t height, std::size_t rowCount) {
    switch (path) {
    case CopyPath::Avx2:
        transposeTiledAvx2<channels>(band, planes, width, height, rowCount);
        break;
    case CopyPath::Sse2:
        transposeTiledSse2<channels>(band, planes, width, height, rowCount);
        break;
    default:
        transposeScalar(band.rows, band.rowLength, band.firstRow, planes, width, height, channels,
                        rowCount);
        break;
    }
}

// The path for a band: streaming only for a whole frame.
CopyPath choose(CopyPath asked, std::size_t width, std::size_t height, std::size_t channels,
                bool wholeFrame) {
    if (asked == CopyPath::Automatic && mmcpu::cpuFeatures().forcePlain) {
        asked = CopyPath::Scalar;
    } else if (asked == CopyPath::Automatic) {
        // Cached stores pay off only when source and destination together
        // stay within half of this core's share of the last-level cache (the
        // rest belongs to the decoder and the caller); otherwise the
        // destination lines are read for ownership only to be written back
        // to memory, which the non-temporal stores skip. Counting the frame
        // once put 1920x1080 (6 MB, 16 MB share) on the cached path, which
        // measured slower than streaming on a loaded 2-core machine.
        const std::size_t frameBytes = width * height * channels;
        const bool large = 2 * frameBytes > lastLevelCachePerCore() / 2;
        asked = wholeFrame && large ? CopyPath::Streaming
                                    : hasAvx2() ? CopyPath::Avx2 : CopyPath::Sse2;
    }
    if (asked == CopyPath::Streaming &&
        (!wholeFrame || TILE * height * channels > STREAM_BLOCK_LIMIT)) {
        asked = hasAvx2() ? CopyPath::Avx2 : CopyPath::Sse2;
    }
    if (!copyPathAvailable(asked)) asked = CopyPath::Scalar;
    return asked;
}

void transpose8(CopyPath asked, const Band& band, std::uint8_t* const* planes, std::size_t width,
                std::size_t height, std::size_t channels, std::size_t rowCount) {
    if (width == 0 || rowCount == 0 || channels == 0) {
        return;
    }
    const bool wholeFrame = band.firstRow == 0 && rowCount == height;
    const CopyPath path = choose(asked, width, height, channels, wholeFrame);
    if (path == CopyPath::Streaming) {
        switch (channels) {
        case 1: return transposeStreaming<1>(band.rows, band.rowLength, planes, width, height);
        case 2: return transposeStreaming<2>(band.rows, band.rowLength, planes, width, height);
        case 3: return transposeStreaming<3>(band.rows, band.rowLength, planes, width, height);
        case 4: return transposeStreaming<4>(band.rows, band.rowLength, planes, width, height);
        default: break;
        }
    }
    switch (channels) {
    case 1: return transposeBand8<1>(path, band, planes, width, height, rowCount);
    case 2: return transposeBand8<2>(path, band, planes, width, height, rowCount);
    case 3: return transposeBand8<3>(path, band, planes, width, height, rowCount);
    case 4: return transposeBand8<4>(path, band, planes, width, height, rowCount);
    default:
        transposeScalar(band.rows, band.rowLength, band.firstRow, planes, width, height, channels,
                        rowCount);
        break;
    }
}

}  // namespace

// The cache of the highest level that the kernel describes for CPU 0, shared
// by the CPUs of its list; the C library's answer is the whole package's
// cache (or nonsense inside virtual machines).
std::size_t lastLevelCachePerCore() {
    static const std::size_t perCore = [] {
        std::size_t best = 0;
        for (int index = 0; index < 8; ++index) {
            const std::string dir = "/sys/devices/system/cpu/cpu0/cache/index" + std::to_string(index);
            std::ifstream sizeFile(dir + "/size"), sharedFile(dir + "/shared_cpu_list");
            std::size_t kib = 0;
            char unit = 0;
            if (!(sizeFile >> kib >> unit) || unit != 'K') continue;
            std::string list;
            std::getline(sharedFile, list);
            std::size_t cpus = 0;  // "0-3,8-11": count the CPUs of each range
            std::istringstream ranges(list);
            for (std::string range; std::getline(ranges, range, ',');) {
                const std::size_t dash = range.find('-');
                const std::size_t first = std::strtoul(range.c_str(), nullptr, 10);
                const std::size_t last = dash == std::string::npos
                                             ? first
                                             : std::strtoul(range.c_str() + dash + 1, nullptr, 10);
                cpus += last >= first ? last - first + 1 : 1;
            }
            best = std::max(best, kib * 1024 / std::max<std::size_t>(cpus, 1));
        }
        return best != 0 ? best : std::size_t{2} << 20;  // unknown: a common size
    }();
    return perCore;
}

bool copyPathAvailable(CopyPath path) {
    return (path != CopyPath::Avx2 || hasAvx2());
}

void transposeWith(CopyPath path, const std::uint8_t* src, std::size_t srcStride,
                   std::uint8_t* const* planes, std::size_t width, std::size_t height,
                   std::size_t channels) {
    transpose8(path, Band{src, srcStride, 0}, planes, width, height, channels, height);
}

void transposeWith(CopyPath path, const std::uint8_t* src, std::uint8_t* const* planes,
                   std::size_t width, std::size_t height, std::size_t channels) {
    transposeWith(path, src, width * channels, planes, width, height, channels);
}

void transposeToColumnMajorPlanes(const std::uint8_t* src, std::uint8_t* const* planes,
                                  std::size_t width, std::size_t height, std::size_t channels) {
    transposeWith(CopyPath::Automatic, src, width * channels, planes, width, height, channels);
}

void transposeToColumnMajorPlanes(const std::uint8_t* src, std::size_t srcStride,
                                  std::uint8_t* const* planes, std::size_t width,
                                  std::size_t height, std::size_t channels) {
    transposeWith(CopyPath::Automatic, src, srcStride, planes, width, height, channels);
}

void transposeRowsToColumnMajorPlanes(const std::uint8_t* rows, std::uint8_t* const* planes,
                                      std::size_t width, std::size_t height, std::size_t channels,
                                      std::size_t firstRow, std::size_t rowCount) {
    if (firstRow >= height) return;
    rowCount = std::min(rowCount, height - firstRow);
    transpose8(CopyPath::Automatic, Band{rows, width * channels, firstRow}, planes, width, height,
               channels, rowCount);
}

void transposeToColumnMajorPlanes(const std::uint16_t* src, std::size_t srcStride,
                                  std::uint16_t* const* planes, std::size_t width,
                                  std::size_t height, std::size_t channels) {
    if (width == 0 || height == 0 || channels == 0) {
        return;
    }
    transposeScalar(src, srcStride, 0, planes, width, height, channels, height);
}

void transposeToColumnMajorPlanes(const std::uint16_t* src, std::uint16_t* const* planes,
                                  std::size_t width, std::size_t height, std::size_t channels) {
    transposeToColumnMajorPlanes(src, width * channels, planes, width, height, channels);
}

}  // namespace pixcapframekit
