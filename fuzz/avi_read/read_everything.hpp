#pragma once
// Reads everything an avi::File offers, the way a careful caller does: every
// frame in all three modes into buffers of exactly the sizes the reader
// reports, then all the audio. Shared by the fuzzer and the regression test.

#include <avi/avifile.hpp>

#include <cstdint>
#include <vector>

namespace avifuzz {

// Reads cost time linear in their output: a tiny input may declare a huge
// picture, and converting it over and over only slows the search down.
constexpr std::uint64_t kMaxBuffer = 1u << 20;

inline void readEverything(avi::File& f) {
    const std::uint32_t frames = f.getVideoTotalFrames();
    const std::uint32_t rgb = f.getRGB24VideoFrameSize();
    const std::uint32_t indexed = f.getIndexedVideoFrameSize();
    std::vector<char> buf;
    for (std::uint32_t k = 0; k < frames && k < 256; ++k) {
        const std::uint64_t raw = f.getRawVideoFrameSize(k);
        if (raw <= kMaxBuffer) {
            buf.assign(raw, 0);
            f.readVideoFrame(buf.data(), static_cast<long>(k));
        }
        if (rgb <= kMaxBuffer) {
            buf.assign(rgb, 0);
            f.readRGB24VideoFrame(buf.data(), static_cast<long>(k));
        }
        if (indexed <= kMaxBuffer) {
            buf.assign(indexed, 0);
            f.readIndexedVideoFrame(buf.data(), static_cast<long>(k));
        }
    }
    if (rgb <= kMaxBuffer) {
        buf.assign(rgb, 0);
        f.readRGB24VideoFrame(buf.data());  // sequential
        f.readRGB24VideoFrame(buf.data());
    }
    std::vector<char> audio(4099);
    for (int i = 0; i < 4096 && !f.isEndOfAudio(); ++i) {
        const std::uint64_t before = f.getAudioBytesRead();
        f.readAudio(audio.data(), audio.size());
        if (f.getErrorCode() || f.getAudioBytesRead() == before) break;
    }
    (void)f.getColormap();
    (void)f.getVideoFourCC();
    (void)f.getVideoFrameRate();
}

}  // namespace avifuzz
