// avi::File: lifetime, opening and closing, the error state and the accessors.
#include <avi/avifile.hpp>
#include <avi/fourcc.hpp>

#include <platform/services/i18n/i18n.hpp>

#include <avi/riffcursor.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

#include <sys/stat.h>
#include <unistd.h>

namespace avi {

namespace {

std::string hexCode(unsigned code) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    do {
        out.insert(out.begin(), digits[code & 0xF]);
        code >>= 4;
    } while (code);
    return out;
}

std::string messageFor(errors::error_T code, const std::string& fileName) {
    using namespace errors;
    switch (code) {
    case RIFF_CHUNK_MISSING: return "'" + fileName + "' is not a valid AVI file (RIFF chunk is missing)";
    case AVI_CHUNK_MISSING: return "'" + fileName + "' is not a valid AVI file (AVI chunk is missing)";
    case OPEN_FAILED: return "Unable to open AVI file ('" + fileName + "')";
    case SEEK_FAILED: return "Seek operation failed";
    case FREAD_FAILED: return "Fread operation failed";
    case FWRITE_FAILED: return "Fwrite operation failed";
    case GET_FILE_POS_FAILED: return "getFilePos operation failed";
    case SET_FILE_POS_FAILED: return "setFilePos operation failed";
    case FRAME_COUNT_MISMATCH:
        return "Number of frames reported in the AVI header does not match number of ##db chunks";
    case AUDIO_CHUNKS_MISSING: return "Corrupted file: audio chunks are missing";
    case VIDEO_CHUNKS_MISSING: return "Corrupted file: video chunks are missing";
    case ALL_CHUNKS_MISSING: return "Corrupted file: both audio and video chunks are missing";
    case MAIN_HEADER_MISSING: return "Corrupted file: main AVI header information is missing";
    case STREAM_LIST_MISSING: return "Corrupted file: stream list is missing";
    case BAD_STRH_LENGTH: return "Encountered unexpected length of strl chunk";
    case STREAM_HEADERS_MISSING: return "Corrupted file: stream headers is missing";
    case AUDIO_FORMAT_UNREADABLE: return "Unable to read audio format header";
    case VIDEO_FORMAT_UNREADABLE: return "Unable to read video frame format header";
    case UNSUPPORTED_BITMAP_HEADER: return "Unsupported bitmap header found";
    case UNSUPPORTED_MAIN_HEADER: return "Unsupported main header found";
    case UNSUPPORTED_AUDIO_HEADER: return "Unsupported audio format header found";
    case COLORMAP_READ_FAILED: return "Failed to read AVI colormap";
    case COLORMAP_SET_DURING_READ: return "Cannot set colormap during read";
    case COLORMAP_REQUIRED: return "Colormap required to write this file";
    case COLORMAP_NOT_EMPTY: return "Cannot over-write a non-empty colormap";
    case COLORMAP_TOO_LARGE: return "Colormap can only have maximum of 256 entries";
    case OUT_OF_MEMORY: return "Out of memory";
    case TOO_MANY_STREAMS:
        return "AVI files with more than " + std::to_string(File::MAX_STREAMS) + " streams are not supported";
    case INTERLEAVED_UNSUPPORTED: return "Interleaved AVI files are not supported";
    case UNSUPPORTED_AUDIO_BITS: return "Unsupported audio stream.Audio must be 8 or 16 bits";
    case INTERNAL_INDEX_REQUIRED: return "AVI files that require use of internal index are not supported";
    case COMPRESSED_VIDEO: return "Compressed video streams are not supported";
    case COMPRESSED_AUDIO: return "Compressed audio streams are not supported";
    case UNSUPPORTED_MODE: return "Unsupported read/write mode";
    case INVALID_LEGACY_INDEX: return "Invalid Legacy Index";
    case LEGACY_INDEX_PARSE_ERROR: return "Error parsing the legacy index";
    case UNSUPPORTED_INDEX_TYPE: return "Unsupported AVI index type";
    case INVALID_INDEX: return "Invalid AVI index";
    case INVALID_INDEX_OFFSET: return "Invalid Index Offset Calculated";
    case UNSUPPORTED_FILE: return "Unsupported AVI file";
    case INVALID_FRAME_COUNT: return "Invalid number of frames";
    case INVALID_BITS_PER_PIXEL: return "Invalid value for Bits Per Pixel";
    case WAVE_FILE: return "WAVE files are only supported on Windows platforms.";
    case NOT_INDEXED_VIDEO: return "Read attempted for a video that is not indexed";
    default: break;  // 0, 44, 46 and anything unknown
    }
    return "Unknown error (" + hexCode(static_cast<unsigned>(code)) + ")";
}

std::u16string narrowToU16(char const* name) {
    const std::string text(name);  // a null name is a programming error (logic_error)
    if (text.empty()) return std::u16string();
    return vq::filesystem::codecvt_narrow_string_to_ustring(true).do_convert(text.data(), text.size());
}

}  // namespace

