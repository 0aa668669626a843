#pragma once
// JPEG 2000 codestream decoding with OpenJPEG, and the copy of a decoded image
// into the caller's frame layout. OpenJPEG objects live in owning handles and
// its message callbacks are silenced: a library never prints.

#include <platform/decoders/mj2kdecoder/mj2boxes.hpp>

#include <openjpeg.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace mj2k {

struct ImageDeleter {
    void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};
using ImageHandle = std::unique_ptr<opj_image_t, ImageDeleter>;

// Largest picture decoded, in samples (width x height x components): keeps a
// hostile header from asking for gigabytes, yet fits an 8K RGB picture.
constexpr std::uint64_t kMaxImageSamples = std::uint64_t(1) << 27;

// What the frame looks like, as learned from the first sample's codestream
// (its SIZ marker decides depth and component count; the image header box of
// the track is not trusted for either: GStreamer writes 8 bits there for
// 16-bit grey).
struct FrameFormat {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t channels = 0;   // 1 or 3 delivered channels
    std::uint32_t precision = 0;  // largest precision of the delivered components, in bits
    bool isSigned = false;
    bool ycc = false;             // components are luma and chroma, converted to RGB
    // Bytes per delivered sample: 1 up to 8 bits, 2 up to 16 bits, 0 otherwise.
    std::uint32_t bytesPerSample() const {
        if (isSigned || precision == 0) return 0;
        if (precision <= 8) return 1;
        if (precision <= 16) return 2;
        return 0;
    }
};

// Reads only the main header of a codestream. `trackColour` is the colour
// space named by the track (or the sample). False for an unreadable header.
bool readHeader(const std::uint8_t* data, std::size_t size, ColourSpace trackColour, FrameFormat& format);

// Decodes a whole codestream with `threads` OpenJPEG worker threads (0 or 1:
// on the calling thread only); null when OpenJPEG fails.
ImageHandle decode(const std::uint8_t* data, std::size_t size, unsigned threads = 0);

// Copies a decoded image into `destination` (width x height x channels samples
// of bytesPerSample() bytes) in row-major interleaved order, or planar
// column-major: sample (row y, column x, channel c) at c*H*W + x*H + y.
// Every sample is scaled from its component's precision to the whole range of
// its container (see mj2kdecoder.hpp); luma and chroma are upsampled and
// converted to RGB. False, with nothing written, when the image does not
// match `format`.
bool copyFrame(const opj_image_t& image, const FrameFormat& format, bool rowMajorInterleaved, void* destination);

}  // namespace mj2k
