// The writer's indexes: the OpenDML standard index at the end of each RIFF
// chunk's movi list, the super indexes of the header list, and the AVI 1.0
// idx1 index of the first RIFF chunk. Their lengths come from the same
// serializers, run into a counting buffer.
#include <avi/writer.hpp>
#include <avi/chunkbuffer.hpp>
#include <avi/fourcc.hpp>

#include <boost/numeric/conversion/cast.hpp>

namespace avi {
namespace detail {

namespace {

using boost::numeric_cast;

constexpr std::uint8_t AVI_INDEX_OF_INDEXES = 0;
constexpr std::uint8_t AVI_INDEX_OF_CHUNKS = 1;

// The 12-byte head every OpenDML index starts with.
void serializeIndexHead(ChunkBuffer& out, const char* chunkId, std::uint16_t longsPerEntry, std::uint8_t indexType,
                        std::uint32_t entriesInUse) {
    out.u16(longsPerEntry).u8(0).u8(indexType).u32(entriesInUse).u32(fourccValue(chunkId));
}

}  // namespace

// ---- super indexes ----

void Writer::serializeSuperIndex(ChunkBuffer& out, const char* chunkId, const std::vector<SuperIndexEntry>& superIndex,
                                 std::uint64_t entries) const {
    const std::size_t indx = out.open("indx");
    serializeIndexHead(out, chunkId, 4, AVI_INDEX_OF_INDEXES, numeric_cast<std::uint32_t>(superIndex.size()));
    out.zeros(12);
    // The entries in use, then empty ones up to `entries` (a size prediction
    // asks for room the file does not use yet).
    out.table(static_cast<std::size_t>(entries), 16, [&](std::size_t k) {
        if (k < superIndex.size())
            out.u64(superIndex[k].offset).u32(superIndex[k].size).u32(superIndex[k].duration);
        else
            out.zeros(16);
    });
    out.close(indx);
}

std::uint32_t Writer::getOpenDMLSuperIndexLength(unsigned long entries) const {
    ChunkBuffer count = ChunkBuffer::counting();
    serializeSuperIndex(count, "00db", {}, entries);
    return numeric_cast<std::uint32_t>(count.size() - 8);
}

// ---- standard indexes ----

void Writer::serializeStandardIndex(ChunkBuffer& out, unsigned streamNumber, const char* chunkId,
                                    const std::vector<IndexEntry>& index, std::uint64_t entries) const {
    const char id[5] = {'i', 'x', '0', static_cast<char>('0' + streamNumber), '\0'};
    const std::size_t ix = out.open(id);
    serializeIndexHead(out, chunkId, 2, AVI_INDEX_OF_CHUNKS, numeric_cast<std::uint32_t>(entries));
    out.u64(moviPos).u32(0);
    out.table(static_cast<std::size_t>(entries), 8, [&](std::size_t k) {
        out.u32(numeric_cast<std::uint32_t>(std::uint64_t(index[k].offset) + 8)).u32(index[k].size);
    });
    out.close(ix);
}

std::uint64_t Writer::standardIndexChunkBytes(std::uint64_t entries) const {
    ChunkBuffer count = ChunkBuffer::counting();
    serializeStandardIndex(count, 0, "00db", {}, entries);
    return count.size();
}

std::uint32_t Writer::getOpenDMLStandardIndexLength(unsigned long entries) const {
    return numeric_cast<std::uint32_t>(standardIndexChunkBytes(entries) - 8);
}

void Writer::writeStandardIndex(const char* chunkId, unsigned streamNumber, const std::vector<IndexEntry>& index,
                                std::vector<SuperIndexEntry>& superIndex) {
    const std::uint64_t start = writePos;
    ChunkBuffer out;
    serializeStandardIndex(out, streamNumber, chunkId, index, index.size());
    if (!writeBytes(out.data(), out.size())) return;

    const std::uint64_t count = index.size();
    const std::uint32_t sampleSize = streamHeaders.at(streamNumber).sampleSize;
    const std::uint64_t duration = sampleSize ? count * sampleSize : count;
    superIndex.push_back(
        SuperIndexEntry{start, numeric_cast<std::uint32_t>(out.size()), numeric_cast<std::uint32_t>(duration)});
}

// ---- idx1 ----

void Writer::serializeLegacyIndex(ChunkBuffer& out) const {
    const std::size_t idx1 = out.open("idx1");
    auto add = [&out](const char* id, const std::vector<IndexEntry>& index) {
        out.table(index.size(), 16, [&](std::size_t k) { out.fourcc(id).u32(0).u32(index[k].offset).u32(index[k].size); });
    };
    if (hasVideoStream) add(videoChunkId, videoIndex);
    if (hasAudioStream) add(audioChunkId, audioIndex);
    out.close(idx1);
}

std::uint32_t Writer::getLegacyIndexLength() const {
    ChunkBuffer count = ChunkBuffer::counting();
    serializeLegacyIndex(count);
    return numeric_cast<std::uint32_t>(count.size() - 8);
}

}  // namespace detail
}  // namespace avi
