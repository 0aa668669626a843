// Writing side of avi::File: data chunks, RIFF segmentation into "AVIX"
// chunks, and keeping the header region readable while a recording grows.
#include <avi/avifile.hpp>
#include <avi/aviwriter_bytes.hpp>

#include <boost/numeric/conversion/cast.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>

#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace avi {

namespace {

using boost::numeric_cast;
using detail::ByteWriter;

// A RIFF chunk stays below 2 GiB so that readers taking its size as signed
// still find their way.
constexpr std::uint64_t RIFF_LIMIT = 0x7FFFFFFF;
// "RIFF" size "AVIX" "LIST" size "movi": room left for the head of a later RIFF chunk.
constexpr std::uint64_t AVIX_HEAD_BYTES = 24;
// A recording cut short loses at most this much (or one second of media).
constexpr std::uint64_t REFRESH_BYTES = 64ull << 20;

}  // namespace

// ---- plumbing ----

bool File::writeAt(std::uint64_t position, const void* data, std::size_t length) {
    const int fd = stream.descriptor();
    const auto* in = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < length && fd >= 0 && position + length <= std::uint64_t(std::numeric_limits<off_t>::max())) {
        const ssize_t n = ::pwrite(fd, in + done, length - done, static_cast<off_t>(position + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    if (done == length) return true;
    ++writeFailures;
    setError(errors::FWRITE_FAILED);
    return false;
}

bool File::writeBytes(const void* data, std::size_t length) {
    if (!writeAt(writePos, data, length)) return false;
    writePos += length;
    return true;
}

bool File::writeTell(std::uint64_t& position) {
    position = writePos;
    return true;
}

bool File::writeSeek(std::uint64_t position) {
    writePos = position;
    return true;
}

bool File::patchBytes(std::uint64_t position, const void* data, std::size_t length) {
    return writeAt(position, data, length);
}

bool File::writerReady() {
    if (!stream.isOpen() || mode != 1) {
        setError(errors::UNSUPPORTED_MODE);
        return false;
    }
    return true;
}

bool File::dataWritten() const {
    return !videoIndex.empty() || !audioIndex.empty() || !videoSuperIndex.empty() || !audioSuperIndex.empty() ||
           firstRiffLength != 0;
}

// ---- data chunks ----

void File::writeVideoFrame(char* data, unsigned int size) {
    if (!writerReady()) return;
    if (!hasVideoStream) {
        setError(errors::VIDEO_CHUNKS_MISSING);
        return;
    }
    writeMoviEntry(data, size, size, videoChunkId, videoIndex);
}

void File::writeVideoFrame(char* data) {
    if (hasVideoStream && videoFrameSize == 0) {
        // 2, 4, 16 and 32 bits have no implied frame size: an empty chunk
        // would be a lost frame, so the sized form is required.
        setError(errors::BAD_VIDEO_ENTRY_SIZE);
        return;
    }
    writeVideoFrame(data, videoFrameSize);
}

void File::writeAudio(char* data) {
    if (!writerReady()) return;
    if (!hasAudioStream) {
        setError(errors::AUDIO_CHUNKS_MISSING);
        return;
    }
    writeMoviEntry(data, audioChunkDataSize, audioChunkSize, audioChunkId, audioIndex);
}

void File::writeMoviEntry(char* data, unsigned int chunkSize, unsigned int writeLength, char* chunkId,
                          std::vector<avi::IndexEntry>& index) {
    if (!data && writeLength) {
        setError(errors::FWRITE_FAILED);
        return;
    }
    // Data of odd length is followed by a pad byte, so that the next chunk
    // starts at an even offset where a RIFF walk looks for it.
    const unsigned pad = writeLength & 1u;
    const std::uint64_t stored = std::uint64_t(writeLength) + pad;
    // Every RIFF chunk takes one super-index entry per stream in the header
    // region; a chunk whose RIFF chunk would have no entry left is refused, so
    // the header written by close never runs into the data.
    const std::uint64_t closed = std::max(videoSuperIndex.size(), audioSuperIndex.size());
    const std::uint64_t needed = closed + (atRiffBoundary(static_cast<unsigned long>(stored)) ? 2 : 1);
    if (!headerFits(needed, needed)) {
        setError(errors::INVALID_INDEX_OFFSET);
        return;
    }
    // Before the first data chunk the header region gets what is known, so
    // that a recording cut short anywhere is a readable file.
    if (!headerWritten) refreshHeader();
    updateRiffChunk(static_cast<unsigned long>(stored));

    const std::uint64_t start = writePos;
    const std::uint64_t offset = start - moviPos;
    if (start < moviPos || offset > std::numeric_limits<std::uint32_t>::max()) {
        setError(errors::INVALID_INDEX_OFFSET);
        return;
    }

    // The chunk goes out in one positioned write: header, data, pad byte.
    char head[8];
    ByteWriter(head).fourcc(chunkId).u32(chunkSize);
    char zero = 0;
    iovec parts[3] = {{head, sizeof head}, {data, writeLength}, {&zero, pad}};
    const std::size_t total = static_cast<std::size_t>(8 + stored);
    const int fd = stream.descriptor();
    ssize_t n;
    do {
        n = ::pwritev(fd, parts, pad ? 3 : 2, static_cast<off_t>(start));
    } while (n < 0 && errno == EINTR);
    bool written = n == static_cast<ssize_t>(total);
    if (!written && n >= 0) {
        // A partial write: the rest piece by piece, which reports a failure.
        std::size_t done = static_cast<std::size_t>(n);
        std::uint64_t at = start;
        written = true;
        for (const iovec& part : parts) {
            const std::size_t skip = std::min(done, part.iov_len);
            done -= skip;
            if (part.iov_len > skip &&
                !writeAt(at + skip, static_cast<const char*>(part.iov_base) + skip, part.iov_len - skip)) {
                written = false;
                break;
            }
            at += part.iov_len;
        }
    } else if (!written) {
        ++writeFailures;
        setError(errors::FWRITE_FAILED);
    }
    if (!written) {
        // A chunk that did not reach the file is not indexed, and the next
        // chunk (or index) takes its place, so the file stays consistent.
        return;
    }
    index.push_back(IndexEntry{static_cast<std::uint32_t>(offset), chunkSize, moviPos});
    writePos = start + total;
    curRiffMoviBytes = numeric_cast<std::uint32_t>(std::uint64_t(curRiffMoviBytes) + total);
    noteChunkWritten(total, &index == &videoIndex);
}

// ---- keeping a growing file readable ----

void File::noteChunkWritten(std::uint64_t bytes, bool video) {
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

void File::refreshHeader() {
    if (!hasVideoStream && !hasAudioStream) return;
    bytesSinceRefresh = 0;
    videoFramesSinceRefresh = 0;
    audioBytesSinceRefresh = 0;
    const bool first = firstMoviEnd == 0 && isFirstRiffChunk();
    if (!first) writeAVIXChunk();  // the current RIFF chunk's head, with its size so far
    // The counts as if the current RIFF chunk ended here; put back afterwards.
    const std::uint32_t saved[5] = {firstRiffLength, firstRiffVideoChunks, firstRiffAudioChunks, laterVideoFrames,
                                    laterAudioChunks};
    if (first) {
        firstRiffLength = numeric_cast<std::uint32_t>(writePos);
        firstRiffVideoChunks = numeric_cast<std::uint32_t>(videoIndex.size());
        firstRiffAudioChunks = numeric_cast<std::uint32_t>(audioIndex.size());
    } else {
        laterVideoFrames = numeric_cast<std::uint32_t>(laterVideoFrames + videoIndex.size());
        laterAudioChunks = numeric_cast<std::uint32_t>(laterAudioChunks + audioIndex.size());
    }
    writeHeader(true);
    firstRiffLength = saved[0];
    firstRiffVideoChunks = saved[1];
    firstRiffAudioChunks = saved[2];
    laterVideoFrames = saved[3];
    laterAudioChunks = saved[4];
    headerWritten = true;
}

void File::finishWriting() {
    if (!hasAudioStream && !hasVideoStream) return;
    closeCurRiffChunk();
    writeHeader();
    // Bytes of a chunk that failed to be written may lie past the end.
    struct stat info {};
    if (::fstat(stream.descriptor(), &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<std::uint64_t>(info.st_size) > writePos && writeFailures != 0)
        (void)::ftruncate(stream.descriptor(), static_cast<off_t>(writePos));
}

// ---- RIFF segmentation ----

bool File::isFirstRiffChunk() {
    return videoSuperIndex.empty() && audioSuperIndex.empty() && firstRiffLength == 0;
}

std::uint32_t File::getCurRiffChunkSize() {
    if (isFirstRiffChunk()) return numeric_cast<std::uint32_t>(writePos);
    return numeric_cast<std::uint32_t>(writePos - moviPos + 12);
}

bool File::atRiffBoundary(unsigned long length) {
    const std::uint64_t size = getCurRiffChunkSize();
    const std::uint64_t video =
        hasVideoStream ? std::uint64_t(getOpenDMLStandardIndexLength(videoIndex.size() + 1)) + 8 : 0;
    const std::uint64_t audio =
        hasAudioStream ? std::uint64_t(getOpenDMLStandardIndexLength(audioIndex.size() + 1)) + 8 : 0;
    return size + length + 8 + video + audio > RIFF_LIMIT;
}

void File::updateRiffChunk(unsigned long length) {
    if (!atRiffBoundary(length)) return;
    closeCurRiffChunk();
    const std::uint64_t end = writePos;
    writePos = end + AVIX_HEAD_BYTES;
    moviPos = end + AVIX_HEAD_BYTES - 4;
    refreshHeader();
}

void File::closeCurRiffChunk() {
    const bool first = isFirstRiffChunk();
    if (hasVideoStream) writeOpenDMLStandardIndex(videoChunkId, videoStreamIndex, videoIndex, videoSuperIndex);
    if (hasAudioStream) writeOpenDMLStandardIndex(audioChunkId, audioStreamIndex, audioIndex, audioSuperIndex);
    if (first) {
        firstMoviEnd = writePos;
        writeLegacyIndex();
        firstRiffLength = numeric_cast<std::uint32_t>(writePos);
        firstRiffVideoChunks = numeric_cast<std::uint32_t>(videoIndex.size());
        firstRiffAudioChunks = numeric_cast<std::uint32_t>(audioIndex.size());
        firstRiffMoviBytes = curRiffMoviBytes;
    } else {
        writeAVIXChunk();
        laterVideoFrames = numeric_cast<std::uint32_t>(std::uint64_t(laterVideoFrames) + videoIndex.size());
        laterAudioChunks = numeric_cast<std::uint32_t>(std::uint64_t(laterAudioChunks) + audioIndex.size());
    }
    videoIndex.clear();
    audioIndex.clear();
    curRiffMoviBytes = 0;
}

void File::writeAVIXChunk() {
    const std::uint32_t size = getCurRiffChunkSize();
    char head[AVIX_HEAD_BYTES];
    ByteWriter(head).fourcc("RIFF").u32(size).fourcc("AVIX").fourcc("LIST").u32(size - 12).fourcc("movi");
    patchBytes(moviPos - 20, head, sizeof head);
}

std::uint32_t File::getMoviLength() {
    // While the first RIFF chunk is being written: its list as if it were
    // closed now.
    const bool open = isFirstRiffChunk();
    const std::uint64_t videoEntries = open ? videoIndex.size() : firstRiffVideoChunks;
    const std::uint64_t audioEntries = open ? audioIndex.size() : firstRiffAudioChunks;
    std::uint64_t length = open ? curRiffMoviBytes : firstRiffMoviBytes;
    length += hasVideoStream
                  ? std::uint64_t(getOpenDMLStandardIndexLength(static_cast<unsigned long>(videoEntries))) + 12
                  : 4;
    if (hasAudioStream)
        length += std::uint64_t(getOpenDMLStandardIndexLength(static_cast<unsigned long>(audioEntries))) + 8;
    return numeric_cast<std::uint32_t>(length);
}

}  // namespace avi
