#pragma once
// The ways framekit can lay a packed 8-bit frame out in the default layout.
// All give the same bytes; they differ in speed on a given machine. The
// frame object picks one by itself (Automatic); tests and benchmarks name
// them to compare them with one another.

#include <common/export.hpp>

#include <cstddef>
#include <cstdint>

namespace pixcapframekit {

enum class CopyPath {
    Automatic,  // what frame objects use: the fastest path this machine runs,
                // Scalar when MM_FORCE_PLAIN_CPU=1
    Scalar,     // one sample at a time, cache blocked
    Sse2,       // 16 x 16 byte tiles in SSE2 registers
    Avx2,       // 32 rows x 16 bytes in AVX2 registers
    Streaming,  // SSE2/AVX2 tiles into a cached strip, then non-temporal stores
};

// Whether this machine runs the path (Avx2 and Streaming need AVX2 or SSE2).
MM_EXPORT bool copyPathAvailable(CopyPath path);

// transposeToColumnMajorPlanes through the given path; an unavailable path
// falls back to Scalar.
MM_EXPORT void transposeWith(CopyPath path, const std::uint8_t* src, std::uint8_t* const* planes,
                             std::size_t width, std::size_t height, std::size_t channels);
// The same for source rows srcStride bytes apart.
MM_EXPORT void transposeWith(CopyPath path, const std::uint8_t* src, std::size_t srcStride,
                             std::uint8_t* const* planes, std::size_t width, std::size_t height,
                             std::size_t channels);

// Last-level cache per core in bytes, as the automatic choice sees it.
MM_EXPORT std::size_t lastLevelCachePerCore();

}  // namespace pixcapframekit
