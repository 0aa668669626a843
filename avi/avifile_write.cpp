// Writing side of avi::File: describing the streams, reserving the header
// region, and serializing the header list when the file is finished.
#include <avi/avifile.hpp>
#include <avi/aviwriter_bytes.hpp>

#include <boost/numeric/conversion/cast.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace avi {

namespace {

using boost::numeric_cast;
using detail::ByteWriter;
using detail::ChunkBuffer;

constexpr std::uint32_t MAIN_HEADER_BYTES = 56;
constexpr std::uint32_t STREAM_HEADER_BYTES = 56;
constexpr std::uint32_t BITMAP_HEADER_BYTES = 40;
constexpr std::uint32_t AUDIO_FORMAT_CHUNK_BYTES = 128;
// Fixed contents of the stream lists ("strl", "strh" chunk, "strf" chunk),
// without the palette and the super index.
constexpr unsigned int VIDEO_STRL_FIXED = 116;
constexpr unsigned int AUDIO_STRL_FIXED = 204;
// "hdrl", the "avih" chunk and the headers of two stream lists and the "odml" list.
constexpr std::uint32_t HDRL_FIXED = 92;
constexpr std::uint32_t AVIF_HASINDEX = 0x10;
constexpr std::uint32_t AVIF_TRUSTCKTYPE = 0x800;
constexpr std::uint32_t VIDEO_SCALE = 1000000;

// Truncates a rate-derived value into a 32-bit field. Out of range values,
// including the infinity of a zero rate and NaN, raise the conversion overflow.
std::uint32_t truncToU32(double value) {
    if (std::isnan(value)) throw boost::numeric::positive_overflow();
    return numeric_cast<std::uint32_t>(std::trunc(value));
}

void setChunkId(char* id, std::uint32_t stream, char kind0, char kind1) {
    id[0] = '0';
    id[1] = static_cast<char>('0' + stream);
    id[2] = kind0;
    id[3] = kind1;
    id[4] = '\0';
}

void setFourcc(char* field, const char* text) {
    for (int i = 0; i < 4; ++i) field[i] = text[i];
    field[4] = '\0';
}

}  // namespace

// ---- stream description ----

void File::setVideoInfo(unsigned int width, unsigned int height, double frameRate, const std::string& fourCC,
                        unsigned int bitsPerPixel) {
    if (!stream.isOpen() || mode != 1 || dataWritten()) {
        // Describing a stream moves the write position back to the data start,
        // which would overwrite chunks already written (or a file being read).
        setError(errors::UNSUPPORTED_MODE);
        return;
    }
    if (!hasVideoStream) videoStreamIndex = hasAudioStream ? 1 : 0;
    mainHeader.width = width;
    mainHeader.height = height;
    bitmapHeader.width = numeric_cast<std::int32_t>(width);
    bitmapHeader.height = numeric_cast<std::int32_t>(height);

    std::uint64_t frameSize = 0;
    switch (bitsPerPixel) {
    case 2:
    case 4:
    case 16:
    case 32: frameSize = 0; break;
    case 8: frameSize = std::uint64_t(height) * (std::uint64_t(width) + (4 - width % 4) % 4); break;
    case 24: frameSize = std::uint64_t(height) * (3 * std::uint64_t(width) + width % 4); break;
    default: setError(errors::INVALID_BITS_PER_PIXEL); return;
    }
    const std::uint32_t frameBytes = numeric_cast<std::uint32_t>(frameSize);
    const std::uint32_t microSec = truncToU32(1000000.0 / frameRate);
    const std::uint32_t rate = truncToU32(1000000.0 * frameRate);

    bitmapHeader.bitCount = static_cast<std::uint16_t>(bitsPerPixel);
    videoFrameSize = frameBytes;
    mainHeader.microSecPerFrame = microSec;
    streamHeaders[videoStreamIndex].rate = rate;

    hasVideoStream = true;
    videoIndex.reserve(1000);

    if (fourCC.size() == 4) {
        bitmapHeader.compression = detail::fourccValue(fourCC.data());
        setChunkId(videoChunkId, videoStreamIndex, 'd', 'c');
    } else {
        bitmapHeader.compression = 0;
        setChunkId(videoChunkId, videoStreamIndex, 'd', 'b');
    }
    initWriter();
}

