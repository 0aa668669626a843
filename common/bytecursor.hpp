#pragma once
// A bounded cursor over bytes that came from a file: pointer, length and
// position. Every read checks the bounds here, so no parser indexes a buffer
// with a size taken from the file. A read past the end yields zeros for the
// bytes that are not there (the bytes that are keep their values) and clears
// ok(), which the caller tests once after decoding a record; so the fields a
// shorter record does not cover come out as 0.
//
// The byte order is the cursor's parameter: RIFF stores its integers
// little-endian, box-structured files big-endian.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace multimedia {
namespace common {

enum class ByteOrder { Little, Big };

template <ByteOrder Order>
class ByteCursor {
public:
    ByteCursor() = default;
    ByteCursor(const void* data, std::size_t size)
        : data_(static_cast<const std::uint8_t*>(data)), size_(data ? size : 0) {}

    std::size_t size() const { return size_; }
    std::size_t position() const { return pos_; }
    std::size_t remaining() const { return size_ - pos_; }
    bool atEnd() const { return pos_ >= size_; }
    // False once any read, skip or sub ran past the end.
    bool ok() const { return ok_; }
    const std::uint8_t* current() const { return data_ ? data_ + pos_ : nullptr; }

    std::uint8_t u8() {
        std::uint8_t b[1];
        take(b, 1);
        return b[0];
    }
    std::uint16_t u16() {
        std::uint8_t b[2];
        take(b, 2);
        return static_cast<std::uint16_t>(Order == ByteOrder::Little ? (b[0] | (b[1] << 8)) : ((b[0] << 8) | b[1]));
    }
    std::uint32_t u32() {
        std::uint8_t b[4];
        take(b, 4);
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= std::uint32_t(b[i]) << (Order == ByteOrder::Little ? 8 * i : 24 - 8 * i);
        return v;
    }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    std::uint64_t u64() {
        const std::uint64_t first = u32();
        const std::uint64_t second = u32();
        return Order == ByteOrder::Little ? (first | (second << 32)) : ((first << 32) | second);
    }
    // Four characters as stored; NULs past the end.
    void fourcc(char out[4]) { take(reinterpret_cast<std::uint8_t*>(out), 4); }
    std::string fourcc() {
        char c[4];
        fourcc(c);
        return std::string(c, 4);
    }

    void skip(std::uint64_t n) {
        if (n > remaining()) {
            pos_ = size_;
            ok_ = false;
        } else {
            pos_ += static_cast<std::size_t>(n);
        }
    }
    // A child cursor over the next n bytes (clamped to what is left); this
    // cursor moves past them. Asking for more than is left clears ok().
    ByteCursor sub(std::uint64_t n) {
        const std::size_t k = n < remaining() ? static_cast<std::size_t>(n) : remaining();
        ByteCursor child(current(), k);
        skip(n);
        return child;
    }

private:
    void take(std::uint8_t* out, std::size_t n) {
        const std::size_t k = n < remaining() ? n : remaining();
        if (k) std::memcpy(out, data_ + pos_, k);
        if (k < n) {
            std::memset(out + k, 0, n - k);
            ok_ = false;
        }
        pos_ += k;
    }

    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

using LittleEndianCursor = ByteCursor<ByteOrder::Little>;
using BigEndianCursor = ByteCursor<ByteOrder::Big>;

}  // namespace common
}  // namespace multimedia
