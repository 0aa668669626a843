// The writer's header list: the records filled from what was written, one
// serializer for the whole list, and every size of it taken from a run of
// that serializer into a counting buffer.
#include <avi/writer.hpp>
#include <avi/chunkbuffer.hpp>

#include <boost/numeric/conversion/cast.hpp>

namespace avi {
namespace detail {

namespace {

using boost::numeric_cast;

constexpr std::uint32_t AVIF_HASINDEX = 0x10;
constexpr std::uint32_t AVIF_TRUSTCKTYPE = 0x800;
constexpr std::uint32_t VIDEO_SCALE = 1000000;
constexpr std::uint32_t BITMAP_HEADER_BYTES = 40;
// The audio format chunk keeps room for the longest format record.
constexpr std::size_t AUDIO_FORMAT_CHUNK_BYTES = 128;

void setFourcc(char* field, const char* text) {
    for (int i = 0; i < 4; ++i) field[i] = text[i];
    field[4] = '\0';
}

void serializeMainHeader(ChunkBuffer& out, const MainHeader& h) {
    const std::size_t avih = out.open("avih");
    out.u32(h.microSecPerFrame).u32(h.maxBytesPerSec).u32(h.paddingGranularity).u32(h.flags);
    out.u32(h.totalFrames).u32(h.initialFrames).u32(h.streams).u32(h.suggestedBufferSize);
    out.u32(h.width).u32(h.height);
    for (std::uint32_t r : h.reserved) out.u32(r);
    out.close(avih);
}

void serializeStreamHeader(ChunkBuffer& out, const StreamHeader& h) {
    const std::size_t strh = out.open("strh");
    out.fourcc(h.fccType).fourcc(h.fccHandler);
    out.u32(h.flags).u32(h.priority).u32(h.initialFrames).u32(h.scale).u32(h.rate).u32(h.start);
    out.u32(h.length).u32(h.suggestedBufferSize).u32(h.quality).u32(h.sampleSize);
    // The file holds the rectangle as four 16-bit values.
    out.u16(numeric_cast<std::uint16_t>(h.frame.left)).u16(numeric_cast<std::uint16_t>(h.frame.top));
    out.u16(numeric_cast<std::uint16_t>(h.frame.right)).u16(numeric_cast<std::uint16_t>(h.frame.bottom));
    out.close(strh);
}

// BITMAPINFOHEADER, then the palette of an 8-bit picture.
void serializeBitmapFormat(ChunkBuffer& out, const BitmapInfoHeader& b, const std::vector<tagRGBQUAD>& palette) {
    out.u32(b.size).u32(static_cast<std::uint32_t>(b.width)).u32(static_cast<std::uint32_t>(b.height));
    out.u16(b.planes).u16(b.bitCount).u32(b.compression).u32(b.sizeImage);
    out.u32(static_cast<std::uint32_t>(b.xPelsPerMeter)).u32(static_cast<std::uint32_t>(b.yPelsPerMeter));
    out.u32(b.clrUsed).u32(b.clrImportant);
    if (b.bitCount == 8)
        out.table(palette.size(), 4, [&](std::size_t k) {
            const tagRGBQUAD& q = palette[k];
            out.u8(q.blue).u8(q.green).u8(q.red).u8(q.reserved);
        });
}

// WAVEFORMATEX in a chunk with room for the longest format record.
void serializeWaveFormat(ChunkBuffer& out, const WaveFormat& f) {
    constexpr std::size_t WAVE_FORMAT_BYTES = 18;
    out.u16(f.formatTag).u16(f.channels).u32(f.samplesPerSec).u32(f.avgBytesPerSec);
    out.u16(f.blockAlign).u16(f.bitsPerSample).u16(f.cbSize);
    out.zeros(AUDIO_FORMAT_CHUNK_BYTES - WAVE_FORMAT_BYTES);
}

}  // namespace

// ---- the records ----

void Writer::fillRecords(const HeaderCounts& counts) {
    const std::uint32_t videoFrames = numeric_cast<std::uint32_t>(counts.videoFrames);
    MainHeader& m = mainHeader;
    m.maxBytesPerSec = 0;
    m.paddingGranularity = 0;
    m.flags = AVIF_HASINDEX | AVIF_TRUSTCKTYPE;
    m.totalFrames = hasVideoStream ? videoFrames : numeric_cast<std::uint32_t>(counts.firstRiffAudioChunks);
    m.initialFrames = 0;
    m.streams = (hasVideoStream ? 1u : 0u) + (hasAudioStream ? 1u : 0u);
    m.suggestedBufferSize = hasVideoStream ? videoFrameSize : audioChunkSize;
    if (!hasVideoStream) {
        m.width = 0;
        m.height = 0;
    }
    for (std::uint32_t& r : m.reserved) r = 0;

    if (hasVideoStream) {
        StreamHeader& h = streamHeaders[videoStreamIndex];
        setFourcc(h.fccType, "vids");
        setFourcc(h.fccHandler, "DIB ");
        h.flags = h.priority = h.initialFrames = h.start = h.quality = h.sampleSize = 0;
        h.scale = VIDEO_SCALE;
        h.length = videoFrames;
        h.suggestedBufferSize = videoFrameSize;
        h.frame = {};
        BitmapInfoHeader& b = bitmapHeader;
        b.size = BITMAP_HEADER_BYTES;
        b.planes = 1;
        b.sizeImage = videoFrameSize;
        b.xPelsPerMeter = b.yPelsPerMeter = 0;
        b.clrUsed = static_cast<std::uint32_t>(colormap.size());
        b.clrImportant = 0;
    }
    if (hasAudioStream) {
        StreamHeader& h = streamHeaders[audioStreamIndex];
        setFourcc(h.fccType, "auds");
        setFourcc(h.fccHandler, "    ");
        h.flags = h.priority = h.initialFrames = h.start = h.quality = 0;
        // Counts the audio of every RIFF chunk, so that a reader which sizes the
        // stream from this header sees all of it, not only the first chunk's share.
        h.length = h.sampleSize ? numeric_cast<std::uint32_t>(audioChunkDataSize * counts.audioChunks / h.sampleSize) : 0;
        h.suggestedBufferSize = audioChunkDataSize;
        h.frame = {};
        WaveFormat& f = waveFormat;
        f.formatTag = 1;
        f.blockAlign = numeric_cast<std::uint16_t>(h.sampleSize);
        f.avgBytesPerSec = numeric_cast<std::uint32_t>(std::uint64_t(f.blockAlign) * f.samplesPerSec);
        f.cbSize = 0;
    }
}

// ---- the serializer ----

void Writer::serializeHeaderList(ChunkBuffer& out, const HeaderShape& shape) const {
    serializeMainHeader(out, mainHeader);
    const bool videoFirst = videoStreamIndex == 0;
    if (hasAudioStream && !videoFirst) serializeStreamList(out, false, shape);
    if (hasVideoStream && shape.videoList) serializeStreamList(out, true, shape);
    if (hasAudioStream && videoFirst) serializeStreamList(out, false, shape);
    const std::size_t odml = out.openList("LIST", "odml");
    const std::size_t dmlh = out.open("dmlh");
    out.u32(hasVideoStream ? mainHeader.totalFrames : 0);  // the frames of every RIFF chunk
    out.close(dmlh);
    out.close(odml);
}

void Writer::serializeStreamList(ChunkBuffer& out, bool video, const HeaderShape& shape) const {
    const std::size_t strl = out.openList("LIST", "strl");
    serializeStreamHeader(out, streamHeaders[video ? videoStreamIndex : audioStreamIndex]);
    const std::size_t strf = out.open("strf");
    static const std::vector<tagRGBQUAD> noPalette;
    if (video)
        serializeBitmapFormat(out, bitmapHeader, shape.palette ? colormap : noPalette);
    else
        serializeWaveFormat(out, waveFormat);
    out.close(strf);
    if (video)
        serializeSuperIndex(out, videoChunkId, videoSuperIndex, shape.videoSuperEntries);
    else
        serializeSuperIndex(out, audioChunkId, audioSuperIndex, shape.audioSuperEntries);
    out.close(strl);
}

// ---- the header region ----

std::uint64_t Writer::headerListBytes(const HeaderShape& shape) const {
    ChunkBuffer count = ChunkBuffer::counting();
    count.fourcc("hdrl");
    serializeHeaderList(count, shape);
    return count.size();
}

bool Writer::headerFits(std::uint64_t videoEntries, std::uint64_t audioEntries) const {
    const std::uint64_t used = headerListBytes(HeaderShape{hasVideoStream, true, videoEntries, audioEntries});
    // What is left over must be empty or hold at least a "JUNK" chunk header.
    return used == reservedHeaderLength || used + 8 <= reservedHeaderLength;
}

std::uint32_t Writer::getHeaderLength() const {
    // The region holds the lists with every super-index entry the file may
    // need; a palette comes out of the spare room. A file without one of
    // the two streams keeps 8 bytes more per missing stream, as files written
    // by this library always had.
    const std::uint64_t n = numSuperIndexEntries;
    const std::uint64_t missing = (hasVideoStream ? 0 : 1) + (hasAudioStream ? 0 : 1);
    return numeric_cast<std::uint32_t>(headerListBytes(HeaderShape{hasVideoStream, false, n, n}) + 8 * missing);
}

std::uint32_t Writer::getOpenDMLHeaderLength() const {
    ChunkBuffer count = ChunkBuffer::counting();
    const std::size_t odml = count.openList("LIST", "odml");
    const std::size_t dmlh = count.open("dmlh");
    count.u32(0);
    count.close(dmlh);
    count.close(odml);
    return numeric_cast<std::uint32_t>(count.size() - 8);
}

void Writer::reserveHeaderRegion() {
    reservedHeaderLength = getHeaderLength();
    moviPos = std::uint64_t(reservedHeaderLength) + 28;
    writePos = std::uint64_t(reservedHeaderLength) + 32;
}

void Writer::writeHeader(const HeaderCounts& counts, bool provisional) {
    const std::uint32_t headerLength = reservedHeaderLength;
    // A header list that outgrew its region would overwrite the first data
    // chunks; the data stays intact and the failure is reported instead.
    if (!headerFits(videoSuperIndex.size(), audioSuperIndex.size())) {
        if (!provisional) setError(errors::INVALID_INDEX_OFFSET);
        return;
    }
    fillRecords(counts);
    HeaderShape shape{hasVideoStream, true, videoSuperIndex.size(), audioSuperIndex.size()};
    if (hasVideoStream && bitmapHeader.bitCount == 8 && colormap.empty()) {
        // A palette may still come before close; only then is it missing.
        if (!provisional) setError(errors::COLORMAP_REQUIRED);
        shape.videoList = false;
    }
    ChunkBuffer out;
    // The RIFF chunk and the header list span regions whose ends are known
    // (the first RIFF chunk's length, the reserved region), not their content.
    out.fourcc("RIFF").u32(numeric_cast<std::uint32_t>(counts.firstRiffLength) - 8).fourcc("AVI ");
    out.fourcc("LIST").u32(headerLength).fourcc("hdrl");
    serializeHeaderList(out, shape);
    const std::uint64_t written = out.size() - 20;
    if (written < headerLength) {
        // The filler is never written: it reads back as zero bytes.
        out.fourcc("JUNK").u32(static_cast<std::uint32_t>(headerLength - written - 8));
    }
    // The first movi list ends after its standard indexes once its RIFF chunk
    // is closed; before that, a recording in progress ends where the last
    // chunk does. Its size goes out before the RIFF size: a recording killed
    // between the two writes then has a movi list covering every chunk (a
    // reader walks it to its end), never a RIFF chunk that ends at the file's
    // end around a movi list that stops short of it.
    const std::uint64_t moviStart = std::uint64_t(headerLength) + 28;
    const std::uint64_t moviEnd = firstMoviEnd ? firstMoviEnd : writePos;
    char movi[12];
    ByteWriter(movi).fourcc("LIST").u32(numeric_cast<std::uint32_t>(moviEnd - moviStart)).fourcc("movi");
    if (!writeAt(std::uint64_t(headerLength) + 20, movi, sizeof movi)) return;
    writeAt(0, out.data(), out.size());
}

}  // namespace detail
}  // namespace avi
