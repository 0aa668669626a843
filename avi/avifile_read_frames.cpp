// avi::File: reading frames (raw, palette indexes, RGB24), the in-place pixel
// conversions and audio as a byte stream.
#include <avi/avifile.hpp>

#include <algorithm>
#include <array>
#include <cstring>

namespace avi {

namespace {

// Bytes of one stored row of an uncompressed frame: rows are padded to 4 bytes.
std::uint64_t storedStride(std::uint64_t width, unsigned bits) {
    return (width * bits + 31) / 32 * 4;
}

}  // namespace

// ---- sizes and padding ----

std::uint32_t File::getRgb24PadLength() {
    return (4u - (3u * getVideoWidth()) % 4u) % 4u;
}

std::uint32_t File::getIndexedPadLength() {
    return (4u - getVideoWidth() % 4u) % 4u;
}

std::uint32_t File::getRgb555PadLength() {
    return (getVideoWidth() & 1u) ? 2u : 0u;
}

std::uint32_t File::getRawVideoFrameSize(long frame) {
    if (videoIndex.empty()) {
        setError(errors::VIDEO_CHUNKS_MISSING);
        return 0;
    }
    if (frame < 0 || static_cast<std::uint64_t>(frame) >= getVideoTotalFrames() ||
        static_cast<std::uint64_t>(frame) >= videoIndex.size())
        return 0;
    // An uncompressed frame is delivered at its stored length (which a
    // mislabelled chunk may not match); a compressed one is its chunk.
    if (!isVideoCompressed()) return static_cast<std::uint32_t>(storedFrameLength());
    return videoIndex[static_cast<std::size_t>(frame)].size;
}

std::uint32_t File::getRGB24VideoFrameSize() {
    const std::uint64_t w = getVideoWidth(), h = getVideoHeight();
    const std::uint64_t rgb24 = h * (3 * w) + static_cast<std::uint64_t>(getRgb24PadLength()) * h;
    if (mode == 1) return bitmapHeader.bitCount == 24 ? static_cast<std::uint32_t>(rgb24) : 0;
    switch (bitmapHeader.bitCount) {
    case 2:
    case 4:
    case 8:
    case 16: return static_cast<std::uint32_t>(rgb24);
    case 24:
    case 32:
        // What a read delivers: the first chunk's size bounded by the picture
        // and the file, so a lying index entry cannot make callers allocate
        // gigabytes for a frame that is not there.
        return static_cast<std::uint32_t>(storedFrameLength());
    default: return 0;
    }
}

std::uint32_t File::getIndexedVideoFrameSize() {
    if (bitmapHeader.bitCount != 8) return 0;
    const std::uint64_t w = getVideoWidth(), h = getVideoHeight();
    return static_cast<std::uint32_t>(h * w + static_cast<std::uint64_t>(getIndexedPadLength()) * h);
}

// The bytes of an uncompressed frame that reads deliver: the first chunk's
// size, but never more than the picture's stored size nor than the file. This
// keeps every read within getRGB24VideoFrameSize() and getIndexedVideoFrameSize().
std::uint64_t File::storedFrameLength() {
    std::uint64_t length = videoFrameSize;
    if (bitmapHeader.bitCount != 0) {
        const std::uint64_t picture = getVideoHeight() * storedStride(getVideoWidth(), bitmapHeader.bitCount);
        length = std::min(length, picture);
    }
    return std::min(length, fileSize);
}

// ---- frames ----

bool File::readFrameInto(char* buffer, long frame) {
    clearError();
    if (videoIndex.empty()) {
        setError(errors::VIDEO_CHUNKS_MISSING);
        return false;
    }
    std::uint64_t n;
    if (frame == INVALID_FRAME_INDEX) {
        if (isEndOfVideo() || videoFramesRead >= videoIndex.size()) return false;
        n = videoFramesRead;
    } else {
        if (frame < 0 || static_cast<std::uint64_t>(frame) >= getVideoTotalFrames() ||
            static_cast<std::uint64_t>(frame) >= videoIndex.size())
            return false;
        n = static_cast<std::uint64_t>(frame);
    }
    const IndexEntry& e = videoIndex[static_cast<std::size_t>(n)];
    const bool compressed = isVideoCompressed();
    // A compressed frame is its chunk; an uncompressed one is the stored
    // frame length, taken only from its own chunk (a short chunk is
    // completed with zeros, never with the next chunk's bytes).
    const std::uint64_t length = compressed ? e.size : storedFrameLength();
    const std::uint64_t take = compressed ? length : std::min<std::uint64_t>(length, e.size);
    // One positioned read straight into the caller's buffer.
    if (!readExact(e.base + e.offset, buffer, static_cast<std::size_t>(take))) {
        setError(errors::FREAD_FAILED);
        return false;
    }
    if (take < length) std::memset(buffer + take, 0, length - take);
    if (topDownFrames && !compressed) convertFrameToBottomUp(buffer);
    if (frame == INVALID_FRAME_INDEX) ++videoFramesRead;
    return true;
}

void File::readVideoFrame(char* buffer, long frame) {
    readFrameInto(buffer, frame);
}

void File::readVideoFrame(char* buffer) {
    readFrameInto(buffer, INVALID_FRAME_INDEX);
}

void File::readRGB24VideoFrame(char* buffer, long frame) {
    if (isVideoCompressed()) {
        setError(errors::COMPRESSED_VIDEO);
        return;
    }
    const unsigned bits = bitmapHeader.bitCount;
    if (getRGB24VideoFrameSize() == 0 && !videoIndex.empty()) {
        // No RGB24 form (and a caller buffer sized 0): nothing is read.
        setError(errors::INVALID_BITS_PER_PIXEL);
        return;
    }
    if (!readFrameInto(buffer, frame)) return;
    const bool padded = getRgb24PadLength() != 0;
    if (bits == 2 || bits == 4 || bits == 8 || bits == 16) {
        // The growing conversions read the whole stored picture: complete a
        // short one with zeros (it fits, the RGB24 frame is larger).
        const std::uint64_t picture = getVideoHeight() * storedStride(getVideoWidth(), bits);
        const std::uint64_t have = storedFrameLength();
        if (have < picture) std::memset(buffer + have, 0, picture - have);
        if (bits == 16)
            padded ? rgb555ToRgb24WPad(buffer) : rgb555ToRgb24(buffer);
        else
            padded ? indexedToRgb24WPad(buffer) : indexedToRgb24(buffer);
    } else if (bits == 32) {
        padded ? rgb32ToRgb24WPad(buffer) : rgb32ToRgb24(buffer);
    }
}

void File::readRGB24VideoFrame(char* buffer) {
    readRGB24VideoFrame(buffer, INVALID_FRAME_INDEX);
}

void File::readIndexedVideoFrame(char* buffer, long frame) {
    if (isVideoCompressed()) {
        setError(errors::COMPRESSED_VIDEO);
        return;
    }
    if (bitmapHeader.bitCount != 8) {
        // getIndexedVideoFrameSize() is 0 here: the caller's buffer has no
        // room for the stored frame, so nothing is written.
        clearError();
        setError(videoIndex.empty() ? errors::VIDEO_CHUNKS_MISSING : errors::NOT_INDEXED_VIDEO);
        return;
    }
    readFrameInto(buffer, frame);
}

void File::convertFrameToBottomUp(char* buffer) {
    const std::uint64_t h = getVideoHeight();
    if (h < 2) return;
    const std::size_t row = static_cast<std::size_t>(storedFrameLength() / h);
    if (row == 0) return;  // rows of no bytes: nothing to swap, however many
    char* top = buffer;
    char* bottom = buffer + (h - 1) * row;
    for (std::uint64_t r = 0; r < h / 2; ++r, top += row, bottom -= row) {
        if (rowBuffer) {
            std::memcpy(rowBuffer.get(), top, row);
            std::memcpy(top, bottom, row);
            std::memcpy(bottom, rowBuffer.get(), row);
        } else {
            std::swap_ranges(top, top + row, bottom);
        }
    }
}

// ---- in-place conversions ----
// Growing conversions (palette and 16-bit to 24-bit) run from the last pixel
// to the first, the shrinking one (32-bit) from the first to the last: an
// output pixel never lands on a stored byte that is still to be read.

namespace {

// A pixel as its three output bytes in the low 24 bits: blue, green, red.
inline std::uint32_t rgb555(unsigned v) {
    return ((v & 0x1Fu) << 3) | (((v >> 5) & 0x1Fu) << 11) | (((v >> 10) & 0x1Fu) << 19);
}

inline void put3(std::uint8_t* dst, std::uint32_t bgr) {
    dst[0] = static_cast<std::uint8_t>(bgr);
    dst[1] = static_cast<std::uint8_t>(bgr >> 8);
    dst[2] = static_cast<std::uint8_t>(bgr >> 16);
}

// Four pixels as 12 output bytes, written with two stores.
inline void put12(std::uint8_t* dst, std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    const std::uint64_t lo = static_cast<std::uint64_t>(a & 0xFFFFFFu) | (static_cast<std::uint64_t>(b & 0xFFFFFFu) << 24) |
                             (static_cast<std::uint64_t>(c & 0xFFFFu) << 48);
    const std::uint32_t hi = ((c >> 16) & 0xFFu) | ((d & 0xFFFFFFu) << 8);
    std::memcpy(dst, &lo, 8);
    std::memcpy(dst + 8, &hi, 4);
}

inline std::uint32_t load32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

}  // namespace

void File::indexedToRgb24WPad(char* buffer) {
    const unsigned bits = bitmapHeader.bitCount;
    if (bits != 2 && bits != 4 && bits != 8) return;
    const std::uint64_t w = getVideoWidth(), h = getVideoHeight();
    const std::uint64_t in = storedStride(w, bits);
    const std::uint64_t out = 3 * w + getRgb24PadLength();
    // Indexes beyond the colormap are black.
    std::array<std::uint32_t, 256> lut{};
    for (std::size_t i = 0; i < colormap.size() && i < lut.size(); ++i)
        lut[i] = colormap[i].blue | (colormap[i].green << 8) | (static_cast<std::uint32_t>(colormap[i].red) << 16);
    auto* p = reinterpret_cast<std::uint8_t*>(buffer);
    const unsigned perByte = 8 / bits;
    const unsigned mask = (1u << bits) - 1u;
    for (std::uint64_t r = h; r-- > 0;) {
        const std::uint8_t* src = p + r * in;
        std::uint8_t* dst = p + r * out;
        if (bits == 8) {
            std::uint64_t x = w;
            for (; x % 4; --x) put3(dst + 3 * (x - 1), lut[src[x - 1]]);
            // Four at a time from the back: the 12 bytes written start at or
            // after the four indexes just read, so no unread index is hit.
            for (; x >= 4; x -= 4) {
                const std::uint32_t four = load32(src + x - 4);
                put12(dst + 3 * (x - 4), lut[four & 0xFF], lut[(four >> 8) & 0xFF], lut[(four >> 16) & 0xFF],
                      lut[four >> 24]);
            }
        } else {
            for (std::uint64_t x = w; x-- > 0;) {
                const unsigned shift = 8 - bits - static_cast<unsigned>(x % perByte) * bits;
                put3(dst + 3 * x, lut[(src[x / perByte] >> shift) & mask]);  // leftmost pixel in the high bits
            }
        }
    }
}

void File::indexedToRgb24(char* buffer) {
    // Without output padding the padded walk is the same walk.
    indexedToRgb24WPad(buffer);
}

void File::rgb555ToRgb24WPad(char* buffer) {
    const std::uint64_t w = getVideoWidth(), h = getVideoHeight();
    const std::uint64_t in = 2 * w + getRgb555PadLength();
    const std::uint64_t out = 3 * w + getRgb24PadLength();
    // The output pixel is the OR of what the low and the high byte give.
    std::array<std::uint32_t, 256> low{}, high{};
    for (unsigned b = 0; b < 256; ++b) {
        low[b] = rgb555(b);
        high[b] = rgb555(b << 8);
    }
    auto px = [&](const std::uint8_t* v) { return low[v[0]] | high[v[1]]; };
    auto* p = reinterpret_cast<std::uint8_t*>(buffer);
    for (std::uint64_t r = h; r-- > 0;) {
        const std::uint8_t* src = p + r * in;
        std::uint8_t* dst = p + r * out;
        std::uint64_t x = w;
        for (; x % 4; --x) put3(dst + 3 * (x - 1), px(src + 2 * (x - 1)));
        for (; x >= 4; x -= 4) {
            const std::uint8_t* v = src + 2 * (x - 4);
            put12(dst + 3 * (x - 4), px(v), px(v + 2), px(v + 4), px(v + 6));
        }
    }
}

void File::rgb555ToRgb24(char* buffer) {
    rgb555ToRgb24WPad(buffer);
}

void File::rgb32ToRgb24WPad(char* buffer) {
    const std::uint64_t w = getVideoWidth(), h = getVideoHeight();
    const std::uint64_t out = 3 * w + getRgb24PadLength();
    // Only pixels that were read are moved; the output never outgrows them.
    const std::uint64_t have = storedFrameLength();
    auto* p = reinterpret_cast<std::uint8_t*>(buffer);
    for (std::uint64_t r = 0; r < h; ++r) {
        const std::uint64_t rowStart = r * 4 * w;
        if (rowStart >= have) break;
        const std::uint64_t pixels = std::min<std::uint64_t>(w, (have - rowStart) / 4);
        const std::uint8_t* src = p + rowStart;
        std::uint8_t* dst = p + r * out;
        std::uint64_t x = 0;
        // Front to back, four at a time: the 12 bytes written end before the
        // next four pixels begin.
        for (; x + 4 <= pixels; x += 4)
            put12(dst + 3 * x, load32(src + 4 * x), load32(src + 4 * x + 4), load32(src + 4 * x + 8),
                  load32(src + 4 * x + 12));
        for (; x < pixels; ++x) put3(dst + 3 * x, load32(src + 4 * x));
    }
}

void File::rgb32ToRgb24(char* buffer) {
    rgb32ToRgb24WPad(buffer);
}

// ---- audio ----

void File::readAudio(char* buffer, unsigned long count) {
    if (isAudioCompressed()) {
        setError(errors::COMPRESSED_AUDIO);
        return;
    }
    if (isEndOfAudio()) return;
    if (audioIndex.empty()) {
        setError(errors::AUDIO_CHUNKS_MISSING);
        return;
    }
    if (count == 0) return;
    const std::uint64_t total = getAudioTotalBytes();
    std::uint64_t remaining = count;
    while (remaining > 0) {
        if (audioChunkIndex >= audioIndex.size()) break;
        const IndexEntry& e = audioIndex[static_cast<std::size_t>(audioChunkIndex)];
        std::uint64_t take = std::min<std::uint64_t>(remaining, e.size - audioChunkOffset);
        // The stream ends at the header's length even inside a chunk.
        if (audioBytesRead < total) take = std::min(take, total - audioBytesRead);
        char* dst = buffer + (count - remaining);
        if (take && !readExact(e.base + e.offset + audioChunkOffset, dst, static_cast<std::size_t>(take))) {
            setError(errors::AUDIO_CHUNKS_MISSING);
            return;
        }
        audioBytesRead += take;
        audioChunkOffset += take;
        remaining -= take;
        if (isEndOfAudio()) break;
        if (audioChunkOffset >= e.size) {
            ++audioChunkIndex;
            audioChunkOffset = 0;
            // Empty chunks hold nothing to wait for: the end of the last
            // chunk with data is the end of the stream.
            while (audioChunkIndex < audioIndex.size() && audioIndex[static_cast<std::size_t>(audioChunkIndex)].size == 0)
                ++audioChunkIndex;
            if (isEndOfAudio()) break;
        }
    }
    if (remaining) std::memset(buffer + (count - remaining), 0, remaining);
}

}  // namespace avi
