#pragma once
// What an AVI file says about its streams, as the reader found it or as the
// writer is told it: the records of the header list and what follows from
// them. The reader and the writer each keep one; the facade describes the
// file from whichever is open.

#include <avi/avifile.hpp>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace avi {
namespace detail {

struct Streams {
    bool hasAudioStream = false;
    bool hasVideoStream = false;
    MainHeader mainHeader;
    std::array<StreamHeader, File::MAX_STREAMS> streamHeaders;
    WaveFormat waveFormat;
    BitmapInfoHeader bitmapHeader;
    std::vector<tagRGBQUAD> colormap;
    std::uint32_t audioStreamIndex = 0;
    std::uint32_t videoStreamIndex = 0;
    char audioChunkId[5] = {0, 0, 0, 0, 0};
    char videoChunkId[5] = {0, 0, 0, 0, 0};
    std::uint32_t videoFrameSize = 0;  // bytes of a stored frame (reading: of the first chunk)
    std::uint32_t audioChunkSize = 0;  // bytes of an audio chunk as stored (writing: with its pad byte)
    // BI_BITFIELDS: the red, green and blue masks that follow the bitmap header.
    std::uint32_t colourMasks[3] = {0, 0, 0};
    bool hasColourMasks = false;

    std::uint32_t getVideoWidth() const { return static_cast<std::uint32_t>(bitmapHeader.width); }
    std::uint32_t getVideoHeight() const { return static_cast<std::uint32_t>(bitmapHeader.height); }
    // 16- and 32-bit RGB stored with BI_BITFIELDS and the masks of plain RGB
    // (as capture tools write it) is uncompressed video like BI_RGB.
    bool isVideoCompressed() const { return bitmapHeader.compression != 0 && !bitfieldsArePlainRgb(); }
    // BI_BITFIELDS with the masks of plain 5-5-5, 5-6-5 or 8-8-8 RGB.
    bool bitfieldsArePlainRgb() const;
    bool isRgb565() const { return bitfieldsArePlainRgb() && bitmapHeader.bitCount == 16 && colourMasks[1] == 0x07E0; }
    std::uint32_t getVideoStreamRate() const { return streamHeaders[videoStreamIndex % File::MAX_STREAMS].rate; }
    std::uint32_t getVideoStreamScale() const { return streamHeaders[videoStreamIndex % File::MAX_STREAMS].scale; }
    std::uint32_t getVideoTotalFrames() const { return mainHeader.totalFrames; }
    bool isAudioCompressed() const { return waveFormat.formatTag != 1; }
    std::uint32_t getAudioTotalBytes() const {
        const std::uint32_t length = streamHeaders[audioStreamIndex % File::MAX_STREAMS].length;
        return length * waveFormat.channels * (waveFormat.bitsPerSample / 8u);
    }
    std::uint32_t getRgb24PadLength() const { return (4u - (3u * getVideoWidth()) % 4u) % 4u; }
    std::uint32_t getIndexedPadLength() const { return (4u - getVideoWidth() % 4u) % 4u; }
    std::uint32_t getRgb555PadLength() const { return (getVideoWidth() & 1u) ? 2u : 0u; }
    std::uint32_t getIndexedVideoFrameSize() const {
        if (bitmapHeader.bitCount != 8) return 0;
        const std::uint64_t w = getVideoWidth(), h = getVideoHeight();
        return static_cast<std::uint32_t>(h * w + static_cast<std::uint64_t>(getIndexedPadLength()) * h);
    }
    // The size of a 24-bit frame of this picture, padded rows included.
    std::uint64_t rgb24FrameBytes() const {
        const std::uint64_t w = getVideoWidth(), h = getVideoHeight();
        return h * (3 * w) + static_cast<std::uint64_t>(getRgb24PadLength()) * h;
    }
};

inline bool Streams::bitfieldsArePlainRgb() const {
    if (bitmapHeader.compression != 3 || !hasColourMasks) return false;
    const std::uint32_t r = colourMasks[0], g = colourMasks[1], b = colourMasks[2];
    switch (bitmapHeader.bitCount) {
    case 16: return b == 0x001F && ((r == 0x7C00 && g == 0x03E0) || (r == 0xF800 && g == 0x07E0));
    case 32: return r == 0xFF0000 && g == 0x00FF00 && b == 0x0000FF;
    default: return false;
    }
}

}  // namespace detail
}  // namespace avi
