#pragma once
// Test fixtures for Motion JPEG 2000 files: a JPEG 2000 encoder over OpenJPEG,
// a reference decode, and a small box writer that lays out exactly the movie
// a test needs (including the broken ones).

#include <support/files.hpp>

#include <openjpeg.h>

#include <cstdint>
#include <string>
#include <vector>

namespace mj2test {

// A picture to encode: one plane per component, values as stored.
struct Picture {
    std::uint32_t width = 0, height = 0;
    std::uint32_t precision = 8;
    bool isSigned = false;
    std::uint32_t chromaSubsampling = 1;  // 2 halves components 1 and 2 both ways
    std::vector<std::vector<std::int32_t>> planes;
};

// A deterministic test picture: `seed` varies it from frame to frame.
Picture makePicture(std::uint32_t width, std::uint32_t height, std::uint32_t components, std::uint32_t precision,
                    std::uint32_t seed);

// Lossless (reversible) codestream of `picture`.
std::vector<std::uint8_t> encodeJ2k(const Picture& picture);

// OpenJPEG's own decode of a codestream: components as decoded, no colour
// conversion. Empty planes when decoding fails.
struct Decoded {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint32_t> dx, dy, precision;
    std::vector<std::vector<std::int32_t>> planes;
    std::vector<std::uint32_t> planeWidth;
};
Decoded decodeJ2k(const std::uint8_t* data, std::size_t size);

// The frame the reader must deliver for a decoded picture with no chroma:
// row-major interleaved or planar column-major, in samples of T, each value
// scaled from its component's precision to the whole range of T.
template <typename T>
std::vector<T> expectedFrame(const Decoded& d, std::uint32_t channels, bool rowMajor) {
    std::vector<T> out(std::size_t(d.width) * d.height * channels);
    for (std::uint32_t y = 0; y < d.height; ++y)
        for (std::uint32_t x = 0; x < d.width; ++x)
            for (std::uint32_t c = 0; c < channels; ++c) {
                const double top = double((std::uint64_t(1) << d.precision[c]) - 1);
                const double v0 = d.planes[c][std::size_t(y) * d.planeWidth[c] + x] * (double(T(~T(0))) / top);
                T v = static_cast<T>(v0 <= 0 ? 0 : v0 >= double(T(~T(0))) ? T(~T(0)) : v0 + 0.5);
                std::size_t i = rowMajor ? (std::size_t(y) * d.width + x) * channels + c
                                         : std::size_t(c) * d.height * d.width + std::size_t(x) * d.height + y;
                out[i] = v;
            }
    return out;
}

// How the box writer lays out a movie.
struct MovieLayout {
    std::uint32_t width = 0, height = 0;  // sample entry size
    std::uint16_t components = 3;
    std::uint8_t bitDepth = 8;            // image header precision
    std::uint32_t colour = 16;            // enumerated colour space, 0 for no colour box
    std::uint32_t timescale = 1000;
    std::vector<std::vector<std::uint8_t>> samples;
    std::vector<std::uint32_t> durations;  // one per sample; missing ones take 40
    std::uint32_t samplesPerChunk = 1;
    bool co64 = false;
    bool wrapInJp2c = false;                // samples as contiguous-codestream boxes
    std::string sampleBoxType = "jp2c";     // their type ("c2pj" as GStreamer 1.22 writes it)
    bool mdatFirst = false;                 // media data before the movie box
    std::uint64_t gapBeforeMdat = 0;        // bytes of a free box between movie box and media data
    std::string videoEntryType = "mjp2";
    bool withVideo = true;
    bool withAudio = false;
    std::uint16_t audioChannels = 2;
};

// The file as bytes. `sampleOffsets` receives where each sample landed. With
// a gap, the bytes end at the free box header and the media data box goes to
// `mdatPart`, to be written after the gap (see writeSparseMovie).
std::vector<std::uint8_t> writeMovie(const MovieLayout& layout, std::vector<std::uint64_t>* sampleOffsets = nullptr,
                                     std::vector<std::uint8_t>* mdatPart = nullptr);

// A movie with layout.gapBeforeMdat bytes of hole before its media data, written
// as a sparse file so that offsets past 4 GiB cost no disk space.
std::string writeSparseMovie(const std::string& name, const MovieLayout& layout,
                             std::vector<std::uint64_t>* sampleOffsets = nullptr);

// Position of the first box of `type` found by a walk through the containers;
// npos when absent. Tests use it to damage one field.
std::size_t findBox(const std::vector<std::uint8_t>& file, const std::string& type);

void putU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t v);

// Writes bytes to a fresh file under the test temporary folder; answers its path.
std::string writeTemp(const std::string& name, const std::vector<std::uint8_t>& bytes);
using testsupport::readBytes;

}  // namespace mj2test
