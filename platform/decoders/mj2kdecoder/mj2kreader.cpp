#include <platform/decoders/mj2kdecoder/mj2kdecoder.hpp>
#include <platform/decoders/mj2kdecoder/mj2kreader.hpp>

#include <platform/services/i18n/i18n.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <thread>

namespace qsVideoReader {

IVideoReader* createMj2kReaderInstance() { return new mj2k::Mj2kReader(); }

}  // namespace qsVideoReader

namespace mj2k {

using namespace qsVideoReader;

namespace {

std::u16string ascii16(const std::string& text) {
    std::u16string out;
    for (char ch : text) out.push_back(static_cast<unsigned char>(ch));
    return out;
}

// Codec names are four-character codes; trailing blanks and zeros are padding.
std::u16string codecName(std::string code) {
    while (!code.empty() && (code.back() == ' ' || code.back() == '\0')) code.pop_back();
    return ascii16(code);
}

[[noreturn]] void throwFor(const ParseResult& r) {
    switch (r.status) {
        case ParseStatus::NoVideo: throw NoVideoException("NoVideo: " + r.detail);
        case ParseStatus::UnknownCodec: throw UnknownCodecException("UnknownCodec: " + r.detail);
        case ParseStatus::NoMovie: throw FileCorruptException("FileCorrupt: not a Motion JPEG 2000 file (" + r.detail + ")");
        default: throw FileCorruptException("FileCorrupt: " + r.detail);
    }
}

}  // namespace

bool Mj2kReader::readBytes(std::uint64_t offset, std::uint8_t* out, std::size_t n) {
    if (!file_ || offset > fileSize_ || n > fileSize_ - offset) return false;
    int fd = fileno(file_.get());
    while (n > 0) {
        ssize_t got = ::pread(fd, out, n, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        offset += static_cast<std::uint64_t>(got);
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

void Mj2kReader::open(const std::u16string& fileName, bool openFlag) {
    close();
    movie_ = Movie{};
    format_ = FrameFormat{};
    openFlag_ = openFlag;
    next_ = 0;
    endOfStream_ = false;
    currentTime_ = 0.0;

    if (fileName.empty()) throw FileNotFoundException("FileNotFound: empty file name");
    std::unique_ptr<std::FILE, FileCloser> file(vq::filesystem::fopen(fileName, "rb"));
    if (!file) throw FileNotFoundException("FileNotFound: cannot open " + vq::i18n::ustring_to_utf8(fileName));
    struct stat st;
    if (::fstat(fileno(file.get()), &st) != 0 || !S_ISREG(st.st_mode))
        throw FileNotFoundException("FileNotFound: not a regular file: " + vq::i18n::ustring_to_utf8(fileName));
    file_ = std::move(file);
    fileSize_ = static_cast<std::uint64_t>(st.st_size);

    try {
        std::uint64_t moovOffset = 0, moovSize = 0;
        ReadAt read = [this](std::uint64_t offset, std::uint8_t* out, std::size_t n) {
            return readBytes(offset, out, n);
        };
        ParseResult r = locateMovie(read, fileSize_, moovOffset, moovSize);
        if (!r.ok()) throwFor(r);
        std::vector<std::uint8_t> moov(static_cast<std::size_t>(moovSize));
        if (!readBytes(moovOffset, moov.data(), moov.size())) throw ReadFailedException();
        r = parseMovie(ByteCursor(moov.data(), moov.size()), fileSize_, movie_);
        if (!r.ok()) throwFor(r);

        const VideoTrack& v = movie_.video;
        if (!v.samples.empty()) {
            // The first sample tells the picture size, channels and depth.
            std::vector<std::uint8_t> first;
            if (!readSample(v.samples.front(), first))
                throw FileCorruptException("FileCorrupt: cannot read the first sample");
            Codestream cs;
            if (!findCodestream(first.data(), first.size(), cs))
                throw FileCorruptException(std::string("FileCorrupt: first sample: ") + cs.problem);
            ColourSpace colour = cs.colour != ColourSpace::Unknown ? cs.colour : v.colour;
            if (!readHeader(cs.data, cs.size, colour, format_))
                throw FileCorruptException("FileCorrupt: unreadable codestream header in the first sample");
        } else {
            // No frames: describe them from the sample entry.
            format_.width = v.width;
            format_.height = v.height;
            format_.channels = v.components == 1 || v.components == 2 ? 1 : 3;
            format_.precision = v.bitDepth ? v.bitDepth : 8;
            format_.isSigned = v.isSigned;
            format_.ycc = format_.channels == 3 && v.colour == ColourSpace::SYCC;
        }
    } catch (...) {
        file_.reset();
        movie_ = Movie{};
        format_ = FrameFormat{};
        throw;
    }
    const unsigned cores = std::thread::hardware_concurrency();
    threads_ = cores > 1 ? std::min(cores, 16u) : 1;
    // OpenJPEG cannot stop a decode early: a cancelled one runs to its end.
    ahead_ = std::make_unique<decoders::DecodeAhead<AheadJob, ImageHandle>>(
        [this](const AheadJob& job, const std::atomic<bool>&) { return decodeSample(job.sample); });
    opened_ = true;
}

bool Mj2kReader::readSample(const Sample& sample, std::vector<std::uint8_t>& bytes) {
    if (sample.size == 0 || sample.size > kMaxSampleSize) return false;
    bytes.resize(sample.size);
    return readBytes(sample.offset, bytes.data(), bytes.size());
}

ImageHandle Mj2kReader::decodeSample(const Sample& sample) {
    try {
        std::vector<std::uint8_t> bytes;
        if (!readSample(sample, bytes)) return nullptr;
        Codestream cs;
        if (!findCodestream(bytes.data(), bytes.size(), cs)) return nullptr;
        return decode(cs.data, cs.size, threads_);
    } catch (...) {  // out of memory: a failed frame, as a damaged one
        return nullptr;
    }
}

// A new position drops what was decoded ahead for the old one.
void Mj2kReader::setNext(std::size_t next) {
    if (next != next_ && ahead_) ahead_->cancel();
    next_ = next;
}

void Mj2kReader::startFromBeginning() {
    if (!opened_) throw SeekFailedException();
    setNext(0);
    endOfStream_ = false;
}

void Mj2kReader::seekToTime(double seconds) {
    if (!opened_) throw SeekFailedException();
    endOfStream_ = false;
    if (seconds == NO_START_TIME) return;  // reading goes on where it is
    if (std::isnan(seconds)) throw SeekFailedException();
    const auto& samples = movie_.video.samples;
    if (seconds <= 0.0 || samples.empty()) {
        setNext(0);
        return;
    }
    // The frame shown at `seconds` is the last one that starts at or before it;
    // a tolerance of a millionth of a tick absorbs the rounding of k / rate.
    double ticks = seconds * movie_.video.timescale + 1e-6;
    const Sample& last = samples.back();
    if (ticks >= double(last.time) + double(last.duration) && last.duration > 0) {
        setNext(samples.size());  // past the end: the next read reports the end
        return;
    }
    auto it = std::upper_bound(samples.begin(), samples.end(), ticks,
                               [](double t, const Sample& s) { return t < double(s.time); });
    setNext(it == samples.begin() ? 0 : static_cast<std::size_t>(it - samples.begin()) - 1);
}

void Mj2kReader::readFrame(bool rowMajorInterleaved, void* destination) {
    try {
        if (!opened_) {
            currentTime_ = std::numeric_limits<double>::infinity();
            return;
        }
        const auto& samples = movie_.video.samples;
        if (next_ >= samples.size()) {
            endOfStream_ = true;
            return;
        }
        const std::size_t index = next_++;
        const Sample& sample = samples[index];
        ImageHandle image = takeSample(index);
        if (image && copyFrame(*image, format_, rowMajorInterleaved, destination))
            currentTime_ = double(sample.time) / double(movie_.video.timescale);
        else
            currentTime_ = std::numeric_limits<double>::infinity();
    } catch (...) {
        currentTime_ = std::numeric_limits<double>::infinity();
    }
}

// The picture of sample `index`: the one decoded ahead when it is that
// sample, else decoded here (the first frame, or after a seek); then the
// worker starts on the sample after it while the caller copies this one.
ImageHandle Mj2kReader::takeSample(std::size_t index) {
    const auto& samples = movie_.video.samples;
    const AheadJob* held = ahead_->held();
    ImageHandle image;
    if (held && held->index == index) {
        image = ahead_->take();
    } else {
        ahead_->cancel();
        image = decodeSample(samples[index]);
    }
    if (index + 1 < samples.size()) {
        ahead_->job() = AheadJob{index + 1, samples[index + 1]};
        ahead_->start();
    }
    return image;
}

void Mj2kReader::close() {
    ahead_.reset();  // joins the worker before the file goes
    file_.reset();
    opened_ = false;
}

std::size_t Mj2kReader::getHeight() { return format_.height; }
std::size_t Mj2kReader::getWidth() { return format_.width; }

double Mj2kReader::getFrameRate() {
    const VideoTrack& v = movie_.video;
    if (v.timescale == 0 || v.samples.empty()) return 0.0;
    if (v.uniformDelta && v.samples.front().duration > 0) return double(v.timescale) / v.samples.front().duration;
    if (v.duration == 0) return 0.0;
    return double(v.samples.size()) * v.timescale / double(v.duration);
}

double Mj2kReader::getDuration() {
    const VideoTrack& v = movie_.video;
    if (!movie_.hasVideo || v.timescale == 0) return -1.0;
    return double(v.duration) / v.timescale;
}

void Mj2kReader::requireDeliverableDepth() const {
    if (movie_.hasVideo && format_.bytesPerSample() == 0)
        throw BitDepthException("BitDepth: " + std::string(format_.isSigned ? "signed " : "") +
                                std::to_string(format_.precision) + "-bit samples cannot be delivered");
}

unsigned int Mj2kReader::getBitsPerPixel() {
    requireDeliverableDepth();
    return format_.channels * format_.bytesPerSample() * 8;
}

std::u16string Mj2kReader::getVideoFormat() {
    requireDeliverableDepth();
    if (!movie_.hasVideo) return u"";
    bool wide = format_.bytesPerSample() == 2;
    if (format_.channels == 3) return wide ? u"RGB48" : u"RGB24";
    return wide ? u"GRAY16" : u"GRAY8";
}

std::u16string Mj2kReader::getVideoCodec() { return codecName(movie_.video.codec); }
std::u16string Mj2kReader::getAudioCodec() { return movie_.hasAudio ? codecName(movie_.audio.codec) : u""; }
double Mj2kReader::getNumAudioChannels() { return movie_.hasAudio ? double(movie_.audio.channels) : 0.0; }
std::size_t Mj2kReader::getNumColorChannels() { return format_.channels; }
bool Mj2kReader::hasAudio() { return movie_.hasAudio; }
bool Mj2kReader::hasVideo() { return movie_.hasVideo; }
double Mj2kReader::getCurrentTime() { return currentTime_; }
bool Mj2kReader::isEndOfStream() { return endOfStream_; }
bool Mj2kReader::getOpenFlag() { return openFlag_; }

VideoDataType Mj2kReader::getVideoDataType() {
    switch (format_.bytesPerSample()) {
        case 1: return multimedia::common::avbuffer::VIDEO_UINT8;
        case 2: return multimedia::common::avbuffer::VIDEO_UINT16;
        default:
            // No type describes these samples: a value outside the enumeration,
            // which callers leave alone; the depth getters say why.
            return movie_.hasVideo ? static_cast<VideoDataType>(-1) : multimedia::common::avbuffer::VIDEO_UINT8;
    }
}

}  // namespace mj2k