namespace detail {

StreamHandle::~StreamHandle() {
    close();
}

void StreamHandle::adopt(std::FILE* stream) {
    close();
    stream_ = stream;
    fd_ = stream ? ::fileno(stream) : -1;
}

int StreamHandle::close() {
    if (!stream_) return 0;
    std::FILE* s = stream_;
    stream_ = nullptr;
    fd_ = -1;
    return std::fclose(s);
}

}  // namespace detail

namespace {

std::string utf8Name(const std::u16string& name) {
    return vq::i18n::codecvt_ustring_to_string("UTF-8", true).do_convert(name.data(), name.size());
}

}  // namespace

File::File() = default;

File::~File() {
    try {
        close();
    } catch (...) {
        // close() reports by error code; nothing may leave a destructor.
    }
}

// ---- opening and closing ----

void File::startOver() {
    close();
    static_cast<detail::FileState&>(*this) = detail::FileState();
}

bool File::open(std::u16string name, char const* mode) {
    startOver();
    const char m = mode ? mode[0] : '\0';
    if (m == 'w') {
        this->mode = 1;
        fileName = utf8Name(name);
        stream.adopt(vq::filesystem::fopen(name, "wb"));
        if (!stream.isOpen()) {
            setError(errors::OPEN_FAILED);
            return false;
        }
        return true;
    }
    if (m != 'r') {
        setError(errors::UNSUPPORTED_MODE);
        return false;
    }
    if (!beginReading(name)) return false;
    verifySupport();
    verifyIndex();
    if (topDownFrames) {
        const std::uint64_t row = getVideoHeight() ? storedFrameLength() / getVideoHeight() : 0;
        rowBuffer.reset(new (std::nothrow) char[row ? row : 1]);
        if (!rowBuffer) {
            setError(errors::OUT_OF_MEMORY);
            return false;
        }
    }
    if (hasVideoStream && videoIndex.empty() && hasAudioStream && audioIndex.empty()) {
        setError(errors::ALL_CHUNKS_MISSING);
        return false;
    }
    return true;
}

bool File::open(char const* name, char const* mode) {
    return open(narrowToU16(name), mode);
}

bool File::openToGetInformation(std::u16string name) {
    startOver();
    return beginReading(name);
}

bool File::openToGetInformation(char const* name) {
    return openToGetInformation(narrowToU16(name));
}

bool File::beginReading(const std::u16string& name) {
    fileName = utf8Name(name);
    stream.adopt(std::fopen(fileName.c_str(), "rb"));
    if (!stream.isOpen()) {
        setError(errors::OPEN_FAILED);
        return false;
    }
    mode = 0;
    fileSize = fileLength();
    parseFile();
    return errorCode == errors::NO_ERROR;
}

void File::close() {
    if (!stream.isOpen()) return;
    if (mode == 1) {
        try {
            finishWriting();
        } catch (const std::exception&) {
            // A count or size that no 32-bit field can hold: the file cannot
            // be finished as described, but the stream is closed all the same.
            setError(errors::UNSUPPORTED_FILE);
        }
        resetWriter();
    } else {
        colormap.clear();
        rowBuffer.reset();
    }
    if (stream.close() != 0) setError(mode == 1 ? errors::FWRITE_FAILED : errors::FREAD_FAILED);
    videoFramesRead = 0;
}

// ---- error state ----

errors::error_T File::getErrorCode() const {
    return errorCode;
}

char const* File::getErrorMsg() const {
    return errorMsg.c_str();
}

void File::clearError() {
    errorCode = errors::NO_ERROR;
    errorMsg.clear();
}

void File::setError(errors::error_T code) {
    errorCode = code;
    errorMsg = messageFor(code, fileName);
}

// ---- stream description ----

bool File::hasVideo() const { return hasVideoStream; }
bool File::hasAudio() const { return hasAudioStream; }
std::uint32_t File::getVideoWidth() const { return static_cast<std::uint32_t>(bitmapHeader.width); }
std::uint32_t File::getVideoHeight() const { return static_cast<std::uint32_t>(bitmapHeader.height); }
std::uint16_t File::getVideoBitsPerPixel() const { return bitmapHeader.bitCount; }
// 16- and 32-bit RGB stored with BI_BITFIELDS and the masks of plain RGB
// (as capture tools write it) is uncompressed video like BI_RGB.
bool File::isVideoCompressed() { return bitmapHeader.compression != 0 && !bitfieldsArePlainRgb(); }

