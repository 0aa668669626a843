#pragma once
// How the AVI reader walks bytes: a bounded little-endian cursor, and the
// step over a RIFF chunk's data.

#include <common/bytecursor.hpp>

#include <cstdint>

namespace avi {
namespace detail {

using ByteReader = multimedia::common::LittleEndianCursor;

// Size of a RIFF chunk's data as stepped over: rounded up to even.
inline std::uint64_t evenSize(std::uint32_t size) { return static_cast<std::uint64_t>(size) + (size & 1u); }

}  // namespace detail
}  // namespace avi