void File::setVideoInfo(unsigned int width, unsigned int height, double frameRate, const std::string& fourCC) {
    setVideoInfo(width, height, frameRate, fourCC, DEFAULT_BITS_PER_PIXEL);
}

void File::setVideoInfo(unsigned int width, unsigned int height, double frameRate) {
    setVideoInfo(width, height, frameRate, std::string(), DEFAULT_BITS_PER_PIXEL);
}

void File::setAudioInfo(double sampleRate, unsigned int bitsPerSample, unsigned int numChannels,
                        unsigned int bytesPerChunk) {
    if (!stream.isOpen() || mode != 1 || dataWritten()) {
        setError(errors::UNSUPPORTED_MODE);
        return;
    }
    const std::uint64_t sampleSize = std::uint64_t(bitsPerSample) * numChannels / 8;
    if (sampleSize == 0) {
        // The stream length is counted in samples; a zero-byte sample cannot be
        // counted (and could not be played either).
        setError(errors::UNSUPPORTED_AUDIO_BITS);
        return;
    }
    const std::uint16_t bits = numeric_cast<std::uint16_t>(bitsPerSample);
    const std::uint16_t channels = numeric_cast<std::uint16_t>(numChannels);
    const std::uint32_t roundedChunk = numeric_cast<std::uint32_t>(std::uint64_t(bytesPerChunk) + (bytesPerChunk & 1u));
    const std::uint32_t samplesPerSec = truncToU32(sampleRate + 0.5);
    const std::uint32_t scale = truncToU32(4294967295.0 / sampleRate);
    const std::uint32_t rate = truncToU32(double(scale) * sampleRate);
    const std::uint32_t microSec = hasVideoStream ? mainHeader.microSecPerFrame : truncToU32(1000000.0 / sampleRate);
    // What close converts later (block align, the byte rate) is checked here,
    // where the caller can still hear about it: a description the header
    // cannot hold leaves the stream undescribed.
    if (sampleSize > 0xFFFFu || sampleSize * samplesPerSec > 0xFFFFFFFFu) {
        setError(errors::UNSUPPORTED_AUDIO_BITS);
        return;
    }

    if (!hasAudioStream) audioStreamIndex = hasVideoStream ? 1 : 0;
    hasAudioStream = true;
    audioChunkDataSize = bytesPerChunk;
    audioChunkSize = roundedChunk;
    setChunkId(audioChunkId, audioStreamIndex, 'w', 'b');
    audioIndex.reserve(1000);

    waveFormat.bitsPerSample = bits;
    waveFormat.channels = channels;
    waveFormat.samplesPerSec = samplesPerSec;
    StreamHeader& header = streamHeaders[audioStreamIndex];
    header.sampleSize = static_cast<std::uint32_t>(sampleSize);
    header.scale = scale;
    header.rate = rate;
    mainHeader.microSecPerFrame = microSec;
    initWriter();
}

void File::setColormap(const std::vector<avi::tagRGBQUAD>& map) {
    if (mode != 1) {
        setError(errors::COLORMAP_SET_DURING_READ);
        return;
    }
    if (!colormap.empty()) {
        setError(errors::COLORMAP_NOT_EMPTY);
        return;
    }
    if (map.size() > 256) {
        setError(errors::COLORMAP_TOO_LARGE);
        return;
    }
    colormap = map;
    // The palette is written into the header region, whose size was fixed
    // when the streams were described; refuse one that no longer fits.
    const std::uint64_t chunks = std::max(videoSuperIndex.size(), audioSuperIndex.size()) + 1;
    if (hasVideoStream && !headerFits(chunks, chunks)) {
        colormap.clear();
        setError(errors::INVALID_INDEX_OFFSET);
    }
}

void File::setNumSuperIndexEntries(unsigned long entries) {
    numSuperIndexEntries = entries;
}

// ---- header region ----

std::uint32_t File::getOpenDMLSuperIndexLength(unsigned long entries) {
    return numeric_cast<std::uint32_t>(24 + 16 * std::uint64_t(entries));
}

std::uint32_t File::getStrlLength(unsigned char present, unsigned int fixedLength, unsigned long superIndexEntries) {
    if (!present) return 0;
    return numeric_cast<std::uint32_t>(std::uint64_t(getOpenDMLSuperIndexLength(superIndexEntries)) + fixedLength + 8);
}

std::uint32_t File::getOpenDMLHeaderLength() {
    return 16;
}

