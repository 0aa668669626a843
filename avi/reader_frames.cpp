// The reader: frames (raw, palette indexes, RGB24), the in-place pixel
// conversions and audio as a byte stream.
#include <avi/reader.hpp>
#include <avi/bitmaprows.hpp>
#include <avi/pixelconvert.hpp>

#include <sys/uio.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>

namespace avi {
namespace detail {

// ---- sizes and padding ----

std::uint32_t Reader::getRawVideoFrameSize(long frame) {
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
    // A dropped frame delivers the chunk of the picture it shows.
    const std::size_t shown = pictureOf(static_cast<std::uint64_t>(frame));
    return shown == SIZE_MAX ? 0 : videoIndex[shown].size;
}

std::uint32_t Reader::getRGB24VideoFrameSize() {
    const std::uint64_t rgb24 = rgb24FrameBytes();
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

// The bytes of an uncompressed frame that reads deliver: the first chunk's
// size, but never more than the picture's stored size nor than the file. This
// keeps every read within getRGB24VideoFrameSize() and getIndexedVideoFrameSize().
std::uint64_t Reader::storedFrameLength() const {
    std::uint64_t length = videoFrameSize;
    if (bitmapHeader.bitCount != 0) {
        const std::uint64_t picture = getVideoHeight() * bitmapRowBytes(getVideoWidth(), bitmapHeader.bitCount);
        length = std::min(length, picture);
    }
    return std::min(length, fileSize);
}

// ---- frames ----

std::size_t Reader::pictureOf(std::uint64_t n) {
    if (videoIndex[static_cast<std::size_t>(n)].size != 0) return static_cast<std::size_t>(n);
    if (pictureEntry.size() != videoIndex.size()) {
        // A dropped frame shows the picture before it. One before the first
        // picture shows that first picture: the stream holds nothing earlier
        // to show, and a frame made up here (black, say) would be a picture
        // the file never had.
        constexpr std::size_t kNone = SIZE_MAX;
        pictureEntry.assign(videoIndex.size(), kNone);
        std::size_t last = kNone;
        for (std::size_t k = 0; k < videoIndex.size(); ++k) {
            if (videoIndex[k].size != 0) last = k;
            pictureEntry[k] = last;
        }
        std::size_t first = kNone;
        for (std::size_t k = videoIndex.size(); k-- > 0;) {
            if (videoIndex[k].size != 0) first = k;
            if (pictureEntry[k] == kNone) pictureEntry[k] = first;
        }
    }
    return pictureEntry[static_cast<std::size_t>(n)];
}

bool Reader::readRowsReversed(std::uint64_t position, char* buffer, std::uint64_t take, std::uint64_t length,
                              std::uint64_t row, std::uint64_t rows) {
    const int fd = stream.descriptor();
    if (fd < 0 || position > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) - take) return false;
    // Stored byte o of row o / row lands in the mirrored row; bytes past the
    // last whole row stay where they are.
    auto place = [&](std::uint64_t o, std::uint64_t end, char*& dst) {
        const std::uint64_t r = o / row;
        if (r >= rows) {
            dst = buffer + o;
            return end - o;
        }
        dst = buffer + (rows - 1 - r) * row + o % row;
        return std::min(row - o % row, end - o);
    };
    // As many rows per call as the kernel takes (IOV_MAX is 1024 on Linux):
    // one call for any common frame height.
    constexpr int kBatch = 1024;
    iovec parts[kBatch];
    std::uint64_t done = 0;
    while (done < take) {
        int n = 0;
        for (std::uint64_t o = done; n < kBatch && o < take; ++n) {
            char* dst = nullptr;
            const std::uint64_t len = place(o, take, dst);
            parts[n] = iovec{dst, static_cast<std::size_t>(len)};
            o += len;
        }
        const ssize_t got = ::preadv(fd, parts, n, static_cast<off_t>(position + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        done += static_cast<std::uint64_t>(got);
    }
    // A short chunk is completed with zeros, in the places of its missing bytes.
    for (std::uint64_t o = take; o < length;) {
        char* dst = nullptr;
        const std::uint64_t len = place(o, length, dst);
        std::memset(dst, 0, static_cast<std::size_t>(len));
        o += len;
    }
    return true;
}

bool Reader::readFrameInto(char* buffer, long frame) {
    status.clear();
    if (videoIndex.empty()) {
        setError(errors::VIDEO_CHUNKS_MISSING);
        return false;
    }
    std::uint64_t n;
    if (frame == File::INVALID_FRAME_INDEX) {
        if (isEndOfVideo() || videoFramesRead >= videoIndex.size()) return false;
        n = videoFramesRead;
    } else {
        if (frame < 0 || static_cast<std::uint64_t>(frame) >= getVideoTotalFrames() ||
            static_cast<std::uint64_t>(frame) >= videoIndex.size())
            return false;
        n = static_cast<std::uint64_t>(frame);
    }
    // A dropped frame is read as the picture it shows.
    const std::size_t shown = pictureOf(n);
    if (shown == SIZE_MAX) {
        setError(errors::VIDEO_CHUNKS_MISSING);  // only dropped frames: no picture at all
        return false;
    }
    const IndexEntry& e = videoIndex[shown];
    const bool compressed = isVideoCompressed();
    // A compressed frame is its chunk; an uncompressed one is the stored
    // frame length, taken only from its own chunk (a short chunk is
    // completed with zeros, never with the next chunk's bytes).
    const std::uint64_t length = compressed ? e.size : storedFrameLength();
    const std::uint64_t take = compressed ? length : std::min<std::uint64_t>(length, e.size);
    const std::uint64_t rows = getVideoHeight();
    const std::uint64_t row = rows ? length / rows : 0;
    if (topDownFrames && !compressed && rows >= 2 && row != 0) {
        // One positioned read with the rows in reverse order, straight into
        // the caller's buffer: no second pass to turn the frame over.
        if (!readRowsReversed(e.base + e.offset, buffer, take, length, row, rows)) {
            setError(errors::FREAD_FAILED);
            return false;
        }
    } else {
        // One positioned read straight into the caller's buffer.
        if (!readExact(e.base + e.offset, buffer, static_cast<std::size_t>(take))) {
            setError(errors::FREAD_FAILED);
            return false;
        }
        if (take < length) std::memset(buffer + take, 0, length - take);
    }
    if (frame == File::INVALID_FRAME_INDEX) ++videoFramesRead;
    return true;
}

void Reader::readRGB24VideoFrame(char* buffer, long frame) {
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
    if (bits == 2 || bits == 4 || bits == 8 || bits == 16) {
        // The growing conversions read the whole stored picture: complete a
        // short one with zeros (it fits, the RGB24 frame is larger).
        const std::uint64_t picture = getVideoHeight() * bitmapRowBytes(getVideoWidth(), bits);
        const std::uint64_t have = storedFrameLength();
        if (have < picture) std::memset(buffer + have, 0, picture - have);
        if (bits == 16)
            rgb555ToRgb24(buffer);
        else
            indexedToRgb24(buffer);
    } else if (bits == 32) {
        rgb32ToRgb24(buffer);
    }
}

void Reader::readIndexedVideoFrame(char* buffer, long frame) {
    if (isVideoCompressed()) {
        setError(errors::COMPRESSED_VIDEO);
        return;
    }
    if (bitmapHeader.bitCount != 8) {
        // getIndexedVideoFrameSize() is 0 here: the caller's buffer has no
        // room for the stored frame, so nothing is written.
        status.clear();
        setError(videoIndex.empty() ? errors::VIDEO_CHUNKS_MISSING : errors::NOT_INDEXED_VIDEO);
        return;
    }
    readFrameInto(buffer, frame);
}

void Reader::convertFrameToBottomUp(char* buffer) {
    const std::uint64_t h = getVideoHeight();
    if (h < 2) return;
    const std::size_t row = static_cast<std::size_t>(storedFrameLength() / h);
    if (row == 0) return;  // rows of no bytes: nothing to swap, however many
    char* top = buffer;
    char* bottom = buffer + (h - 1) * row;
    for (std::uint64_t r = 0; r < h / 2; ++r, top += row, bottom -= row) std::swap_ranges(top, top + row, bottom);
}

// ---- in-place conversions ----
// The walks themselves (and their SIMD paths) are in pixelconvert.cpp.

void Reader::indexedToRgb24(char* buffer) {
    const unsigned bits = bitmapHeader.bitCount;
    if (bits != 2 && bits != 4 && bits != 8) return;
    const std::uint64_t w = getVideoWidth(), h = getVideoHeight();
    // Indexes beyond the colormap are black.
    std::array<std::uint32_t, 256> lut{};
    for (std::size_t i = 0; i < colormap.size() && i < lut.size(); ++i)
        lut[i] = colormap[i].blue | (colormap[i].green << 8) | (static_cast<std::uint32_t>(colormap[i].red) << 16);
    detail::paletteToRgb24(reinterpret_cast<std::uint8_t*>(buffer), w, h, bits, bitmapRowBytes(w, bits),
                           3 * w + getRgb24PadLength(), lut.data(), detail::bestPixelIsa());
}

void Reader::rgb555ToRgb24(char* buffer) {
    const std::uint64_t w = getVideoWidth(), h = getVideoHeight();
    // Bit-field RGB of 5-6-5 comes this way too: the same walk, six bits of green.
    (isRgb565() ? detail::rgb565ToRgb24 : detail::rgb555ToRgb24)(reinterpret_cast<std::uint8_t*>(buffer), w, h, 2 * w + getRgb555PadLength(),
                          3 * w + getRgb24PadLength(), detail::bestPixelIsa());
}

void Reader::rgb32ToRgb24(char* buffer) {
    const std::uint64_t w = getVideoWidth(), h = getVideoHeight();
    // Only pixels that were read are moved; the output never outgrows them.
    detail::rgb32ToRgb24(reinterpret_cast<std::uint8_t*>(buffer), w, h, 3 * w + getRgb24PadLength(),
                         static_cast<std::size_t>(storedFrameLength()), detail::bestPixelIsa());
}

// ---- audio ----

void Reader::readAudio(char* buffer, unsigned long count) {
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

}  // namespace detail
}  // namespace avi
