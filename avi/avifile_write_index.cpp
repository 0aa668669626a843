// Writing side of avi::File: the OpenDML standard indexes at the end of each
// RIFF chunk's movi list, the super indexes of the header list, and the
// AVI 1.0 idx1 index of the first RIFF chunk.
#include <avi/avifile.hpp>
#include <avi/aviwriter_bytes.hpp>

#include <boost/numeric/conversion/cast.hpp>

namespace avi {

namespace {

using boost::numeric_cast;
using detail::ByteWriter;
using detail::ChunkBuffer;

constexpr std::size_t INDEX_HEAD_BYTES = 12;

}  // namespace

std::uint32_t File::getOpenDMLStandardIndexLength(unsigned long entries) {
    return numeric_cast<std::uint32_t>(24 + 8 * std::uint64_t(entries));
}

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

void File::writeOpenDMLBaseIndex(ChunkBuffer& out, const char* chunkId, unsigned short longsPerEntry,
                                 unsigned char indexType, unsigned int entriesInUse) {
    avi::aviindex_chunk head;
    populateOpenDMLBaseIndex(head, chunkId, longsPerEntry, indexType, entriesInUse);
    char buffer[INDEX_HEAD_BYTES];
    copyOpenDMLBaseIndex2Buf(head, buffer);
    out.raw(buffer, sizeof buffer);
}

void File::writeOpenDMLStandardIndex(const char* chunkId, unsigned int streamNumber,
                                     const std::vector<avi::IndexEntry>& index,
                                     std::vector<avi::SuperIndexEntry>& superIndex) {
    const std::uint64_t start = writePos;
    const std::uint32_t count = numeric_cast<std::uint32_t>(index.size());
    const char id[5] = {'i', 'x', '0', static_cast<char>('0' + streamNumber), '\0'};
    ChunkBuffer out;
    const std::size_t ix = out.open(id);
    writeOpenDMLBaseIndex(out, chunkId, 2, 1, count);
    out.u64(moviPos).u32(0);
    for (const IndexEntry& e : index) out.u32(numeric_cast<std::uint32_t>(std::uint64_t(e.offset) + 8)).u32(e.size);
    out.close(ix);
    if (!writeBytes(out.data(), out.size())) return;

    const std::uint32_t sampleSize = streamHeaders.at(streamNumber).sampleSize;
    const std::uint64_t duration = sampleSize ? std::uint64_t(count) * sampleSize : count;
    superIndex.push_back(
        SuperIndexEntry{start, numeric_cast<std::uint32_t>(out.size()), numeric_cast<std::uint32_t>(duration)});
}

void File::writeOpenDMLSuperIndex(ChunkBuffer& out, const char* chunkId,
                                  const std::vector<avi::SuperIndexEntry>& superIndex) {
    const std::uint32_t count = numeric_cast<std::uint32_t>(superIndex.size());
    const std::size_t indx = out.open("indx");
    writeOpenDMLBaseIndex(out, chunkId, 4, 0, count);
    out.zeros(12);
    for (const SuperIndexEntry& e : superIndex) out.u64(e.offset).u32(e.size).u32(e.duration);
    out.close(indx);
}

std::uint32_t File::getLegacyIndexLength() {
    const std::uint64_t entries =
        (hasVideoStream ? videoIndex.size() : 0) + (hasAudioStream ? audioIndex.size() : 0);
    return numeric_cast<std::uint32_t>(16 * entries);
}

void File::writeLegacyIndex() {
    ChunkBuffer out;
    const std::size_t idx1 = out.open("idx1");
    auto add = [&out](const char* id, const std::vector<IndexEntry>& index) {
        for (const IndexEntry& e : index) out.fourcc(id).u32(0).u32(e.offset).u32(e.size);
    };
    if (hasVideoStream) add(videoChunkId, videoIndex);
    if (hasAudioStream) add(audioChunkId, audioIndex);
    out.close(idx1);
    writeBytes(out.data(), out.size());
}

}  // namespace avi
