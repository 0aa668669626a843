#pragma once
// Little-endian serialization used by the AVI writer. Every record is built
// field by field into a byte buffer, so the file layout never depends on the
// host's byte order or on struct packing.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include <avi/fourcc.hpp>

#include <boost/numeric/conversion/cast.hpp>

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

// Chunks as the writer builds them, field by field in little-endian order.
// open() writes a chunk's id and a zero size and close() patches the size in
// once the chunk's data is complete, adding the pad byte that keeps the next
// chunk at an even offset; so no size is ever computed ahead of the bytes it
// describes. A counting buffer runs the same serializer without keeping any
// byte: its size() is what a storing one would hold, which is how the writer
// predicts a layout (the reserved header region, an index's length).
class ChunkBuffer {
public:
    ChunkBuffer() = default;
    static ChunkBuffer counting() {
        ChunkBuffer b;
        b.counting_ = true;
        return b;
    }

    ChunkBuffer& u8(std::uint8_t v) {
        if (!counting_) bytes_.push_back(static_cast<char>(v));
        ++size_;
        return *this;
    }
    ChunkBuffer& u16(std::uint16_t v) { return u8(static_cast<std::uint8_t>(v & 0xFFu)).u8(static_cast<std::uint8_t>(v >> 8)); }
    ChunkBuffer& u32(std::uint32_t v) {
        return u16(static_cast<std::uint16_t>(v & 0xFFFFu)).u16(static_cast<std::uint16_t>(v >> 16));
    }
    ChunkBuffer& u64(std::uint64_t v) {
        return u32(static_cast<std::uint32_t>(v & 0xFFFFFFFFu)).u32(static_cast<std::uint32_t>(v >> 32));
    }
    ChunkBuffer& fourcc(const char* id) { return raw(id, 4); }
    ChunkBuffer& zeros(std::size_t n) {
        if (!counting_) bytes_.insert(bytes_.end(), n, '\0');
        size_ += n;
        return *this;
    }
    ChunkBuffer& raw(const char* data, std::size_t n) {
        if (!counting_) bytes_.insert(bytes_.end(), data, data + n);
        size_ += n;
        return *this;
    }
    // A table of `count` records of `recordBytes` each, written by
    // record(k); a counting buffer only counts them, whatever their number.
    template <class Record>
    ChunkBuffer& table(std::size_t count, std::size_t recordBytes, Record&& record) {
        if (counting_) {
            size_ += count * recordBytes;
        } else {
            for (std::size_t k = 0; k < count; ++k) record(k);
        }
        return *this;
    }
    // Starts a chunk (or a list, with its type) and returns where it begins.
    std::size_t open(const char* id) {
        const std::size_t at = size_;
        fourcc(id).u32(0);
        return at;
    }
    std::size_t openList(const char* id, const char* type) {
        const std::size_t at = open(id);
        fourcc(type);
        return at;
    }
    // Ends the chunk begun at `at`: its size is what was added since.
    void close(std::size_t at) {
        const std::uint32_t size = boost::numeric_cast<std::uint32_t>(size_ - at - 8);
        if (!counting_) ByteWriter(bytes_.data() + at + 4).u32(size);
        if (size & 1u) u8(0);
    }
    std::size_t size() const { return size_; }
    const char* data() const { return bytes_.data(); }

private:
    std::vector<char> bytes_;
    std::size_t size_ = 0;
    bool counting_ = false;
};

}  // namespace detail
}  // namespace avi
