#pragma once
// A bounded view over bytes from a file. Every read checks the bounds here, so
// the box parser never indexes a buffer with a size that came from the file:
// reading past the end yields zeros and sets a flag that the caller tests once.
// Box-structured files store their integers big-endian.

#include <cstddef>
#include <cstdint>
#include <string>

namespace mj2k {

class ByteCursor {
public:
    ByteCursor() = default;
    ByteCursor(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::size_t size() const { return size_; }
    std::size_t position() const { return pos_; }
    std::size_t remaining() const { return size_ - pos_; }
    bool atEnd() const { return pos_ >= size_; }
    // False once any read or skip ran past the end.
    bool ok() const { return ok_; }
    const std::uint8_t* current() const { return data_ ? data_ + pos_ : nullptr; }

    std::uint8_t u8() {
        std::uint8_t b[1];
        return take(b, 1) ? b[0] : 0;
    }
    std::uint16_t u16be() {
        std::uint8_t b[2];
        return take(b, 2) ? static_cast<std::uint16_t>((b[0] << 8) | b[1]) : 0;
    }
    std::uint32_t u32be() {
        std::uint8_t b[4];
        if (!take(b, 4)) return 0;
        return (std::uint32_t(b[0]) << 24) | (std::uint32_t(b[1]) << 16) | (std::uint32_t(b[2]) << 8) |
               std::uint32_t(b[3]);
    }
    std::uint64_t u64be() {
        std::uint64_t hi = u32be();
        std::uint64_t lo = u32be();
        return (hi << 32) | lo;
    }
    // Four-character code as text; zeros past the end.
    std::string fourcc() {
        std::uint8_t b[4] = {0, 0, 0, 0};
        take(b, 4);
        return std::string(reinterpret_cast<const char*>(b), 4);
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
        std::size_t take_n = n > remaining() ? remaining() : static_cast<std::size_t>(n);
        if (take_n < n) ok_ = false;
        ByteCursor child(data_ ? data_ + pos_ : nullptr, take_n);
        pos_ += take_n;
        return child;
    }

private:
    bool take(std::uint8_t* out, std::size_t n) {
        if (n > remaining()) {
            pos_ = size_;
            ok_ = false;
            for (std::size_t i = 0; i < n; ++i) out[i] = 0;
            return false;
        }
        for (std::size_t i = 0; i < n; ++i) out[i] = data_[pos_ + i];
        pos_ += n;
        return true;
    }

    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

}  // namespace mj2k
