// The reader: the RIFF walk, the main header and the stream lists.
#include <avi/reader.hpp>
#include <avi/bitmaprows.hpp>
#include <avi/riffcursor.hpp>

#include <cstdio>
#include <cstring>
#include <vector>

namespace avi {
namespace detail {


namespace {

// Top-level items are at least 8 bytes apart, so a walk of a real file ends
// long before this; it only stops a walk that something keeps from advancing.
constexpr unsigned kMaxTopLevelChunks = 1u << 24;

bool same4(const char* a, const char* b) { return std::memcmp(a, b, 4) == 0; }

}  // namespace

void Reader::parseFile() {
    char head[12];
    if (!readExact(0, head, 12)) {
        setError(errors::FREAD_FAILED);
        return;
    }
    ByteReader r(head, 12);
    char id[4], type[4];
    r.fourcc(id);
    const std::uint32_t riffSize = r.u32();
    r.fourcc(type);
    if (!same4(id, "RIFF")) {
        setError(errors::RIFF_CHUNK_MISSING);
        return;
    }
    if (same4(type, "WAVE")) {
        setError(errors::WAVE_FILE);
        return;
    }
    if (!same4(type, "AVI ")) {
        setError(errors::AVI_CHUNK_MISSING);
        return;
    }
    riffFileSize = evenSize(riffSize) + 8;

    // The top-level walk: the header list, the movi list and idx1. Nested
    // RIFF chunks (AVIX extensions) are stepped over whole.
    std::uint64_t pos = 12;
    for (unsigned n = 0; n < kMaxTopLevelChunks && pos < fileSize; ++n) {
        if (!readExact(pos, head, 12)) break;
        ByteReader c(head, 12);
        c.fourcc(id);
        const std::uint64_t size = evenSize(c.u32());
        c.fourcc(type);
        const std::uint64_t after = pos + 12;
        if (same4(id, "LIST") && same4(type, "hdrl")) {
            if (after <= UINT32_MAX) hdrlPos = static_cast<std::uint32_t>(after);
        } else if (same4(id, "LIST") && same4(type, "movi")) {
            moviPos = after - 4;
        } else if (same4(id, "idx1")) {
            // idx1Pos is a 32-bit field: an idx1 beyond 4 GiB cannot be recorded.
            if (after - 8 <= UINT32_MAX) idx1Pos = static_cast<std::uint32_t>(after - 8);
            break;
        }
        pos += 8 + size;  // always advances by at least 8
    }

    parseMainHeader();
    if (status.code) return;
    if (mainHeader.streams > File::MAX_STREAMS) {
        setError(errors::TOO_MANY_STREAMS);
        return;
    }
    parseStreamLists();
    if (status.code) return;
    if (videoIndex.empty() && audioIndex.empty()) parseLegacyIndex();
}

void Reader::parseMainHeader() {
    char head[8];
    if (!readExact(hdrlPos, head, 8)) {
        setError(errors::FREAD_FAILED);
        return;
    }
    ByteReader h(head, 8);
    char id[4];
    h.fourcc(id);
    const std::uint64_t size = evenSize(h.u32());
    if (!same4(id, "avih")) {
        setError(errors::MAIN_HEADER_MISSING);
        return;
    }
    if (size > 56) {
        setError(errors::UNSUPPORTED_MAIN_HEADER);
        return;
    }
    char data[56] = {};
    if (!readExact(std::uint64_t(hdrlPos) + 8, data, size)) {
        setError(errors::FREAD_FAILED);
        return;
    }
    streamListPos = static_cast<std::uint32_t>(hdrlPos + 8 + size);
    ByteReader r(data, size);
    MainHeader& m = mainHeader;
    m.microSecPerFrame = r.u32();
    m.maxBytesPerSec = r.u32();
    m.paddingGranularity = r.u32();
    m.flags = r.u32();
    m.totalFrames = r.u32();
    m.initialFrames = r.u32();
    m.streams = r.u32();
    m.suggestedBufferSize = r.u32();
    m.width = r.u32();
    m.height = r.u32();
    for (auto& v : m.reserved) v = r.u32();
    constexpr std::uint32_t kMustUseIndex = 0x20;
    mustUseIndexFlag = (m.flags & kMustUseIndex) != 0;
}

void Reader::parseStreamLists() {
    hasAudioStream = hasVideoStream = false;
    audioStreamIndex = videoStreamIndex = 0;
    if (mainHeader.streams == 0) return;
    std::vector<char> list;
    std::uint64_t pos = streamListPos;
    for (unsigned i = 0; i < mainHeader.streams && i < File::MAX_STREAMS; ++i) {
        char head[12];
        if (!readExact(pos, head, 12)) {
            setError(errors::FREAD_FAILED);
            return;
        }
        ByteReader h(head, 12);
        char id[4], type[4];
        h.fourcc(id);
        const std::uint64_t size = evenSize(h.u32());
        h.fourcc(type);
        if (!same4(id, "LIST") || !same4(type, "strl")) {
            setError(errors::STREAM_LIST_MISSING);
            return;
        }
        // The list data must be in the file before a buffer is sized from it.
        const std::uint64_t dataLength = size >= 4 ? size - 4 : 0;
        if (dataLength > fileSize - (pos + 12 < fileSize ? pos + 12 : fileSize)) {
            setError(errors::FREAD_FAILED);
            return;
        }
        const std::size_t got = readRecord(pos + 12, dataLength, list);
        ByteReader walk(list.data(), got);
        if (walk.size() != dataLength) {
            setError(errors::FREAD_FAILED);
            return;
        }
        while (walk.remaining() >= 8) {
            char subId[4];
            walk.fourcc(subId);
            const std::uint64_t declared = evenSize(walk.u32());
            // A sub-chunk running past the list is cut at the list's end.
            const std::size_t length =
                static_cast<std::size_t>(declared < walk.remaining() ? declared : walk.remaining());
            const char* data = list.data() + walk.position();
            if (same4(subId, "strh")) {
                if (declared > 64)
                    setError(errors::BAD_STRH_LENGTH);
                else
                    parseStreamHeader(i, data, length);
            } else if (same4(subId, "strf")) {
                parseStreamFormat(i, data, length);
                // The limit applies to what the chunk claims, not to the cut part.
                if (declared > 128 && length <= 128 && hasAudioStream && audioStreamIndex == i &&
                    std::memcmp(streamHeaders[i].fccType, "auds", 4) == 0)
                    setError(errors::UNSUPPORTED_AUDIO_HEADER);
            } else if (same4(subId, "indx")) {
                parseStreamIndex(i, data, length);
            }
            walk.skip(static_cast<std::size_t>(declared < walk.remaining() ? declared : walk.remaining()));
        }
        if (hasVideoStream && hasAudioStream) return;
        pos += size + 8;
    }
}

void Reader::parseStreamHeader(unsigned int stream, const char* data, std::size_t length) {
    if (length > 64) {
        setError(errors::BAD_STRH_LENGTH);
        return;
    }
    if (stream >= File::MAX_STREAMS) return;
    StreamHeader& s = streamHeaders[stream];
    ByteReader r(data, length);
    r.fourcc(s.fccType);
    s.fccType[4] = '\0';
    r.fourcc(s.fccHandler);
    s.fccHandler[4] = '\0';
    s.flags = r.u32();
    s.priority = r.u32();
    s.initialFrames = r.u32();
    s.scale = r.u32();
    s.rate = r.u32();
    s.start = r.u32();
    s.length = r.u32();
    s.suggestedBufferSize = r.u32();
    s.quality = r.u32();
    s.sampleSize = r.u32();
    if (length == 56) {
        s.frame.left = r.u16();
        s.frame.top = r.u16();
        s.frame.right = r.u16();
        s.frame.bottom = r.u16();
    } else if (length == 64) {
        s.frame.left = r.u32();
        s.frame.top = r.u32();
        s.frame.right = r.u32();
        s.frame.bottom = r.u32();
    }
    s.disabled = (s.flags & 1u) != 0;
    s.paletteChanges = false;
}

void Reader::parseStreamFormat(unsigned int stream, const char* data, std::size_t length) {
    if (stream >= File::MAX_STREAMS) return;
    const char* type = streamHeaders[stream].fccType;
    if (same4(type, "auds")) {
        if (!hasAudioStream) {
            audioStreamIndex = stream;
            hasAudioStream = true;
            std::snprintf(audioChunkId, sizeof audioChunkId, "0%uwb", stream);
            parseAudioStreamFormat(data, length);
        }
    } else if (same4(type, "vids")) {
        if (!hasVideoStream) {
            videoStreamIndex = stream;
            hasVideoStream = true;
            std::snprintf(videoChunkId, sizeof videoChunkId, "0%udb", stream);
            parseVideoStreamFormat(data, length);
        }
    }
}

void Reader::parseAudioStreamFormat(const char* data, std::size_t length) {
    if (length > 128) {
        setError(errors::UNSUPPORTED_AUDIO_HEADER);
        return;
    }
    ByteReader r(data, length);
    waveFormat.formatTag = r.u16();
    waveFormat.channels = r.u16();
    waveFormat.samplesPerSec = r.u32();
    waveFormat.avgBytesPerSec = r.u32();
    waveFormat.blockAlign = r.u16();
    waveFormat.bitsPerSample = r.u16();
    waveFormat.cbSize = r.u16();
}

void Reader::parseVideoStreamFormat(const char* data, std::size_t length) {
    ByteReader r(data, length);
    BitmapInfoHeader& b = bitmapHeader;
    b.size = r.u32();
    if (b.size != 40) {
        setError(errors::UNSUPPORTED_BITMAP_HEADER);
        return;
    }
    b.width = r.i32();
    b.height = r.i32();
    b.planes = r.u16();
    b.bitCount = r.u16();
    b.compression = r.u32();
    b.sizeImage = r.u32();
    b.xPelsPerMeter = r.i32();
    b.yPelsPerMeter = r.i32();
    b.clrUsed = r.u32();
    b.clrImportant = r.u32();
    // BI_BITFIELDS: the three colour masks follow the header. They are not
    // colours, and a palette (none for 16 and 32 bits) would follow them.
    constexpr std::uint32_t kBitfields = 3;
    if (b.compression == kBitfields && length >= 52) {
        for (std::uint32_t& mask : colourMasks) mask = r.u32();
        hasColourMasks = true;
        length -= 12;
    }
    if (length > 40) {
        colormap.clear();
        const std::size_t entries = (length - 40) / 4;
        colormap.reserve(entries);
        for (std::size_t k = 0; k < entries; ++k) {
            tagRGBQUAD q;
            q.blue = r.u8();
            q.green = r.u8();
            q.red = r.u8();
            q.reserved = r.u8();
            colormap.push_back(q);
        }
    }
    // A frame whose 24-bit form would not fit 32-bit sizes cannot be
    // delivered, and a negative width or the height -2^31 has no picture.
    const std::int64_t w = b.width;
    const std::int64_t h = b.height < 0 ? -static_cast<std::int64_t>(b.height) : b.height;
    if (w < 0 || h > INT32_MAX || static_cast<std::uint64_t>(h) * (3 * static_cast<std::uint64_t>(w) + 3) > UINT32_MAX ||
        static_cast<std::uint64_t>(h) * bitmapRowBytes(static_cast<std::uint64_t>(w), b.bitCount) > UINT32_MAX) {
        setError(errors::UNSUPPORTED_BITMAP_HEADER);
        return;
    }
    if (b.height < 0) {
        topDownFrames = true;
        b.height = -b.height;
        mainHeader.height = static_cast<std::uint32_t>(b.height);
    }
    assignClrmapIf2or4or8bitAVIwithNoClrmap();
}

void Reader::assignClrmapIf2or4or8bitAVIwithNoClrmap() {
    const unsigned bits = bitmapHeader.bitCount;
    if (!colormap.empty() || (bits != 2 && bits != 4 && bits != 8)) return;
    const unsigned entries = 1u << bits;
    colormap.resize(entries);
    for (unsigned i = 0; i < entries; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        colormap[i] = tagRGBQUAD{v, v, v, 0};
    }
}

void Reader::verifySupport() {
    if (hasAudioStream && waveFormat.bitsPerSample != 8 && waveFormat.bitsPerSample != 16) {
        setError(errors::UNSUPPORTED_AUDIO_BITS);
        return;
    }
    if (mustUseIndexFlag) setError(errors::INTERNAL_INDEX_REQUIRED);
}

void Reader::errorIfWrongNumFrameForRGB24() {
    if (bitmapHeader.bitCount != 24 || bitmapHeader.compression != 0) return;
    // The frames of an OpenDML file are spread over its RIFF chunks: count
    // the "AVIX" chunks that follow the first one too.
    std::uint64_t riffBytes = riffFileSize;
    for (unsigned n = 0; n < kMaxTopLevelChunks && riffBytes + 12 <= fileSize; ++n) {
        char head[12];
        if (!readExact(riffBytes, head, 12)) break;
        ByteReader r(head, 12);
        char id[4], type[4];
        r.fourcc(id);
        const std::uint64_t size = evenSize(r.u32());
        r.fourcc(type);
        if (!same4(id, "RIFF") || !same4(type, "AVIX")) break;
        riffBytes += 8 + size;
    }
    const std::uint64_t bytes = std::uint64_t(getVideoWidth()) * getVideoHeight() * mainHeader.totalFrames * 3u;
    if (riffBytes < bytes) setError(errors::INVALID_FRAME_COUNT);
}

}  // namespace detail
}  // namespace avi