std::uint32_t File::getHeaderLength() {
    const unsigned long n = numeric_cast<unsigned long>(numSuperIndexEntries);
    return numeric_cast<std::uint32_t>(std::uint64_t(getStrlLength(hasVideoStream, VIDEO_STRL_FIXED, n)) +
                                       getStrlLength(hasAudioStream, AUDIO_STRL_FIXED, n) + HDRL_FIXED +
                                       getOpenDMLHeaderLength());
}

std::uint64_t File::paletteBytes() const {
    return (hasVideoStream && bitmapHeader.bitCount == 8) ? 4 * std::uint64_t(colormap.size()) : 0;
}

bool File::headerFits(std::uint64_t videoEntries, std::uint64_t audioEntries) const {
    // hdrl data as writeHeader produces it: "hdrl", "avih" chunk, "odml" list,
    // and each stream list with its palette and the super-index entries in use.
    std::uint64_t used = 4 + 8 + MAIN_HEADER_BYTES + 24;
    if (hasVideoStream) used += 8 + VIDEO_STRL_FIXED + paletteBytes() + 8 + 24 + 16 * videoEntries;
    if (hasAudioStream) used += 8 + AUDIO_STRL_FIXED + 8 + 24 + 16 * audioEntries;
    // What is left over must be empty or hold at least a "JUNK" chunk header.
    return used == reservedHeaderLength || used + 8 <= reservedHeaderLength;
}

void File::initWriter() {
    reservedHeaderLength = getHeaderLength();
    moviPos = std::uint64_t(reservedHeaderLength) + 28;
    writeSeek(std::uint64_t(reservedHeaderLength) + 32);
}

void File::resetWriter() {
    writePos = 0;
    firstMoviEnd = 0;
    headerWritten = false;
    bytesSinceRefresh = 0;
    videoFramesSinceRefresh = 0;
    audioBytesSinceRefresh = 0;
    audioIndex.clear();
    videoIndex.clear();
    videoSuperIndex.clear();
    audioSuperIndex.clear();
    colormap.clear();
    moviPos = 0;
    firstRiffLength = 0;
    firstRiffVideoChunks = 0;
    firstRiffAudioChunks = 0;
    firstRiffMoviBytes = 0;
    laterVideoFrames = 0;
    laterAudioChunks = 0;
    curRiffMoviBytes = 0;
}

// ---- records ----

void File::populateMainHeader() {
    mainHeader.maxBytesPerSec = 0;
    mainHeader.paddingGranularity = 0;
    mainHeader.flags = AVIF_HASINDEX | AVIF_TRUSTCKTYPE;
    mainHeader.totalFrames =
        hasVideoStream ? numeric_cast<std::uint32_t>(std::uint64_t(laterVideoFrames) + firstRiffVideoChunks)
                       : firstRiffAudioChunks;
    mainHeader.initialFrames = 0;
    mainHeader.streams = (hasVideoStream ? 1u : 0u) + (hasAudioStream ? 1u : 0u);
    mainHeader.suggestedBufferSize = hasVideoStream ? videoFrameSize : audioChunkSize;
    if (!hasVideoStream) {
        mainHeader.width = 0;
        mainHeader.height = 0;
    }
    for (std::uint32_t& r : mainHeader.reserved) r = 0;
}

void File::copyMainHeader2Buf(char* buffer) {
    const MainHeader& h = mainHeader;
    ByteWriter w(buffer);
    w.u32(h.microSecPerFrame).u32(h.maxBytesPerSec).u32(h.paddingGranularity).u32(h.flags);
    w.u32(h.totalFrames).u32(h.initialFrames).u32(h.streams).u32(h.suggestedBufferSize);
    w.u32(h.width).u32(h.height);
    for (std::uint32_t r : h.reserved) w.u32(r);
}

void File::populateVideoStreamHeader() {
    StreamHeader& h = streamHeaders[videoStreamIndex];
    setFourcc(h.fccType, "vids");
    setFourcc(h.fccHandler, "DIB ");
    h.flags = 0;
    h.priority = 0;
    h.initialFrames = 0;
    h.scale = VIDEO_SCALE;
    h.start = 0;
    h.length = numeric_cast<std::uint32_t>(std::uint64_t(laterVideoFrames) + firstRiffVideoChunks);
    h.suggestedBufferSize = videoFrameSize;
    h.quality = 0;
    h.sampleSize = 0;
    h.frame = {};
}

