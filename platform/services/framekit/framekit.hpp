#pragma once
// Frame layouts of the environment: a frame object describes one packed
// frame (rows top to bottom, pixels left to right, channels interleaved, no
// row padding) and copies it into the layout a caller asks for:
//
//  - row-major interleaved: the packed frame itself, byte for byte;
//  - the default layout: planar and column-major, the way a column-major
//    numerical environment stores an H x W x C array. The sample at row y,
//    column x, channel c lands at index c*H*W + x*H + y.

#include <common/export.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace pixcapframekit {
namespace frametypes {

// A frame type packs the sample width in bytes into bits 24..31 and the
// channels per pixel into bits 16..23; the low 16 bits are zero.
enum FRAMETYPE : std::uint32_t {
    FRAMETYPE_GRAY8 = 0x1010000,
    FRAMETYPE_RGB8 = 0x1030000,  // packed 8-bit RGB, what every video reader delivers
    FRAMETYPE_RGBA8 = 0x1040000,
    FRAMETYPE_GRAY16 = 0x2010000,
    FRAMETYPE_RGB16 = 0x2030000,
    FRAMETYPE_RGBA16 = 0x2040000,
};

}  // namespace frametypes

class MM_EXPORT IFrame {
public:
    virtual ~IFrame();

    // Bytes of one packed frame: rows x width x channels x sample bytes.
    virtual std::size_t getFrameSize() const = 0;
    // Bits of one sample (8 or 16).
    virtual int getBitsPerSample() const = 0;
    // Width, height (rows) and channels per pixel: width x channels is the
    // number of samples in one row.
    virtual void getDimensions(int& width, int& height, int& channels) const = 0;
    // Writes the packed frame into the destination. With rowMajorInterleaved
    // the first destination receives the packed frame unchanged. Otherwise the
    // destinations receive the default layout: either one pointer to a block
    // holding all planes back to back, or one pointer per channel plane.
    // Throws std::invalid_argument for an empty list, a null pointer or a
    // list of any other length.
    virtual void copy(const std::vector<void*>& destinations, const void* packedFrame,
                      bool rowMajorInterleaved) const = 0;
    // The same for a frame whose rows lie rowStride bytes apart (rows padded
    // by their producer, e.g. to a multiple of 4 bytes); the padding is not
    // copied. Throws std::invalid_argument as copy does, and for a stride
    // shorter than a packed row or not a whole number of samples.
    virtual void copyRows(const std::vector<void*>& destinations, const void* firstRow,
                          std::size_t rowStride, bool rowMajorInterleaved) const = 0;
};

// A frame object for the given type and geometry, or null when the type is
// not one of FRAMETYPE, a dimension is negative or the frame size overflows.
MM_EXPORT std::unique_ptr<IFrame> frameFactory(frametypes::FRAMETYPE type, int width, int height);

// The default-layout copy on its own, for callers that hold packed samples
// already: src is height rows of width x channels samples of T, planes point
// at `channels` destination planes of width x height samples each.
MM_EXPORT void transposeToColumnMajorPlanes(const std::uint8_t* src, std::uint8_t* const* planes,
                                            std::size_t width, std::size_t height,
                                            std::size_t channels);
MM_EXPORT void transposeToColumnMajorPlanes(const std::uint16_t* src, std::uint16_t* const* planes,
                                            std::size_t width, std::size_t height,
                                            std::size_t channels);
// The same for rows that lie srcStride samples apart (srcStride at least
// width x channels).
MM_EXPORT void transposeToColumnMajorPlanes(const std::uint8_t* src, std::size_t srcStride,
                                            std::uint8_t* const* planes, std::size_t width,
                                            std::size_t height, std::size_t channels);
MM_EXPORT void transposeToColumnMajorPlanes(const std::uint16_t* src, std::size_t srcStride,
                                            std::uint16_t* const* planes, std::size_t width,
                                            std::size_t height, std::size_t channels);

// The default-layout copy of one band of rows, for producers that deliver a
// frame a few rows at a time (a decoder's output bands) and want each band
// laid out while it is still in cache: rows holds rowCount packed rows of
// width x channels bytes, frame rows firstRow .. firstRow + rowCount - 1 of a
// frame of the given height; planes are that frame's channel planes. Bands
// of 16 rows or a multiple of 16 take the fast paths.
MM_EXPORT void transposeRowsToColumnMajorPlanes(const std::uint8_t* rows, std::uint8_t* const* planes,
                                                std::size_t width, std::size_t height,
                                                std::size_t channels, std::size_t firstRow,
                                                std::size_t rowCount);

// Memory for whole frames: 64-byte aligned, and blocks of 2 MiB and more
// aligned to 2 MiB and offered to the kernel as huge pages, so that walking
// a frame column by column does not miss the TLB on every row.
struct MM_EXPORT FrameMemoryDeleter {
    void operator()(std::uint8_t* p) const;
};
using FrameMemory = std::unique_ptr<std::uint8_t[], FrameMemoryDeleter>;
// Throws std::bad_alloc when the memory cannot be had.
MM_EXPORT FrameMemory allocateFrameMemory(std::size_t bytes);

}  // namespace pixcapframekit
