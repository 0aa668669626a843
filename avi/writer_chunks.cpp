// The writer: data chunks, RIFF segmentation into "AVIX" chunks, and keeping
// the header region readable while a recording grows.
#include <avi/writer.hpp>
#include <avi/chunkbuffer.hpp>

#include <boost/numeric/conversion/cast.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>

#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace avi {
namespace detail {

namespace {

using boost::numeric_cast;

// A RIFF chunk stays below 2 GiB so that readers taking its size as signed
// still find their way.
constexpr std::uint64_t RIFF_LIMIT = 0x7FFFFFFF;
// "RIFF" size "AVIX" "LIST" size "movi": room left for the head of a later RIFF chunk.
constexpr std::uint64_t AVIX_HEAD_BYTES = 24;
// A recording cut short loses at most this much (or one second of media).
constexpr std::uint64_t REFRESH_BYTES = 64ull << 20;

}  // namespace

// ---- data chunks ----

void Writer::writeVideoFrame(char* data, unsigned int size) {
    if (!writerReady()) return;
    if (!hasVideoStream) {
        setError(errors::VIDEO_CHUNKS_MISSING);
        return;
    }
    writeMoviEntry(data, size, size, videoChunkId, videoIndex);
}

void Writer::writeVideoFrame(char* data) {
    if (hasVideoStream && videoFrameSize == 0) {
        // 2, 4, 16 and 32 bits have no implied frame size: an empty chunk
        // would be a lost frame, so the sized form is required.
        setError(errors::BAD_VIDEO_ENTRY_SIZE);
        return;
    }
    writeVideoFrame(data, videoFrameSize);
}

void Writer::writeAudio(char* data) {
    if (!writerReady()) return;
    if (!hasAudioStream) {
        setError(errors::AUDIO_CHUNKS_MISSING);
        return;
    }
    writeMoviEntry(data, audioChunkDataSize, audioChunkSize, audioChunkId, audioIndex);
}

void Writer::writeMoviEntry(char* data, std::uint32_t chunkSize, std::uint32_t writeLength, const char* chunkId,
                            std::vector<IndexEntry>& index) {
    if (!data && writeLength) {
        setError(errors::FWRITE_FAILED);
        return;
    }
    // Data of odd length is followed by a pad byte, so that the next chunk
    // starts at an even offset where a RIFF walk looks for it.
    const std::uint64_t stored = std::uint64_t(writeLength) + (writeLength & 1u);
    // Every RIFF chunk takes one super-index entry per stream in the header
    // region; a chunk whose RIFF chunk would have no entry left is refused, so
    // the header written by close never runs into the data.
    const std::uint64_t closed = std::max(videoSuperIndex.size(), audioSuperIndex.size());
    const std::uint64_t needed = closed + (atRiffBoundary(stored) ? 2 : 1);
    if (!headerFits(needed, needed)) {
        setError(errors::INVALID_INDEX_OFFSET);
        return;
    }
    // Before the first data chunk the header region gets what is known, so
    // that a recording cut short anywhere is a readable file.
    if (!headerWritten) refreshHeader();
    updateRiffChunk(stored);

    const std::uint64_t start = writePos;
    const std::uint64_t offset = start - moviPos;
    if (start < moviPos || offset > std::numeric_limits<std::uint32_t>::max()) {
        setError(errors::INVALID_INDEX_OFFSET);
        return;
    }
    // A chunk that did not reach the file is not indexed, and the next chunk
    // (or index) takes its place, so the file stays consistent.
    if (!writeChunkAt(start, chunkId, chunkSize, data, writeLength)) return;
    const std::uint64_t total = 8 + stored;
    index.push_back(IndexEntry{static_cast<std::uint32_t>(offset), chunkSize, moviPos});
    writePos = start + total;
    curRiffMoviBytes = numeric_cast<std::uint32_t>(std::uint64_t(curRiffMoviBytes) + total);
    noteChunkWritten(total, &index == &videoIndex);
}

bool Writer::writeChunkAt(std::uint64_t start, const char* chunkId, std::uint32_t chunkSize, const char* data,
                          std::uint32_t writeLength) {
    // The chunk goes out in one positioned write: header, data, pad byte.
    char head[8];
    ByteWriter(head).fourcc(chunkId).u32(chunkSize);
    char zero = 0;
    const unsigned pad = writeLength & 1u;
    iovec parts[3] = {{head, sizeof head}, {const_cast<char*>(data), writeLength}, {&zero, pad}};
    const std::size_t total = 8 + std::size_t(writeLength) + pad;
    ssize_t n;
    do {
        n = ::pwritev(stream.descriptor(), parts, pad ? 3 : 2, static_cast<off_t>(start));
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(total)) return true;
    if (n < 0) {
        ++writeFailures;
        setError(errors::FWRITE_FAILED);
        return false;
    }
    // A partial write: the rest piece by piece, which reports a failure.
    std::size_t done = static_cast<std::size_t>(n);
    std::uint64_t at = start;
    for (const iovec& part : parts) {
        const std::size_t skip = std::min(done, part.iov_len);
        done -= skip;
        if (part.iov_len > skip &&
            !writeAt(at + skip, static_cast<const char*>(part.iov_base) + skip, part.iov_len - skip))
            return false;
        at += part.iov_len;
    }
    return true;
}

// ---- keeping a growing file readable ----

void Writer::noteChunkWritten(std::uint64_t bytes, bool video) {
    bytesSinceRefresh += bytes;
    bool second = false;
    if (video) {
        // Within one frame of a second of video (rate is frames per 10^6 s).
        ++videoFramesSinceRefresh;
        second = (videoFramesSinceRefresh + 1) * 1000000ull > streamHeaders[videoStreamIndex].rate;
    } else {
        audioBytesSinceRefresh += audioChunkDataSize;
        const std::uint64_t perSecond =
            std::uint64_t(streamHeaders[audioStreamIndex].sampleSize) * waveFormat.samplesPerSec;
        second = audioBytesSinceRefresh + audioChunkDataSize > perSecond;
    }
    if (second || bytesSinceRefresh >= REFRESH_BYTES) refreshHeader();
}

void Writer::refreshHeader() {
    if (!hasVideoStream && !hasAudioStream) return;
    bytesSinceRefresh = 0;
    videoFramesSinceRefresh = 0;
    audioBytesSinceRefresh = 0;
    // The counts as if the current RIFF chunk ended here.
    HeaderCounts counts = finalCounts();
    if (firstMoviEnd == 0 && isFirstRiffChunk()) {
        counts.firstRiffLength = writePos;
        counts.videoFrames = videoIndex.size();
        counts.firstRiffAudioChunks = audioIndex.size();
        counts.audioChunks = audioIndex.size();
    } else {
        writeAvixHead();  // the current RIFF chunk's head, with its size so far
        counts.videoFrames += videoIndex.size();
        counts.audioChunks += audioIndex.size();
    }
    writeHeader(counts, true);
    headerWritten = true;
}

HeaderCounts Writer::finalCounts() const {
    HeaderCounts c;
    c.firstRiffLength = firstRiffLength;
    c.videoFrames = std::uint64_t(laterVideoFrames) + firstRiffVideoChunks;
    c.firstRiffAudioChunks = firstRiffAudioChunks;
    c.audioChunks = std::uint64_t(firstRiffAudioChunks) + laterAudioChunks;
    return c;
}

void Writer::finishWriting() {
    if (!hasAudioStream && !hasVideoStream) return;
    closeCurRiffChunk();
    writeHeader(finalCounts(), false);
    // Bytes of a chunk that failed to be written may lie past the end.
    struct stat info {};
    if (::fstat(stream.descriptor(), &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<std::uint64_t>(info.st_size) > writePos && writeFailures != 0)
        (void)::ftruncate(stream.descriptor(), static_cast<off_t>(writePos));
}

// ---- RIFF segmentation ----

bool Writer::isFirstRiffChunk() const {
    return videoSuperIndex.empty() && audioSuperIndex.empty() && firstRiffLength == 0;
}

std::uint32_t Writer::getCurRiffChunkSize() const {
    if (isFirstRiffChunk()) return numeric_cast<std::uint32_t>(writePos);
    return numeric_cast<std::uint32_t>(writePos - moviPos + 12);
}

bool Writer::atRiffBoundary(std::uint64_t length) const {
    // The chunk with its head, and the standard indexes that close the RIFF
    // chunk with one more entry each.
    const std::uint64_t size = getCurRiffChunkSize();
    const std::uint64_t video = hasVideoStream ? standardIndexChunkBytes(videoIndex.size() + 1) : 0;
    const std::uint64_t audio = hasAudioStream ? standardIndexChunkBytes(audioIndex.size() + 1) : 0;
    return size + length + 8 + video + audio > RIFF_LIMIT;
}

void Writer::updateRiffChunk(std::uint64_t length) {
    if (!atRiffBoundary(length)) return;
    closeCurRiffChunk();
    const std::uint64_t end = writePos;
    writePos = end + AVIX_HEAD_BYTES;
    moviPos = end + AVIX_HEAD_BYTES - 4;
    refreshHeader();
}

void Writer::closeCurRiffChunk() {
    const bool first = isFirstRiffChunk();
    if (hasVideoStream) writeStandardIndex(videoChunkId, videoStreamIndex, videoIndex, videoSuperIndex);
    if (hasAudioStream) writeStandardIndex(audioChunkId, audioStreamIndex, audioIndex, audioSuperIndex);
    if (first) {
        firstMoviEnd = writePos;
        ChunkBuffer idx1;
        serializeLegacyIndex(idx1);
        writeBytes(idx1.data(), idx1.size());
        firstRiffLength = numeric_cast<std::uint32_t>(writePos);
        firstRiffVideoChunks = numeric_cast<std::uint32_t>(videoIndex.size());
        firstRiffAudioChunks = numeric_cast<std::uint32_t>(audioIndex.size());
        firstRiffMoviBytes = curRiffMoviBytes;
    } else {
        writeAvixHead();
        laterVideoFrames = numeric_cast<std::uint32_t>(std::uint64_t(laterVideoFrames) + videoIndex.size());
        laterAudioChunks = numeric_cast<std::uint32_t>(std::uint64_t(laterAudioChunks) + audioIndex.size());
    }
    videoIndex.clear();
    audioIndex.clear();
    curRiffMoviBytes = 0;
}

void Writer::writeAvixHead() {
    const std::uint32_t size = getCurRiffChunkSize();
    char head[AVIX_HEAD_BYTES];
    ByteWriter(head).fourcc("RIFF").u32(size).fourcc("AVIX").fourcc("LIST").u32(size - 12).fourcc("movi");
    writeAt(moviPos - 20, head, sizeof head);
}

std::uint32_t Writer::getMoviLength() const {
    // While the first RIFF chunk is being written: its list as if it were
    // closed now, with its standard indexes.
    const bool open = isFirstRiffChunk();
    const std::uint64_t videoEntries = open ? videoIndex.size() : firstRiffVideoChunks;
    const std::uint64_t audioEntries = open ? audioIndex.size() : firstRiffAudioChunks;
    std::uint64_t length = 4 + std::uint64_t(open ? curRiffMoviBytes : firstRiffMoviBytes);
    if (hasVideoStream) length += standardIndexChunkBytes(videoEntries);
    if (hasAudioStream) length += standardIndexChunkBytes(audioEntries);
    return numeric_cast<std::uint32_t>(length);
}

}  // namespace detail
}  // namespace avi
