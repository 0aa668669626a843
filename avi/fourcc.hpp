#pragma once
// FourCC codes (chunk ids, compression codes) as the AVI library keeps them:
// four characters, or the little-endian 32-bit value they make.

#include <cstdint>
#include <string>

namespace avi {
namespace detail {

inline std::uint32_t fourccValue(const char* id) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(id[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(id[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(id[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(id[3])) << 24;
}

// The four characters of a value, NULs included.
inline std::string fourccText(std::uint32_t value) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

}  // namespace detail
}  // namespace avi
