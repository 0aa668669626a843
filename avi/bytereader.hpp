#pragma once
// Bounded little-endian cursor over a byte range. Every record decoder of the
// AVI reader reads through it: reads past the end yield zeros and set a flag,
// so a chunk shorter than its record leaves the uncovered fields at 0 and no
// size taken from a file can index outside the range.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace avi {
namespace detail {

class ByteReader {
public:
    ByteReader() = default;
    ByteReader(const void* data, std::size_t length)
        : data_(static_cast<const std::uint8_t*>(data)), length_(data ? length : 0) {}

    std::size_t size() const { return length_; }
    std::size_t position() const { return pos_; }
    std::size_t remaining() const { return pos_ < length_ ? length_ - pos_ : 0; }
    bool overrun() const { return overrun_; }
    const std::uint8_t* here() const { return data_ + (pos_ < length_ ? pos_ : length_); }

    std::uint8_t u8() {
        std::uint8_t b[1];
        take(b, 1);
        return b[0];
    }
    std::uint16_t u16le() {
        std::uint8_t b[2];
        take(b, 2);
        return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
    }
    std::uint32_t u32le() {
        std::uint8_t b[4];
        take(b, 4);
        return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
               (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
    }
    std::int32_t i32le() { return static_cast<std::int32_t>(u32le()); }
    std::uint64_t u64le() {
        const std::uint64_t lo = u32le();
        const std::uint64_t hi = u32le();
        return lo | (hi << 32);
    }
    // Four characters; NULs past the end.
    void fourcc(char out[4]) { take(reinterpret_cast<std::uint8_t*>(out), 4); }
    std::string fourcc() {
        char c[4];
        fourcc(c);
        return std::string(c, 4);
    }
    void skip(std::size_t n) {
        if (n > remaining()) {
            overrun_ = true;
            pos_ = length_;
        } else {
            pos_ += n;
        }
    }
    // A child cursor over the next n bytes (clamped to what is left); this
    // cursor moves past them.
    ByteReader sub(std::size_t n) {
        const std::size_t k = n < remaining() ? n : remaining();
        ByteReader child(here(), k);
        skip(n);
        return child;
    }

private:
    void take(std::uint8_t* out, std::size_t n) {
        const std::size_t k = n < remaining() ? n : remaining();
        if (k) std::memcpy(out, data_ + pos_, k);
        if (k < n) {
            std::memset(out + k, 0, n - k);
            overrun_ = true;
        }
        pos_ += k;
    }

    const std::uint8_t* data_ = nullptr;
    std::size_t length_ = 0;
    std::size_t pos_ = 0;
    bool overrun_ = false;
};

// Size of a RIFF chunk's data as stepped over: rounded up to even.
inline std::uint64_t evenSize(std::uint32_t size) { return static_cast<std::uint64_t>(size) + (size & 1u); }

}  // namespace detail
}  // namespace avi
