// avi::File, the facade: opening picks a reader or a writer, every call goes
// to the one that is open; the error state and its messages.
#include <avi/avifile.hpp>
#include <avi/fourcc.hpp>
#include <avi/reader.hpp>
#include <avi/writer.hpp>

#include <platform/services/i18n/i18n.hpp>

#include <boost/numeric/conversion/cast.hpp>

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

std::string utf8Name(const std::u16string& name) {
    return vq::i18n::codecvt_ustring_to_string("UTF-8", true).do_convert(name.data(), name.size());
}

}  // namespace

void detail::Status::set(errors::error_T c) {
    code = c;
    message = messageFor(c, fileName);
}

void detail::Status::clear() {
    code = errors::NO_ERROR;
    message.clear();
}

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
    reader_.reset();
    writer_.reset();
    status_ = detail::Status();
}

bool File::open(std::u16string name, char const* mode) {
    startOver();
    const char m = mode ? mode[0] : '\0';
    if (m == 'w') {
        status_.fileName = utf8Name(name);
        std::FILE* file = vq::filesystem::fopen(name, "wb");
        if (!file) {
            setError(errors::OPEN_FAILED);
            return false;
        }
        writer_.reset(new detail::Writer(status_, file));
        return true;
    }
    if (m != 'r') {
        setError(errors::UNSUPPORTED_MODE);
        return false;
    }
    return openToGetInformation(name) && reader_->prepareFrames();
}

bool File::open(char const* name, char const* mode) {
    return open(narrowToU16(name), mode);
}

bool File::openToGetInformation(std::u16string name) {
    startOver();
    status_.fileName = utf8Name(name);
    reader_.reset(new detail::Reader(status_));
    return reader_->open(status_.fileName);
}

bool File::openToGetInformation(char const* name) {
    return openToGetInformation(narrowToU16(name));
}

void File::close() {
    if (writer_) writer_->close();
    if (reader_) reader_->close();
}

const detail::Streams& File::streams() const {
    static const detail::Streams none;
    if (reader_) return *reader_;
    if (writer_) return *writer_;
    return none;
}

detail::Reader* File::reading() {
    if (!reader_) setError(errors::UNSUPPORTED_MODE);
    return reader_.get();
}

detail::Writer* File::writing() {
    if (!writer_) setError(errors::UNSUPPORTED_MODE);
    return writer_.get();
}

// ---- error state ----

errors::error_T File::getErrorCode() const { return status_.code; }
char const* File::getErrorMsg() const { return status_.message.c_str(); }
void File::clearError() { status_.clear(); }
void File::setError(errors::error_T code) { status_.set(code); }

// ---- stream description ----

bool File::hasVideo() const { return streams().hasVideoStream; }
bool File::hasAudio() const { return streams().hasAudioStream; }
std::uint32_t File::getVideoWidth() const { return streams().getVideoWidth(); }
std::uint32_t File::getVideoHeight() const { return streams().getVideoHeight(); }
std::uint16_t File::getVideoBitsPerPixel() const { return streams().bitmapHeader.bitCount; }
bool File::isVideoCompressed() { return streams().isVideoCompressed(); }

std::string File::getVideoFourCC() {
    const std::uint32_t c = streams().bitmapHeader.compression;
    return c == 0 ? std::string() : detail::fourccText(c);
}

std::uint32_t File::getVideoStreamRate() const { return streams().getVideoStreamRate(); }
std::uint32_t File::getVideoStreamScale() const { return streams().getVideoStreamScale(); }

double File::getVideoFrameRate() const {
    return static_cast<double>(getVideoStreamRate()) / static_cast<double>(getVideoStreamScale());
}

