// Writing side of avi::File: data chunks, RIFF segmentation into "AVIX"
// chunks, and the standard, super and legacy indexes.
#include <avi/avifile.hpp>
#include <avi/aviwriter_bytes.hpp>

#include <boost/numeric/conversion/cast.hpp>

#include <algorithm>
#include <cstdio>
#include <limits>

namespace avi {

namespace {

using boost::numeric_cast;
using detail::ByteWriter;

// A RIFF chunk stays below 2 GiB so that readers taking its size as signed
// still find their way.
constexpr std::uint64_t RIFF_LIMIT = 0x7FFFFFFF;
// "RIFF" size "AVIX" "LIST" size "movi": room left for the head of a later RIFF chunk.
constexpr std::uint64_t AVIX_HEAD_BYTES = 24;
constexpr std::size_t INDEX_HEAD_BYTES = 12;

}  // namespace

// ---- plumbing ----

bool File::writeBytes(const void* data, std::size_t length) {
    if (length == 0) return true;
    if (!filePtr || std::fwrite(data, 1, length, filePtr) != length) {
        ++writeFailures;
        setError(errors::FWRITE_FAILED);
        return false;
    }
    return true;
}

bool File::writeTell(std::uint64_t& position) {
    const long long at = filePtr ? static_cast<long long>(ftello(filePtr)) : -1;
    if (at < 0) {
        setError(errors::GET_FILE_POS_FAILED);
        return false;
    }
    position = static_cast<std::uint64_t>(at);
    return true;
}

bool File::writeSeek(std::uint64_t position) {
    if (!filePtr || position > std::uint64_t(std::numeric_limits<off_t>::max()) ||
        fseeko(filePtr, static_cast<off_t>(position), SEEK_SET) != 0) {
        // Seeking flushes what is buffered; a failure there is a failed write.
        const bool flushFailed = filePtr && std::ferror(filePtr);
        if (filePtr) std::clearerr(filePtr);
        if (flushFailed) ++writeFailures;
        setError(flushFailed ? errors::FWRITE_FAILED : errors::SET_FILE_POS_FAILED);
        return false;
    }
    return true;
}

bool File::patchBytes(std::uint64_t position, const void* data, std::size_t length) {
    std::uint64_t back = 0;
    if (!writeTell(back) || !writeSeek(position)) return false;
    const bool written = writeBytes(data, length);
    return writeSeek(back) && written;
}

bool File::writerReady() {
    if (!filePtr || mode != 1) {
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
    // Every RIFF chunk takes one super-index entry per stream in the header
    // region; a chunk whose RIFF chunk would have no entry left is refused, so
    // the header written by close never runs into the data.
    const std::uint64_t closed = std::max(videoSuperIndex.size(), audioSuperIndex.size());
    const std::uint64_t needed = closed + (atRiffBoundary(writeLength) ? 2 : 1);
    if (!headerFits(needed, needed)) {
        setError(errors::INVALID_INDEX_OFFSET);
        return;
    }
    updateRiffChunk(writeLength);

    std::uint64_t start = 0;
    if (!writeTell(start)) return;
    const std::uint64_t offset = start - moviPos;
    if (start < moviPos || offset > std::numeric_limits<std::uint32_t>::max()) {
        setError(errors::INVALID_INDEX_OFFSET);
        return;
    }
    index.push_back(IndexEntry{static_cast<std::uint32_t>(offset), chunkSize, moviPos});

    const std::uint64_t failuresBefore = writeFailures;
    writeChunk(chunkId, chunkSize);
    writeBytes(data, writeLength);
    if (writeFailures == failuresBefore && std::fflush(filePtr) != 0) {
        ++writeFailures;
        setError(errors::FWRITE_FAILED);
    }
    if (writeFailures != failuresBefore) {
        // A chunk that did not reach the file is not indexed, and the next
        // chunk (or index) takes its place, so the file stays consistent.
        index.pop_back();
        std::clearerr(filePtr);
        if (fseeko(filePtr, static_cast<off_t>(start), SEEK_SET) != 0) std::clearerr(filePtr);
        return;
    }
    curRiffMoviBytes = numeric_cast<std::uint32_t>(std::uint64_t(curRiffMoviBytes) + writeLength + 8);
}

// ---- RIFF segmentation ----

std::uint32_t File::getOpenDMLStandardIndexLength(unsigned long entries) {
    return numeric_cast<std::uint32_t>(24 + 8 * std::uint64_t(entries));
}

bool File::isFirstRiffChunk() {
    return videoSuperIndex.empty() && audioSuperIndex.empty() && firstRiffLength == 0;
}

std::uint32_t File::getCurRiffChunkSize() {
    const long long at = filePtr ? static_cast<long long>(ftello(filePtr)) : -1;
    if (at < 0) throw boost::numeric::positive_overflow();
    const std::uint64_t position = static_cast<std::uint64_t>(at);
    if (isFirstRiffChunk()) return numeric_cast<std::uint32_t>(position);
    return numeric_cast<std::uint32_t>(position - moviPos + 12);
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
    std::uint64_t end = 0;
    if (!writeTell(end) || !writeSeek(end + AVIX_HEAD_BYTES)) return;
    moviPos = end + AVIX_HEAD_BYTES - 4;
}

void File::closeCurRiffChunk() {
    const bool first = isFirstRiffChunk();
    if (hasVideoStream) writeOpenDMLStandardIndex(videoChunkId, videoStreamIndex, videoIndex, videoSuperIndex);
    if (hasAudioStream) writeOpenDMLStandardIndex(audioChunkId, audioStreamIndex, audioIndex, audioSuperIndex);
    if (first) {
        writeLegacyIndex();
        std::uint64_t end = 0;
        if (writeTell(end)) firstRiffLength = numeric_cast<std::uint32_t>(end);
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
    std::uint64_t length = firstRiffMoviBytes;
    length += hasVideoStream ? std::uint64_t(getOpenDMLStandardIndexLength(firstRiffVideoChunks)) + 12 : 4;
    if (hasAudioStream) length += std::uint64_t(getOpenDMLStandardIndexLength(firstRiffAudioChunks)) + 8;
    return numeric_cast<std::uint32_t>(length);
}

// ---- indexes ----

void File::populateOpenDMLBaseIndex(avi::aviindex_chunk& head, const char* chunkId, unsigned short longsPerEntry,
                                    unsigned char indexType, unsigned int entriesInUse) {
    head.longsPerEntry = longsPerEntry;
    head.indexSubType = 0;
    head.indexType = indexType;
    head.entriesInUse = entriesInUse;
    head.chunkId = detail::fourccValue(chunkId);
}

void File::copyOpenDMLBaseIndex2Buf(const avi::aviindex_chunk& head, char* buffer) {
    ByteWriter(buffer).u16(head.longsPerEntry).u8(head.indexSubType).u8(head.indexType).u32(head.entriesInUse).u32(
        head.chunkId);
}

void File::writeOpenDMLBaseIndex(const char* chunkId, unsigned short longsPerEntry, unsigned char indexType,
                                 unsigned int entriesInUse) {
    avi::aviindex_chunk head;
    populateOpenDMLBaseIndex(head, chunkId, longsPerEntry, indexType, entriesInUse);
    char buffer[INDEX_HEAD_BYTES];
    copyOpenDMLBaseIndex2Buf(head, buffer);
    writeBytes(buffer, sizeof buffer);
}

void File::writeOpenDMLStandardIndex(const char* chunkId, unsigned int streamNumber,
                                     const std::vector<avi::IndexEntry>& index,
                                     std::vector<avi::SuperIndexEntry>& superIndex) {
    std::uint64_t start = 0;
    if (!writeTell(start)) return;
    const std::uint32_t count = numeric_cast<std::uint32_t>(index.size());
    const std::uint32_t length = getOpenDMLStandardIndexLength(count);
    const char id[5] = {'i', 'x', '0', static_cast<char>('0' + streamNumber), '\0'};

    const std::uint64_t failuresBefore = writeFailures;
    writeChunk(id, length);
    writeOpenDMLBaseIndex(chunkId, 2, 1, count);
    char base[12];
    ByteWriter(base).u64(moviPos).u32(0);
    writeBytes(base, sizeof base);
    std::vector<char> entries(8 * std::size_t(count));
    ByteWriter w(entries.data());
    for (const IndexEntry& e : index) w.u32(numeric_cast<std::uint32_t>(std::uint64_t(e.offset) + 8)).u32(e.size);
    writeBytes(entries.data(), entries.size());
    if (writeFailures != failuresBefore) return;

    const std::uint32_t sampleSize = streamHeaders.at(streamNumber).sampleSize;
    const std::uint64_t duration = sampleSize ? std::uint64_t(count) * sampleSize : count;
    superIndex.push_back(SuperIndexEntry{start, length + 8, numeric_cast<std::uint32_t>(duration)});
}

void File::writeOpenDMLSuperIndex(const char* chunkId, const std::vector<avi::SuperIndexEntry>& superIndex) {
    const std::uint32_t count = numeric_cast<std::uint32_t>(superIndex.size());
    writeChunk("indx", getOpenDMLSuperIndexLength(count));
    writeOpenDMLBaseIndex(chunkId, 4, 0, count);
    char reserved[12] = {};
    writeBytes(reserved, sizeof reserved);
    std::vector<char> entries(16 * std::size_t(count));
    ByteWriter w(entries.data());
    for (const SuperIndexEntry& e : superIndex) w.u64(e.offset).u32(e.size).u32(e.duration);
    writeBytes(entries.data(), entries.size());
}

std::uint32_t File::getLegacyIndexLength() {
    const std::uint64_t entries =
        (hasVideoStream ? videoIndex.size() : 0) + (hasAudioStream ? audioIndex.size() : 0);
    return numeric_cast<std::uint32_t>(16 * entries);
}

void File::writeLegacyIndex() {
    const std::uint32_t length = getLegacyIndexLength();
    writeChunk("idx1", length);
    std::vector<char> records(length);
    ByteWriter w(records.data());
    auto add = [&w](const char* id, const std::vector<IndexEntry>& index) {
        for (const IndexEntry& e : index) w.fourcc(id).u32(0).u32(e.offset).u32(e.size);
    };
    if (hasVideoStream) add(videoChunkId, videoIndex);
    if (hasAudioStream) add(audioChunkId, audioIndex);
    writeBytes(records.data(), records.size());
}

}  // namespace avi