void File::populateAudioStreamHeader() {
    StreamHeader& h = streamHeaders[audioStreamIndex];
    setFourcc(h.fccType, "auds");
    setFourcc(h.fccHandler, "    ");
    h.flags = 0;
    h.priority = 0;
    h.initialFrames = 0;
    h.start = 0;
    // Counts the audio of every RIFF chunk, so that a reader which sizes the
    // stream from this header sees all of it, not only the first chunk's share.
    const std::uint64_t chunks = std::uint64_t(firstRiffAudioChunks) + laterAudioChunks;
    h.length = h.sampleSize ? numeric_cast<std::uint32_t>(audioChunkDataSize * chunks / h.sampleSize) : 0;
    h.suggestedBufferSize = audioChunkDataSize;
    h.quality = 0;
    h.frame = {};
}

void File::copyStreamHeader2Buf(char* buffer, unsigned int streamNumber) {
    const StreamHeader& h = streamHeaders.at(streamNumber);
    ByteWriter w(buffer);
    w.fourcc(h.fccType).fourcc(h.fccHandler);
    w.u32(h.flags).u32(h.priority).u32(h.initialFrames).u32(h.scale).u32(h.rate).u32(h.start);
    w.u32(h.length).u32(h.suggestedBufferSize).u32(h.quality).u32(h.sampleSize);
    // The file holds the rectangle as four 16-bit values.
    w.u16(numeric_cast<std::uint16_t>(h.frame.left)).u16(numeric_cast<std::uint16_t>(h.frame.top));
    w.u16(numeric_cast<std::uint16_t>(h.frame.right)).u16(numeric_cast<std::uint16_t>(h.frame.bottom));
}

void File::populateBitmapHeader() {
    BitmapInfoHeader& b = bitmapHeader;
    b.size = BITMAP_HEADER_BYTES;
    b.planes = 1;
    b.sizeImage = videoFrameSize;
    b.xPelsPerMeter = 0;
    b.yPelsPerMeter = 0;
    b.clrUsed = static_cast<std::uint32_t>(colormap.size());
    b.clrImportant = 0;
}

void File::copyBitmapHeader2Buf(char* buffer) {
    const BitmapInfoHeader& b = bitmapHeader;
    ByteWriter w(buffer);
    w.u32(b.size).u32(static_cast<std::uint32_t>(b.width)).u32(static_cast<std::uint32_t>(b.height));
    w.u16(b.planes).u16(b.bitCount).u32(b.compression).u32(b.sizeImage);
    w.u32(static_cast<std::uint32_t>(b.xPelsPerMeter)).u32(static_cast<std::uint32_t>(b.yPelsPerMeter));
    w.u32(b.clrUsed).u32(b.clrImportant);
}

void File::populateWaveHeader() {
    WaveFormat& f = waveFormat;
    f.formatTag = 1;
    f.blockAlign = numeric_cast<std::uint16_t>(streamHeaders[audioStreamIndex].sampleSize);
    f.avgBytesPerSec = numeric_cast<std::uint32_t>(std::uint64_t(f.blockAlign) * f.samplesPerSec);
    f.cbSize = 0;
}

void File::copyWaveHeader2Buf(char* buffer) {
    const WaveFormat& f = waveFormat;
    ByteWriter w(buffer);
    w.u16(f.formatTag).u16(f.channels).u32(f.samplesPerSec).u32(f.avgBytesPerSec);
    w.u16(f.blockAlign).u16(f.bitsPerSample).u16(f.cbSize);
}

// ---- header serialization ----

void File::writeChunk(const char* fourCC, unsigned int size) {
    char buffer[8];
    ByteWriter(buffer).fourcc(fourCC).u32(size);
    writeBytes(buffer, sizeof buffer);
}

void File::writeList(const char* fourCC, unsigned int size, const char* listType) {
    char buffer[12];
    ByteWriter(buffer).fourcc(fourCC).u32(size).fourcc(listType);
    writeBytes(buffer, sizeof buffer);
}