bool File::bitfieldsArePlainRgb() const {
    if (bitmapHeader.compression != 3 || !hasColourMasks) return false;
    const std::uint32_t r = colourMasks[0], g = colourMasks[1], b = colourMasks[2];
    switch (bitmapHeader.bitCount) {
    case 16: return b == 0x001F && ((r == 0x7C00 && g == 0x03E0) || (r == 0xF800 && g == 0x07E0));
    case 32: return r == 0xFF0000 && g == 0x00FF00 && b == 0x0000FF;
    default: return false;
    }
}

bool File::isRgb565() const { return bitfieldsArePlainRgb() && bitmapHeader.bitCount == 16 && colourMasks[1] == 0x07E0; }

std::string File::getVideoFourCC() {
    const std::uint32_t c = bitmapHeader.compression;
    return c == 0 ? std::string() : detail::fourccText(c);
}

std::uint32_t File::getVideoStreamRate() const { return streamHeaders[videoStreamIndex % MAX_STREAMS].rate; }
std::uint32_t File::getVideoStreamScale() const { return streamHeaders[videoStreamIndex % MAX_STREAMS].scale; }

double File::getVideoFrameRate() const {
    return static_cast<double>(getVideoStreamRate()) / static_cast<double>(getVideoStreamScale());
}

std::uint32_t File::getVideoTotalFrames() const { return mainHeader.totalFrames; }
std::uint64_t File::getVideoFramesRead() const { return videoFramesRead; }
bool File::isEndOfVideo() { return videoFramesRead == getVideoTotalFrames(); }
void File::resetVideo() { videoFramesRead = 0; }
std::vector<tagRGBQUAD> File::getColormap() const { return colormap; }
std::uint32_t File::getAudioSampleRate() { return waveFormat.samplesPerSec; }
std::uint16_t File::getAudioBitsPerSample() { return waveFormat.bitsPerSample; }
std::uint16_t File::getAudioNumberOfChannels() const { return waveFormat.channels; }
bool File::isAudioCompressed() const { return waveFormat.formatTag != 1; }
std::uint32_t File::getAudioChunkSize() { return audioChunkSize; }
std::uint64_t File::getAudioBytesRead() { return audioBytesRead; }

std::uint32_t File::getAudioTotalBytes() {
    const std::uint32_t length = streamHeaders[audioStreamIndex % MAX_STREAMS].length;
    return length * waveFormat.channels * (waveFormat.bitsPerSample / 8u);
}

// The stream ends at its header's length, or with its last chunk when the
// header claims more than the chunks hold: a read loop always comes to an end.
bool File::isEndOfAudio() { return audioBytesRead == getAudioTotalBytes() || audioChunksUsedUp(); }

bool File::audioChunksUsedUp() const {
    return !audioIndex.empty() && audioChunkIndex >= audioIndex.size();
}

void File::resetAudio() {
    audioChunkIndex = 0;
    audioBytesRead = 0;
    audioChunkOffset = 0;
}

IndexSource File::getVideoIndexSource() const { return videoIndexSource; }
IndexSource File::getAudioIndexSource() const { return audioIndexSource; }

bool File::isVideoKeyFrame(long frame) const {
    if (frame < 0 || static_cast<std::uint64_t>(frame) >= videoKeyFrames.size()) return false;
    return videoKeyFrames[static_cast<std::size_t>(frame)];
}

bool File::isVideoFrameDropped(long frame) const {
    if (frame < 0 || static_cast<std::uint64_t>(frame) >= videoIndex.size()) return false;
    return videoIndex[static_cast<std::size_t>(frame)].size == 0;
}

// ---- reading helpers ----

std::size_t File::readAt(std::uint64_t position, void* buffer, std::size_t length) {
    const int fd = stream.descriptor();
    if (fd < 0 || position > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return 0;
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, out + done, length - done, static_cast<off_t>(position + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool File::readExact(std::uint64_t position, void* buffer, std::size_t length) {
    return readAt(position, buffer, length) == length;
}

std::size_t File::readRecord(std::uint64_t position, std::size_t length, std::vector<char>& storage) {
    // Never more than the file holds, whatever size the file claims.
    const std::uint64_t left = position < fileSize ? fileSize - position : 0;
    storage.resize(static_cast<std::size_t>(std::min<std::uint64_t>(length, left)));
    storage.resize(readAt(position, storage.data(), storage.size()));
    return storage.size();
}

std::uint64_t File::fileLength() {
    struct stat info {};
    if (stream.descriptor() < 0 || ::fstat(stream.descriptor(), &info) != 0 || info.st_size < 0) return 0;
    return static_cast<std::uint64_t>(info.st_size);
}

}  // namespace avi
