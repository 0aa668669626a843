#include <platform/decoders/mjpegavidecoder/mjpegavireader.hpp>

#include <avi/bitmaprows.hpp>
#include <platform/services/i18n/i18n.hpp>
#include <platform/decoders/mjpegavidecoder/mjpegavidecoder.hpp>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

namespace mjpegavidecoder {

namespace {

// JPEG frames cannot be wider or taller than this.
constexpr std::size_t kMaxJpegDimension = 65535;

// FourCCs under which writers store baseline or progressive JPEG frames.
bool isMotionJpeg(std::string fourCC) {
    for (char& c : fourCC) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    static const char* const kJpegFourCCs[] = {"MJPG", "JPEG", "AVRN", "AVDJ", "DMB1", "JPGL"};
    return std::any_of(std::begin(kJpegFourCCs), std::end(kJpegFourCCs),
                       [&](const char* known) { return fourCC == known; });
}

// A FourCC as text for a message: unprintable bytes as '?'.
std::string printable(std::string fourCC) {
    for (char& c : fourCC) {
        if (!std::isprint(static_cast<unsigned char>(c))) {
            c = '?';
        }
    }
    return fourCC;
}

std::uint64_t sizeOfFile(const std::u16string& fileName) {
    struct stat info {};
    if (::stat(vq::i18n::ustring_to_utf8(fileName).c_str(), &info) != 0 || info.st_size < 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

using avi::bitmapRowBytes;

}  // namespace

MjpegAviReader::MjpegAviReader(bool decodeAhead) : decodeAhead_(decodeAhead) {}

MjpegAviReader::~MjpegAviReader() {
    forgetFile();
}

void MjpegAviReader::forgetFile() {
    ahead_.reset();  // stops and joins the worker before the file goes
    if (file_) {
        file_->close();
        file_.reset();
    }
}

void MjpegAviReader::resetDescription() {
    coding_ = Coding::None;
    width_ = height_ = 0;
    rate_ = scale_ = 0;
    frameCount_ = fileSize_ = 0;
    videoCodec_.clear();
    audioCodec_.clear();
    audioChannels_ = 0.0;
    hasAudio_ = false;
    next_ = 0;
    currentTime_ = 0.0;
    endOfStream_ = false;
    layout_.reset();
    warnings_.clear();
}

void MjpegAviReader::open(const std::u16string& fileName, bool openFlag) {
    // One reader serves one file: opening again starts from scratch.
    forgetFile();
    resetDescription();
    openFlag_ = openFlag;

    auto file = std::make_unique<avi::File>();
    bool opened = false;
    try {
        opened = file->open(fileName, "r");
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        // An offset beyond 32 bits in the chunk scan: not a file we can index.
        throw qsVideoReader::InitializationFailedException();
    }
    if (!opened) {
        if (file->getErrorCode() == avi::errors::OPEN_FAILED) {
            throw qsVideoReader::FileNotFoundException(file->getErrorMsg());
        }
        throw qsVideoReader::InitializationFailedException();
    }
    file_ = std::move(file);
    try {
        describe(fileName);
    } catch (...) {
        forgetFile();
        resetDescription();
        throw;
    }
}

void MjpegAviReader::describe(const std::u16string& fileName) {
    avi::File& f = *file_;
    const std::string name = vq::i18n::ustring_to_utf8(fileName);
    if (!f.hasVideo()) {
        throw qsVideoReader::NoVideoException("'" + name + "' has no video stream");
    }
    if (f.isVideoCompressed()) {
        const std::string fourCC = f.getVideoFourCC();
        if (!isMotionJpeg(fourCC)) {
            throw qsVideoReader::UnknownCodecException("'" + name + "' holds video of codec '" +
                                                       printable(fourCC) +
                                                       "', not Motion JPEG");
        }
        coding_ = Coding::Jpeg;
        videoCodec_ = vq::i18n::to_ustring(fourCC.c_str());
    } else {
        const unsigned bits = f.getVideoBitsPerPixel();
        if (bits != 8 && bits != 16 && bits != 24 && bits != 32) {
            throw qsVideoReader::UnknownCodecException(
                "'" + name + "' holds uncompressed video of " + std::to_string(bits) +
                " bits per pixel, which is not read");
        }
        coding_ = Coding::Uncompressed;
    }

    width_ = f.getVideoWidth();
    height_ = f.getVideoHeight();
    if (width_ == 0 || height_ == 0) {
        throw qsVideoReader::FileCorruptException("'" + name + "' describes video without a size");
    }
    if (coding_ == Coding::Jpeg && (width_ > kMaxJpegDimension || height_ > kMaxJpegDimension)) {
        throw qsVideoReader::FileCorruptException("'" + name + "' describes JPEG frames of " +
                                                  std::to_string(width_) + "x" +
                                                  std::to_string(height_) + " pixels");
    }

    frameCount_ = f.getVideoTotalFrames();
    if (frameCount_ == 0 && f.getErrorCode() == avi::errors::VIDEO_CHUNKS_MISSING) {
        throw qsVideoReader::FileCorruptException("'" + name + "': " + f.getErrorMsg());
    }
    fileSize_ = sizeOfFile(fileName);
    if (coding_ == Coding::Uncompressed) {
        checkUncompressedLayout();
    }

    rate_ = f.getVideoStreamRate();
    scale_ = f.getVideoStreamScale();

    hasAudio_ = f.hasAudio();
    if (hasAudio_) {
        audioChannels_ = f.getAudioNumberOfChannels();
        audioCodec_ = f.isAudioCompressed() ? u"" : u"PCM";
    }
}

// avi::File reads and converts an uncompressed frame in place, trusting that
// the first chunk of the stream has the length the bitmap header implies. A
// chunk of another length would make the conversion walk outside the buffer,
// so such a file is refused here.
void MjpegAviReader::checkUncompressedLayout() {
    avi::File& f = *file_;
    const unsigned bits = f.getVideoBitsPerPixel();
    const std::uint64_t rows = height_;
    const std::uint64_t expected = rows * bitmapRowBytes(width_, bits);
    const std::uint64_t rgb24 = rows * bitmapRowBytes(width_, 24);
    if (rgb24 > std::numeric_limits<std::uint32_t>::max() || (fileSize_ != 0 && expected > fileSize_)) {
        throw qsVideoReader::FileCorruptException("uncompressed frames of " + std::to_string(width_) +
                                                  "x" + std::to_string(height_) +
                                                  " pixels cannot be in this file");
    }
    if (frameCount_ == 0) {
        return;
    }
    const std::uint64_t stored = f.getRawVideoFrameSize(0);
    const bool exact = bits == 8 || bits == 16;  // these conversions grow the frame
    if (exact ? stored != expected : stored < expected) {
        throw qsVideoReader::FileCorruptException(
            "uncompressed frames of " + std::to_string(stored) + " bytes where " +
            std::to_string(expected) + " are needed");
    }
}

bool MjpegAviReader::colormap(std::vector<avi::tagRGBQUAD>& entries) const {
    if (!file_ || coding_ != Coding::Uncompressed || file_->getVideoBitsPerPixel() != 8) {
        return false;
    }
    entries = file_->getColormap();
    return true;
}

void MjpegAviReader::startFromBeginning() {
    next_ = 0;
    endOfStream_ = false;
    dropAheadUnlessNext();
}

// A frame ahead that the next read will not take is stopped now, so the
// worker does not decode frames nobody reads.
void MjpegAviReader::dropAheadUnlessNext() {
    if (ahead_ && ahead_->held() && ahead_->held()->frame != next_) {
        ahead_->cancel();
    }
}

bool MjpegAviReader::aheadHolds(std::uint64_t n, bool rowMajorInterleaved) const {
    const AheadJob* held = ahead_ ? ahead_->held() : nullptr;
    return held && held->frame == n && held->interleaved == rowMajorInterleaved;
}

void MjpegAviReader::seekToTime(double seconds) {
    if (!file_) {
        throw qsVideoReader::SeekFailedException();
    }
    endOfStream_ = false;
    if (seconds == qsVideoReader::NO_START_TIME) {
        return;  // the next frame is ready as it is
    }
    if (!(seconds >= 0.0)) {  // negative or NaN
        throw qsVideoReader::SeekFailedException();
    }
    if (!framePeriodKnown()) {
        if (seconds != 0.0) {
            throw qsVideoReader::SeekFailedException();
        }
        next_ = 0;
        dropAheadUnlessNext();
        return;
    }
    // The frame shown at `seconds`; the small allowance makes the time of a
    // frame as reported by getCurrentTime() select that frame again.
    const long double position =
        static_cast<long double>(seconds) * rate_ / scale_ + 1e-6L;
    next_ = position >= static_cast<long double>(frameCount_)
                ? frameCount_
                : static_cast<std::uint64_t>(std::floor(position));
    dropAheadUnlessNext();
}

void MjpegAviReader::readFrame(bool rowMajorInterleaved, void* destination) {
    if (!file_ || next_ >= frameCount_) {
        endOfStream_ = true;
        return;
    }
    const std::uint64_t n = next_++;
    try {
        if (destination == nullptr) {
            throw std::invalid_argument("no destination for the frame");
        }
        auto* out = static_cast<std::uint8_t*>(destination);
        if (coding_ == Coding::Jpeg) {
            readJpegFrame(n, rowMajorInterleaved, out);
        } else if (rowMajorInterleaved) {
            // The interleaved layout is the packed frame itself: convert
            // straight into the caller's memory, no copy.
            convertUncompressedFrame(n, out);
        } else {
            prepareLayout();
            packed_.resize(width_ * height_ * 3);
            convertUncompressedFrame(n, packed_.data());
            layout_->copy({destination}, packed_.data(), false);
        }
        currentTime_ = timeOfFrame(n);
    } catch (const std::exception& failure) {
        if (ahead_) {
            ahead_->cancel();  // reading stops here
        }
        currentTime_ = std::numeric_limits<double>::infinity();
        warnFailed(n, failure.what());
    } catch (...) {
        if (ahead_) {
            ahead_->cancel();
        }
        currentTime_ = std::numeric_limits<double>::infinity();
    }
}

namespace {

std::string frameName(std::uint64_t n, double seconds) {
    std::string name = "frame " + std::to_string(n);
    if (std::isfinite(seconds)) {
        char at[48];
        std::snprintf(at, sizeof at, " (at %.3f s)", seconds);
        name += at;
    }
    return name;
}

}  // namespace

void MjpegAviReader::warnAbout(std::uint64_t n, const JpegFrameDecoder::Warnings& warnings) {
    if (warnings.count == 0) {
        return;
    }
    std::string text = frameName(n, timeOfFrame(n)) + " was decoded from corrupt data: " + warnings.text;
    if (warnings.count > 1) {
        text += " (" + std::to_string(warnings.count) + " warnings)";
    }
    warnings_.push_back({"CorruptFrame", std::move(text)});
}

void MjpegAviReader::warnFailed(std::uint64_t n, const std::string& why) {
    try {
        warnings_.push_back({"CorruptFrame", frameName(n, timeOfFrame(n)) + " could not be decoded: " + why});
    } catch (...) {
        // The frame is marked failed all the same.
    }
}

std::vector<qsVideoReader::ReaderWarning> MjpegAviReader::takeWarnings() {
    std::vector<qsVideoReader::ReaderWarning> taken;
    taken.swap(warnings_);
    return taken;
}

void MjpegAviReader::readJpegFrame(std::uint64_t n, bool rowMajorInterleaved,
                                   std::uint8_t* destination) {
    if (aheadHolds(n, rowMajorInterleaved)) {
        // Decoded beside the frame before. The frame after it is left for
        // this thread to decode next time, beside the worker's next one.
        const AheadResult result = ahead_->take();
        if (!result.decoded) {
            throw std::runtime_error(result.warnings.text.empty() ? "frame decoded ahead failed"
                                                                  : result.warnings.text);
        }
        std::memcpy(destination, aheadDecoder_->frame.get(), width_ * height_ * 3);
        warnAbout(n, result.warnings);
        return;
    }
    if (ahead_) {
        ahead_->cancel();  // another position or layout
    }
    readChunk(n, chunk_);
    if (decodeAhead_ && n + 1 < frameCount_) {
        startAhead(n + 1, rowMajorInterleaved);
    }
    if (!jpeg_) {
        jpeg_ = std::make_unique<JpegFrameDecoder>();
    }
    // Either layout straight into the caller's memory: the interleaved one
    // is the decoded rows themselves, the default one is laid out band by
    // band.
    if (rowMajorInterleaved) {
        jpeg_->decode(chunk_.data(), chunk_.size(), width_, height_, destination);
    } else {
        jpeg_->decodePlanar(chunk_.data(), chunk_.size(), width_, height_, destination);
    }
    warnAbout(n, jpeg_->lastWarnings());
}

// Frame n + 1 to the worker. Any failure here (a chunk that cannot be read,
// no thread) only means the frame is read without help when its turn comes.
void MjpegAviReader::startAhead(std::uint64_t n, bool rowMajorInterleaved) {
    try {
        if (!ahead_) {
            aheadDecoder_ = std::make_unique<AheadDecoder>();
            ahead_ = std::make_unique<decoders::DecodeAhead<AheadJob, AheadResult>>(
                [worker = aheadDecoder_.get()](const AheadJob& job, const std::atomic<bool>& cancelled) {
                    return worker->decode(job, cancelled);
                });
        }
        ahead_->cancel();
        AheadJob& job = ahead_->job();
        readChunk(n, job.chunk);
        job.frame = n;
        job.interleaved = rowMajorInterleaved;
        job.width = width_;
        job.height = height_;
        ahead_->start();
    } catch (const std::exception&) {
    }
}

// On the worker. A frame that does not decode is marked failed, with why; a
// cancelled one is dropped.
MjpegAviReader::AheadResult MjpegAviReader::AheadDecoder::decode(const AheadJob& job,
                                                                 const std::atomic<bool>& cancelled) {
    AheadResult result;
    try {
        const std::size_t bytes = job.width * job.height * 3;
        if (frameBytes != bytes) {
            frame.reset();
            frameBytes = 0;
            frame = pixcapframekit::allocateFrameMemory(bytes);
            frameBytes = bytes;
        }
        jpeg.watchForCancel(&cancelled);
        if (job.interleaved) {
            jpeg.decode(job.chunk.data(), job.chunk.size(), job.width, job.height, frame.get());
        } else {
            jpeg.decodePlanar(job.chunk.data(), job.chunk.size(), job.width, job.height, frame.get());
        }
        result.decoded = true;
        result.warnings = jpeg.lastWarnings();
    } catch (const std::exception& failure) {
        try {
            result.warnings.text = failure.what();
        } catch (...) {
        }
    } catch (...) {
        // Cancelled: nobody wants the frame.
    }
    return result;
}

void MjpegAviReader::prepareLayout() {
    if (!layout_) {
        layout_ = pixcapframekit::frameFactory(pixcapframekit::frametypes::FRAMETYPE_RGB8,
                                               static_cast<int>(width_), static_cast<int>(height_));
        if (!layout_) {
            throw std::runtime_error("no frame layout for this size");
        }
    }
}

void MjpegAviReader::readChunk(std::uint64_t n, std::vector<std::uint8_t>& chunk) {
    avi::File& f = *file_;
    const long frame = static_cast<long>(n);
    const std::uint32_t size = f.getRawVideoFrameSize(frame);
    if (size == 0 || (fileSize_ != 0 && size > fileSize_)) {
        throw std::runtime_error("frame chunk of an impossible size");
    }
    chunk.resize(size);
    f.readVideoFrame(reinterpret_cast<char*>(chunk.data()), frame);
    if (f.getErrorCode() != avi::errors::NO_ERROR) {
        throw std::runtime_error(f.getErrorMsg());
    }
}

// avi::File delivers bottom-up rows of blue, green, red padded to 4 bytes;
// the frame object wants top-down rows of red, green, blue.
void MjpegAviReader::convertUncompressedFrame(std::uint64_t n, std::uint8_t* rgb) {
    avi::File& f = *file_;
    const long frame = static_cast<long>(n);
    const std::size_t stride = bitmapRowBytes(width_, 24);
    const std::size_t needed = std::max<std::size_t>(f.getRGB24VideoFrameSize(), stride * height_);
    chunk_.resize(std::max<std::size_t>(needed, f.getRawVideoFrameSize(0)));
    f.readRGB24VideoFrame(reinterpret_cast<char*>(chunk_.data()), frame);
    if (f.getErrorCode() != avi::errors::NO_ERROR) {
        throw std::runtime_error(f.getErrorMsg());
    }
    for (std::size_t y = 0; y < height_; ++y) {
        const std::uint8_t* src = chunk_.data() + (height_ - 1 - y) * stride;
        std::uint8_t* dst = rgb + y * width_ * 3;
        for (std::size_t x = 0; x < width_; ++x) {
            dst[3 * x] = src[3 * x + 2];
            dst[3 * x + 1] = src[3 * x + 1];
            dst[3 * x + 2] = src[3 * x];
        }
    }
}

double MjpegAviReader::timeOfFrame(std::uint64_t n) const {
    if (!framePeriodKnown()) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return static_cast<double>(n) * scale_ / rate_;
}

void MjpegAviReader::close() {
    forgetFile();
    chunk_ = {};
    packed_ = {};
    jpeg_.reset();
    aheadDecoder_.reset();
}

std::size_t MjpegAviReader::getHeight() { return height_; }

std::size_t MjpegAviReader::getWidth() { return width_; }

double MjpegAviReader::getFrameRate() {
    return framePeriodKnown() ? static_cast<double>(rate_) / scale_ : 0.0;
}

double MjpegAviReader::getDuration() {
    if (coding_ == Coding::None || !framePeriodKnown()) {
        return -1.0;
    }
    return static_cast<double>(frameCount_) * scale_ / rate_;
}

unsigned int MjpegAviReader::getBitsPerPixel() { return coding_ == Coding::None ? 0 : 24; }

std::u16string MjpegAviReader::getVideoFormat() {
    return coding_ == Coding::None ? u"" : u"RGB24";
}

std::u16string MjpegAviReader::getVideoCodec() { return videoCodec_; }

std::u16string MjpegAviReader::getAudioCodec() { return audioCodec_; }

double MjpegAviReader::getNumAudioChannels() { return audioChannels_; }

std::size_t MjpegAviReader::getNumColorChannels() { return coding_ == Coding::None ? 0 : 3; }

bool MjpegAviReader::hasAudio() { return hasAudio_; }

bool MjpegAviReader::hasVideo() { return coding_ != Coding::None; }

double MjpegAviReader::getCurrentTime() { return currentTime_; }

bool MjpegAviReader::isEndOfStream() { return endOfStream_; }

bool MjpegAviReader::getOpenFlag() { return openFlag_; }

qsVideoReader::VideoDataType MjpegAviReader::getVideoDataType() {
    return multimedia::common::avbuffer::VIDEO_UINT8;
}

}  // namespace mjpegavidecoder

namespace qsVideoReader {

IVideoReader* createMjpegAviReaderInstance() {
    return new mjpegavidecoder::MjpegAviReader(true);
}

}  // namespace qsVideoReader

namespace mjpegavidecoder {

bool colormapOfOpenFile(qsVideoReader::IVideoReader& reader, std::vector<avi::tagRGBQUAD>& colormap) {
    auto* mjpeg = dynamic_cast<MjpegAviReader*>(&reader);
    return mjpeg != nullptr && mjpeg->colormap(colormap);
}

qsVideoReader::IVideoReader* createReaderWithoutDecodeAhead() {
    return new MjpegAviReader(false);
}

}  // namespace mjpegavidecoder