void File::writeHeader(bool provisional) {
    const std::uint32_t headerLength = reservedHeaderLength;
    // A header list that outgrew its region would overwrite the first data
    // chunks; the data stays intact and the failure is reported instead.
    if (!headerFits(videoSuperIndex.size(), audioSuperIndex.size())) {
        if (!provisional) setError(errors::INVALID_INDEX_OFFSET);
        return;
    }
    ChunkBuffer out;
    // The RIFF chunk and the header list span regions whose ends are known
    // (the first RIFF chunk's length, the reserved region), not their content.
    out.fourcc("RIFF").u32(firstRiffLength - 8).fourcc("AVI ");
    out.fourcc("LIST").u32(headerLength).fourcc("hdrl");
    const std::size_t avih = out.open("avih");
    char record[MAIN_HEADER_BYTES];
    populateMainHeader();
    copyMainHeader2Buf(record);
    out.raw(record, sizeof record);
    out.close(avih);

    if (hasVideoStream && hasAudioStream) {
        if (videoStreamIndex == 0) {
            writeVideoStreamHeader(out, provisional);
            writeAudioStreamHeader(out);
        } else {
            writeAudioStreamHeader(out);
            writeVideoStreamHeader(out, provisional);
        }
    } else if (hasVideoStream) {
        writeVideoStreamHeader(out, provisional);
    } else if (hasAudioStream) {
        writeAudioStreamHeader(out);
    }
    writeOpenDMLHeader(out);

    const std::uint64_t written = out.size() - 20;
    if (written < headerLength) {
        // The filler is never written: it reads back as zero bytes.
        out.fourcc("JUNK").u32(static_cast<std::uint32_t>(headerLength - written - 8));
    }
    if (!writeAt(0, out.data(), out.size())) return;
    // The first movi list ends after its standard indexes once its RIFF chunk
    // is closed; before that, a recording in progress ends where the last
    // chunk does.
    const std::uint64_t moviStart = std::uint64_t(headerLength) + 28;
    const std::uint64_t moviEnd = firstMoviEnd ? firstMoviEnd : writePos;
    char movi[12];
    ByteWriter(movi).fourcc("LIST").u32(numeric_cast<std::uint32_t>(moviEnd - moviStart)).fourcc("movi");
    writeAt(std::uint64_t(headerLength) + 20, movi, sizeof movi);
}

void File::writeVideoStreamHeader(ChunkBuffer& out, bool provisional) {
    const std::uint64_t palette = paletteBytes();
    if (bitmapHeader.bitCount == 8 && colormap.empty()) {
        // A palette may still come before close; only then is it missing.
        if (!provisional) setError(errors::COLORMAP_REQUIRED);
        return;
    }
    const std::size_t strl = out.openList("LIST", "strl");
    const std::size_t strh = out.open("strh");
    char record[STREAM_HEADER_BYTES];
    populateVideoStreamHeader();
    copyStreamHeader2Buf(record, videoStreamIndex);
    out.raw(record, sizeof record);
    out.close(strh);

    const std::size_t strf = out.open("strf");
    char bitmap[BITMAP_HEADER_BYTES];
    populateBitmapHeader();
    copyBitmapHeader2Buf(bitmap);
    out.raw(bitmap, sizeof bitmap);
    if (palette)
        for (const tagRGBQUAD& q : colormap) out.u8(q.blue).u8(q.green).u8(q.red).u8(q.reserved);
    out.close(strf);
    writeOpenDMLSuperIndex(out, videoChunkId, videoSuperIndex);
    out.close(strl);
}

void File::writeAudioStreamHeader(ChunkBuffer& out) {
    const std::size_t strl = out.openList("LIST", "strl");
    const std::size_t strh = out.open("strh");
    char record[STREAM_HEADER_BYTES];
    populateAudioStreamHeader();
    copyStreamHeader2Buf(record, audioStreamIndex);
    out.raw(record, sizeof record);
    out.close(strh);

    const std::size_t strf = out.open("strf");
    char format[AUDIO_FORMAT_CHUNK_BYTES] = {};
    populateWaveHeader();
    copyWaveHeader2Buf(format);
    out.raw(format, sizeof format);
    out.close(strf);
    writeOpenDMLSuperIndex(out, audioChunkId, audioSuperIndex);
    out.close(strl);
}

void File::writeOpenDMLHeader(ChunkBuffer& out) {
    const std::size_t odml = out.openList("LIST", "odml");
    const std::size_t dmlh = out.open("dmlh");
    out.u32(numeric_cast<std::uint32_t>(std::uint64_t(laterVideoFrames) + firstRiffVideoChunks));
    out.close(dmlh);
    out.close(odml);
}

}  // namespace avi