std::uint32_t File::getVideoTotalFrames() const { return streams().getVideoTotalFrames(); }
std::vector<tagRGBQUAD> File::getColormap() const { return streams().colormap; }
std::uint32_t File::getAudioSampleRate() { return streams().waveFormat.samplesPerSec; }
std::uint16_t File::getAudioBitsPerSample() { return streams().waveFormat.bitsPerSample; }
std::uint16_t File::getAudioNumberOfChannels() const { return streams().waveFormat.channels; }
bool File::isAudioCompressed() const { return streams().isAudioCompressed(); }
std::uint32_t File::getAudioChunkSize() { return streams().audioChunkSize; }
std::uint32_t File::getAudioTotalBytes() { return streams().getAudioTotalBytes(); }

// ---- where reading stands (a file not being read has read nothing) ----

std::uint64_t File::getVideoFramesRead() const { return reader_ ? reader_->videoFramesRead : 0; }
bool File::isEndOfVideo() { return getVideoFramesRead() == getVideoTotalFrames(); }

void File::resetVideo() {
    if (reader_) reader_->videoFramesRead = 0;
}

std::uint64_t File::getAudioBytesRead() { return reader_ ? reader_->audioBytesRead : 0; }

// The stream ends at its header's length, or with its last chunk when the
// header claims more than the chunks hold: a read loop always comes to an end.
bool File::isEndOfAudio() { return reader_ ? reader_->isEndOfAudio() : getAudioTotalBytes() == 0; }

void File::resetAudio() {
    if (reader_) reader_->resetAudio();
}

IndexSource File::getVideoIndexSource() const { return reader_ ? reader_->videoIndexSource : IndexSource::None; }
IndexSource File::getAudioIndexSource() const { return reader_ ? reader_->audioIndexSource : IndexSource::None; }
bool File::isVideoKeyFrame(long frame) const { return reader_ && reader_->isVideoKeyFrame(frame); }
bool File::isVideoFrameDropped(long frame) const { return reader_ && reader_->isVideoFrameDropped(frame); }

// ---- reading frames and audio ----

void File::readVideoFrame(char* buffer, long frame) {
    if (detail::Reader* r = reading()) r->readFrameInto(buffer, frame);
}

void File::readVideoFrame(char* buffer) { readVideoFrame(buffer, INVALID_FRAME_INDEX); }

void File::readRGB24VideoFrame(char* buffer, long frame) {
    if (detail::Reader* r = reading()) r->readRGB24VideoFrame(buffer, frame);
}

void File::readRGB24VideoFrame(char* buffer) { readRGB24VideoFrame(buffer, INVALID_FRAME_INDEX); }

void File::readIndexedVideoFrame(char* buffer, long frame) {
    if (detail::Reader* r = reading()) r->readIndexedVideoFrame(buffer, frame);
}

void File::readAudio(char* buffer, unsigned long count) {
    if (detail::Reader* r = reading()) r->readAudio(buffer, count);
}

void File::errorIfWrongNumFrameForRGB24() {
    if (detail::Reader* r = reading()) r->errorIfWrongNumFrameForRGB24();
}

// ---- frame sizes and row padding ----

// A size the other side (or no side) has no use for is 0; asking for it is
// no failure.

std::uint32_t File::getRawVideoFrameSize(long frame) { return reader_ ? reader_->getRawVideoFrameSize(frame) : 0; }

std::uint32_t File::getRGB24VideoFrameSize() {
    if (writer_) return writer_->getRGB24VideoFrameSize();
    return reader_ ? reader_->getRGB24VideoFrameSize() : 0;
}

std::uint32_t File::getIndexedVideoFrameSize() { return streams().getIndexedVideoFrameSize(); }
std::uint32_t File::getRgb24PadLength() { return streams().getRgb24PadLength(); }
std::uint32_t File::getIndexedPadLength() { return streams().getIndexedPadLength(); }
std::uint32_t File::getRgb555PadLength() { return streams().getRgb555PadLength(); }

// ---- in-place conversions of a stored frame ----
// With or without padded output rows, a conversion is one walk.

void File::indexedToRgb24(char* buffer) {
    if (detail::Reader* r = reading()) r->indexedToRgb24(buffer);
}
void File::indexedToRgb24WPad(char* buffer) { indexedToRgb24(buffer); }

