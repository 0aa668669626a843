#pragma once
// Little-endian serialization used by the AVI writer. Every record is built
// field by field into a byte buffer, so the file layout never depends on the
// host's byte order or on struct packing.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace avi {
namespace detail {

// Cursor over a caller buffer that is known to be large enough for the
// record being serialized (the record sizes are fixed by the file format).
class ByteWriter {
public:
    explicit ByteWriter(char* out) : out_(out) {}

    ByteWriter& u8(std::uint8_t v) {
        out_[pos_++] = static_cast<char>(v);
        return *this;
    }
    ByteWriter& u16(std::uint16_t v) {
        return u8(static_cast<std::uint8_t>(v & 0xFFu)).u8(static_cast<std::uint8_t>(v >> 8));
    }
    ByteWriter& u32(std::uint32_t v) {
        return u16(static_cast<std::uint16_t>(v & 0xFFFFu)).u16(static_cast<std::uint16_t>(v >> 16));
    }
    ByteWriter& u64(std::uint64_t v) {
        return u32(static_cast<std::uint32_t>(v & 0xFFFFFFFFu)).u32(static_cast<std::uint32_t>(v >> 32));
    }
    // Four characters as they stand; ids are always four characters long.
    ByteWriter& fourcc(const char* id) {
        std::memcpy(out_ + pos_, id, 4);
        pos_ += 4;
        return *this;
    }
    ByteWriter& zeros(std::size_t n) {
        std::memset(out_ + pos_, 0, n);
        pos_ += n;
        return *this;
    }
    std::size_t size() const { return pos_; }

private:
    char* out_;
    std::size_t pos_ = 0;
};

// The four characters of a chunk id read as a little-endian 32-bit value.
inline std::uint32_t fourccValue(const char* id) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(id[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(id[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(id[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(id[3])) << 24;
}

}  // namespace detail
}  // namespace avi
