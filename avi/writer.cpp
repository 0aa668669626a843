// The writer: describing the streams, opening and closing, and the
// positioned writes every byte goes through.
#include <avi/writer.hpp>
#include <avi/bitmaprows.hpp>
#include <avi/fourcc.hpp>

#include <boost/numeric/conversion/cast.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <limits>

#include <unistd.h>

namespace avi {
namespace detail {

namespace {

using boost::numeric_cast;

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

}  // namespace

// ---- stream description ----

void Writer::setVideoInfo(unsigned int width, unsigned int height, double frameRate, const std::string& fourCC,
                        unsigned int bitsPerPixel) {
    if (!stream.isOpen() || dataWritten()) {
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
    case 8:
    case 24: frameSize = std::uint64_t(height) * bitmapRowBytes(width, bitsPerPixel); break;
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
        bitmapHeader.compression = fourccValue(fourCC.data());
        setChunkId(videoChunkId, videoStreamIndex, 'd', 'c');
    } else {
        bitmapHeader.compression = 0;
        setChunkId(videoChunkId, videoStreamIndex, 'd', 'b');
    }
    reserveHeaderRegion();
}

void Writer::setAudioInfo(double sampleRate, unsigned int bitsPerSample, unsigned int numChannels,
                        unsigned int bytesPerChunk) {
    if (!stream.isOpen() || dataWritten()) {
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
    reserveHeaderRegion();
}

void Writer::setColormap(const std::vector<avi::tagRGBQUAD>& map) {
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

// ---- opening and closing ----

Writer::Writer(Status& status, std::FILE* file) : status(status) {
    stream.adopt(file);
}

void Writer::close() {
    if (!stream.isOpen()) return;
    try {
        finishWriting();
    } catch (const std::exception&) {
        // A count or size that no 32-bit field can hold: the file cannot
        // be finished as described, but the stream is closed all the same.
        setError(errors::UNSUPPORTED_FILE);
    }
    // What was written is forgotten; the description stays readable.
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
    if (stream.close() != 0) setError(errors::FWRITE_FAILED);
}

bool Writer::writerReady() {
    if (!stream.isOpen()) {
        setError(errors::UNSUPPORTED_MODE);
        return false;
    }
    return true;
}

bool Writer::dataWritten() const {
    return !videoIndex.empty() || !audioIndex.empty() || !videoSuperIndex.empty() || !audioSuperIndex.empty() ||
           firstRiffLength != 0;
}

// ---- plumbing ----

bool Writer::writeAt(std::uint64_t position, const void* data, std::size_t length) {
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

bool Writer::writeBytes(const void* data, std::size_t length) {
    if (!writeAt(writePos, data, length)) return false;
    writePos += length;
    return true;
}

}  // namespace detail
}  // namespace avi