void File::rgb555ToRgb24(char* buffer) {
    if (detail::Reader* r = reading()) r->rgb555ToRgb24(buffer);
}
void File::rgb555ToRgb24WPad(char* buffer) { rgb555ToRgb24(buffer); }

void File::rgb32ToRgb24(char* buffer) {
    if (detail::Reader* r = reading()) r->rgb32ToRgb24(buffer);
}
void File::rgb32ToRgb24WPad(char* buffer) { rgb32ToRgb24(buffer); }

void File::convertFrameToBottomUp(char* buffer) {
    if (detail::Reader* r = reading()) r->convertFrameToBottomUp(buffer);
}

// ---- writing ----

void File::setVideoInfo(unsigned int width, unsigned int height, double frameRate, const std::string& fourCC,
                        unsigned int bitsPerPixel) {
    if (detail::Writer* w = writing()) w->setVideoInfo(width, height, frameRate, fourCC, bitsPerPixel);
}

void File::setVideoInfo(unsigned int width, unsigned int height, double frameRate, const std::string& fourCC) {
    setVideoInfo(width, height, frameRate, fourCC, DEFAULT_BITS_PER_PIXEL);
}

void File::setVideoInfo(unsigned int width, unsigned int height, double frameRate) {
    setVideoInfo(width, height, frameRate, std::string(), DEFAULT_BITS_PER_PIXEL);
}

void File::setAudioInfo(double sampleRate, unsigned int bitsPerSample, unsigned int numChannels,
                        unsigned int bytesPerChunk) {
    if (detail::Writer* w = writing()) w->setAudioInfo(sampleRate, bitsPerSample, numChannels, bytesPerChunk);
}

void File::setColormap(const std::vector<avi::tagRGBQUAD>& map) {
    if (!writer_) {
        setError(errors::COLORMAP_SET_DURING_READ);
        return;
    }
    writer_->setColormap(map);
}

void File::setNumSuperIndexEntries(unsigned long entries) {
    if (detail::Writer* w = writing()) w->setNumSuperIndexEntries(entries);
}

void File::writeVideoFrame(char* data, unsigned int size) {
    if (detail::Writer* w = writing()) w->writeVideoFrame(data, size);
}

void File::writeVideoFrame(char* data) {
    if (detail::Writer* w = writing()) w->writeVideoFrame(data);
}

void File::writeAudio(char* data) {
    if (detail::Writer* w = writing()) w->writeAudio(data);
}

// The sizes of what a writer writes; 0 when nothing is written.

std::uint32_t File::getHeaderLength() { return writer_ ? writer_->getHeaderLength() : 0; }

std::uint32_t File::getStrlLength(unsigned char present, unsigned int fixedLength, unsigned long superIndexEntries) {
    if (!present || !writer_) return 0;
    return boost::numeric_cast<std::uint32_t>(std::uint64_t(getOpenDMLSuperIndexLength(superIndexEntries)) +
                                              fixedLength + 8);
}

std::uint32_t File::getOpenDMLHeaderLength() { return writer_ ? writer_->getOpenDMLHeaderLength() : 0; }

std::uint32_t File::getOpenDMLSuperIndexLength(unsigned long entries) {
    return writer_ ? writer_->getOpenDMLSuperIndexLength(entries) : 0;
}

std::uint32_t File::getOpenDMLStandardIndexLength(unsigned long entries) {
    return writer_ ? writer_->getOpenDMLStandardIndexLength(entries) : 0;
}

std::uint32_t File::getLegacyIndexLength() { return writer_ ? writer_->getLegacyIndexLength() : 0; }

std::uint32_t File::getMoviLength() { return writer_ ? writer_->getMoviLength() : 0; }

std::uint32_t File::getCurRiffChunkSize() { return writer_ ? writer_->getCurRiffChunkSize() : 0; }

bool File::isFirstRiffChunk() { return writer_ && writer_->isFirstRiffChunk(); }

bool File::atRiffBoundary(unsigned long length) {
    return writer_ && writer_->atRiffBoundary(length);
}

}  // namespace avi
