// The reader's indexes: from OpenDML indexes, from idx1, or by walking the
// movi list, every entry stored by one rule.
#include <avi/reader.hpp>
#include <avi/bitmaprows.hpp>
#include <avi/fourcc.hpp>
#include <avi/riffcursor.hpp>

#include <boost/lexical_cast.hpp>
#include <boost/numeric/conversion/cast.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace avi {
namespace detail {

namespace {

constexpr unsigned kNoStream = 256;
// A super index names standard indexes; anything deeper is not a valid file.
constexpr unsigned kMaxIndexDepth = 1;

bool isVideoType(const char* id) { return id[2] == 'd' && (id[3] == 'b' || id[3] == 'c'); }
bool isAudioType(const char* id) { return id[2] == 'w' && id[3] == 'b'; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// What a movi list holds: stream data ("00dc", "01wb", ...), standard
// indexes ("ix00"), JUNK and LIST (rec groups).
bool isMoviChunkId(const char* id) {
    if (isDigit(id[0]) && isDigit(id[1]) && isLetter(id[2]) && isLetter(id[3])) return true;
    if (id[0] == 'i' && id[1] == 'x' && isDigit(id[2]) && isDigit(id[3])) return true;
    return std::memcmp(id, "JUNK", 4) == 0 || std::memcmp(id, "LIST", 4) == 0;
}

unsigned streamNumberOfChunkId(const char* id, unsigned audioStream, unsigned videoStream) {
    unsigned n = 0;
    if (!boost::conversion::try_lexical_convert(std::string(id, 2), n)) return kNoStream;
    return (n == audioStream || n == videoStream) ? n : kNoStream;
}

aviindex_chunk readIndexHead(ByteReader& r) {
    aviindex_chunk head;
    head.longsPerEntry = r.u16();
    head.indexSubType = r.u8();
    head.indexType = r.u8();
    head.entriesInUse = r.u32();
    head.chunkId = r.u32();
    return head;
}

}  // namespace

// ---- storing entries ----

// The rule for every entry, whichever index names it:
// - Only chunks of the streams this reader delivers are kept: "##db" and
//   "##dc" for video, "##wb" for audio.
// - A standard index keeps a mark in bit 31 of the size field (set: not a
//   key frame) and the size in the other 31 bits. idx1 has no such mark: a
//   video size there with bit 31 set is no size at all (error 46). Entries of
//   idx1 and of the walk are key frames.
// - The walk takes a chunk's own header, which it checked to lie in the file.
// - A size of 0 is a dropped frame, kept so that every frame keeps its time.
// - Every data chunk takes at least its 8-byte header in the file, so no
//   honest index holds more entries than that; this stops an index that
//   names the same entries over and over from exhausting memory.
void Reader::addIndexEntry(unsigned stream, const char* id, std::uint32_t offset, std::uint32_t sizeField,
                           std::uint64_t base, EntryOrigin origin) {
    constexpr std::uint32_t kBit31 = 0x80000000u;
    std::uint32_t size = sizeField;
    bool key = true;
    if (origin == EntryOrigin::Standard) {
        size = sizeField & ~kBit31;
        key = (sizeField & kBit31) == 0;
    } else if (origin == EntryOrigin::Legacy && (sizeField & kBit31) != 0 && hasVideoStream &&
               stream == videoStreamIndex) {
        // (Only a video stream is checked: in an audio-only file the unset
        // video stream number would otherwise catch the audio entries.)
        setError(errors::BAD_VIDEO_ENTRY_SIZE);
        return;
    }
    const bool video = isVideoType(id);
    if (!video && !isAudioType(id)) return;
    if (videoIndex.size() + audioIndex.size() >= fileSize / 8 + 1) {
        setError(errors::INVALID_INDEX);
        return;
    }
    // Entries of the first index that names a stream say where its index came from.
    const IndexSource source = origin == EntryOrigin::Legacy     ? IndexSource::Legacy
                               : origin == EntryOrigin::Standard ? IndexSource::OpenDML
                                                                 : IndexSource::Scan;
    const IndexEntry entry{offset, size, base};
    if (video) {
        videoIndex.push_back(entry);
        videoKeyFrames.push_back(key);
        mainHeader.totalFrames = static_cast<std::uint32_t>(videoIndex.size());
        if (videoFrameSize == 0) videoFrameSize = size;
        if (videoIndexSource == IndexSource::None) videoIndexSource = source;
    } else {
        audioIndex.push_back(entry);
        if (audioChunkSize == 0) audioChunkSize = size;
        if (audioIndexSource == IndexSource::None) audioIndexSource = source;
    }
}

// ---- idx1 ----

void Reader::parseLegacyIndex() {
    if (idx1Pos == 0) return;
    char sizeField[4];
    if (!readExact(idx1Pos, sizeField, 4)) {
        setError(errors::FREAD_FAILED);
        return;
    }
    const std::uint64_t size = evenSize(ByteReader(sizeField, 4).u32());
    if (size < 16) {
        setError(errors::INVALID_LEGACY_INDEX);
        return;
    }
    const std::uint64_t count = size / 16;

    // Offsets normally count from the "movi" type code; some writers count
    // them from the start of the file. The first entry of one of our streams
    // decides: whichever base puts its chunk id at the named position wins,
    // with the movi base kept when neither does.
    std::uint64_t base = moviPos;
    bool baseDecided = false;

    const std::uint64_t entriesStart = static_cast<std::uint64_t>(idx1Pos) + 4;
    constexpr std::uint64_t kBlock = 4096;  // entries read at a time
    std::vector<char> block;
    for (std::uint64_t first = 0; first < count && !status.code; first += kBlock) {
        const std::uint64_t wanted = (count - first < kBlock ? count - first : kBlock);
        const std::size_t got = readRecord(entriesStart + 16 * first, static_cast<std::size_t>(wanted * 16), block);
        ByteReader entries(block.data(), got);
        const std::uint64_t whole = entries.size() / 16;
        for (std::uint64_t k = 0; k < whole; ++k) {
            ByteReader r = entries.sub(16);
            char ckid[4];
            r.fourcc(ckid);
            r.u32();  // flags
            const std::uint32_t chunkOffset = r.u32();
            const std::uint32_t chunkLength = r.u32();
            const unsigned stream = streamNumberOfChunkId(ckid, audioStreamIndex, videoStreamIndex);
            if (stream == kNoStream) continue;
            if (!baseDecided) {
                baseDecided = true;
                auto idAt = [&](std::uint64_t position) {
                    char found[4];
                    return readExact(position, found, 4) && std::memcmp(found, ckid, 4) == 0;
                };
                if (!idAt(moviPos + chunkOffset) && idAt(chunkOffset)) base = 0;
            }
            if (static_cast<std::uint64_t>(chunkOffset) + 8 > UINT32_MAX) {
                setError(errors::LEGACY_INDEX_PARSE_ERROR);
                break;
            }
            addIndexEntry(stream, ckid, chunkOffset + 8, chunkLength, base, EntryOrigin::Legacy);
            if (status.code) break;
        }
        if (!status.code && whole < wanted) setError(errors::LEGACY_INDEX_PARSE_ERROR);
    }
}

// ---- OpenDML indexes ----

void Reader::parseStreamIndex(unsigned stream, const char* data, std::size_t length, unsigned depth) {
    if (stream != audioStreamIndex && stream != videoStreamIndex) return;
    ByteReader r(data, length);
    const aviindex_chunk h = readIndexHead(r);
    const std::size_t rest = r.remaining();
    const char* body = data + r.position();
    switch (h.indexType) {
    case 0:
        if (depth >= kMaxIndexDepth)
            setError(errors::INVALID_INDEX);
        else
            parseOpenDMLSuperIndex(stream, h, body, rest, depth);
        break;
    case 1: parseOpenDMLStandardIndex(stream, h, body, rest); break;
    case 0x80: setError(errors::UNSUPPORTED_INDEX_TYPE); break;
    default: setError(errors::INVALID_INDEX); break;
    }
}

void Reader::parseOpenDMLSuperIndex(unsigned stream, const aviindex_chunk& head, const char* data,
                                    std::size_t length, unsigned depth) {
    ByteReader r(data, length);
    r.skip(12);  // reserved
    // Entries beyond the bytes that hold them do not exist.
    const std::uint64_t held = r.remaining() / 16;
    const std::uint64_t count = head.entriesInUse < held ? head.entriesInUse : held;
    std::vector<char> chunk;
    for (std::uint64_t k = 0; k < count && !status.code; ++k) {
        const std::uint64_t offset = r.u64();
        const std::uint32_t size = r.u32();
        r.u32();  // duration
        if (offset > fileSize || size > fileSize - offset || readRecord(offset, size, chunk) != size) {
            setError(errors::FREAD_FAILED);
            break;
        }
        if (size < 8) continue;  // no room for a head: nothing to add
        parseStreamIndex(stream, chunk.data() + 8, size - 8, depth + 1);
    }
}

void Reader::parseOpenDMLStandardIndex(unsigned stream, const aviindex_chunk& head, const char* data,
                                       std::size_t length) {
    if (head.indexSubType != 0) {
        setError(errors::UNSUPPORTED_INDEX_TYPE);
        return;
    }
    ByteReader r(data, length);
    const std::uint64_t base = r.u64();
    r.u32();  // reserved
    const std::uint64_t held = r.remaining() / 8;
    const std::uint64_t count = head.entriesInUse < held ? head.entriesInUse : held;
    const std::string id = fourccText(head.chunkId);
    for (std::uint64_t k = 0; k < count; ++k) {
        const std::uint32_t offset = r.u32();
        const std::uint32_t field = r.u32();
        addIndexEntry(stream, id.c_str(), offset, field, base, EntryOrigin::Standard);
        if (status.code) return;
    }
}

// ---- the movi walk ----

void Reader::verifyIndex() {
    if (hasVideoStream && videoIndex.empty()) {
        buildLegacyIndex(videoChunkId);
        // A movi list cut short (a recording that ended abruptly) still holds
        // the audio chunks before the cut: scan for them too, keeping code 11.
        if (status.code && status.code != errors::VIDEO_CHUNKS_MISSING) return;
    }
    if (hasAudioStream && audioIndex.empty()) buildLegacyIndex(audioChunkId);
}

bool Reader::chunkIsWhole(const char* id, std::uint64_t dataPos, std::uint32_t size) {
    std::uint64_t needed = size;
    // An uncompressed frame is read at the picture's size, whatever its chunk claims.
    if (isVideoType(id) && !isVideoCompressed() && bitmapHeader.bitCount != 0) {
        const std::uint64_t stride = bitmapRowBytes(getVideoWidth(), bitmapHeader.bitCount);
        needed = std::min<std::uint64_t>(needed, stride * getVideoHeight());
    }
    return dataPos <= fileSize && needed <= fileSize - dataPos;
}

void Reader::buildLegacyIndex(const char* chunkId) {
    char head[8];
    if (moviPos < 4) {
        setError(errors::SEEK_FAILED);
        return;
    }
    if (!readExact(moviPos - 4, head, 8)) {
        setError(errors::FREAD_FAILED);
        return;
    }
    const std::uint64_t declaredEnd = moviPos + evenSize(ByteReader(head, 4).u32());
    // A recording that was never closed (no idx1, the file longer than its
    // RIFF chunk says) has its sizes from the writer's last refresh; the
    // chunks written after it are whole in the file all the same. The walk
    // goes on past the list's stated end for as long as it meets movi chunks.
    const bool neverClosed = idx1Pos == 0 && riffFileSize < fileSize && declaredEnd <= riffFileSize;
    const std::uint64_t listEnd = neverClosed ? fileSize : declaredEnd;
    const unsigned stream = streamNumberOfChunkId(chunkId, audioStreamIndex, videoStreamIndex);
    // Video chunks are tagged "db" or "dc" whatever the compression.
    const bool video = isVideoType(chunkId);
    std::uint64_t pos = moviPos + 4;
    while (pos < listEnd) {
        const bool pastStatedEnd = pos >= declaredEnd;
        if (!readExact(pos, head, 8)) {
            if (!pastStatedEnd) setError(errors::VIDEO_CHUNKS_MISSING);
            break;
        }
        ByteReader r(head, 8);
        char id[4];
        r.fourcc(id);
        const std::uint32_t size = r.u32();
        if (pastStatedEnd && !isMoviChunkId(id)) break;
        const std::uint64_t data = pos + 8;
        char listType[4];
        // "rec " groups hold data chunks: step into them rather than over.
        if (std::memcmp(id, "LIST", 4) == 0 && size >= 4 && readExact(data, listType, 4) &&
            std::memcmp(listType, "rec ", 4) == 0) {
            pos = data + 4;
            continue;
        }
        const bool match = video ? (std::memcmp(id, chunkId, 2) == 0 && isVideoType(id))
                                 : std::memcmp(id, chunkId, 4) == 0;
        if (match) {
            // The file ends inside this chunk: what follows was never written.
            // (Past the stated end that is where the recording was cut.)
            if (!chunkIsWhole(id, data, size)) {
                if (!pastStatedEnd) setError(errors::VIDEO_CHUNKS_MISSING);
                break;
            }
            const std::uint32_t offset = boost::numeric_cast<std::uint32_t>(data - moviPos);
            if (stream != kNoStream) {
                // The entry keeps the chunk's true size: its pad byte is not data.
                // (A cut found by the video walk may already stand: only a
                // new error stops this walk.)
                const errors::error_T before = status.code;
                addIndexEntry(stream, id, offset, size, moviPos, EntryOrigin::Scan);
                if (status.code != before) break;
            }
        }
        pos = data + evenSize(size);
    }
}

}  // namespace detail
}  // namespace avi
