#pragma once
// Sample widths and block sizes, for every library that sizes a block of
// samples: the buffers here, the audio converter's buffer and the reader
// devices. Header-only, so plugins that carry their own copy of the buffer
// types need not link this library.

#include <cstdint>
#include <initializer_list>

namespace multimedia {
namespace common {
namespace avbuffer {

// Bytes per sample of each AudioDataType value 0 to 10. The video types 0 to
// 8 share the widths of the audio types with the same values.
inline constexpr std::uint8_t kSampleBytes[] = {8, 4, 1, 1, 2, 2, 4, 4, 1, 3, 3};

// Bytes per sample of a type value; 0 for a value outside the table.
constexpr std::uint64_t sampleBytes(std::int32_t type) noexcept {
    return (type >= 0 && type < static_cast<std::int32_t>(sizeof kSampleBytes)) ? kSampleBytes[type] : 0;
}

// The largest block accepted: no process on x86-64 can address more than
// 2^47 bytes, so a larger block can only come from garbage sizes.
inline constexpr std::uint64_t kMaxBlockBytes = std::uint64_t{1} << 47;

// product = a * b, false (product unspecified) when it wraps 64 bits.
inline bool checkedProduct(std::uint64_t a, std::uint64_t b, std::uint64_t& product) noexcept {
    return !__builtin_mul_overflow(a, b, &product);
}

// bytes = the product of all factors, false (bytes left alone) when the
// product wraps or exceeds kMaxBlockBytes.
template <class... Factors>
bool blockBytes(std::uint64_t& bytes, std::uint64_t first, Factors... rest) noexcept {
    std::uint64_t total = first;
    for (const std::uint64_t f : {static_cast<std::uint64_t>(rest)...}) {
        if (!checkedProduct(total, f, total)) return false;
    }
    if (total > kMaxBlockBytes) return false;
    bytes = total;
    return true;
}

}  // namespace avbuffer
}  // namespace common
}  // namespace multimedia
