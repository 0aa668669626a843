// mmtool convert, first kind: an AVI that avi::File reads (uncompressed
// video, PCM audio) is copied stream by stream into a new uncompressed
// OpenDML AVI, keeping its bit depth, palette and audio.
#include "convert.hpp"
#include "progress.hpp"

#include <host/lib/pluginhost.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace mmtool {

bool copyableAvi(avi::File& in, const std::string& path) {
    if (mmhost::extensionOf(path) != "avi" || !in.open(path.c_str(), "r")) return false;
    if (in.getErrorCode() != avi::errors::NO_ERROR) return false;
    if (in.hasVideo() && in.isVideoCompressed()) return false;
    if (in.hasAudio() && in.isAudioCompressed()) return false;
    return in.hasVideo() || in.hasAudio();
}

namespace {

int fail(const std::string& output, const std::string& what, const char* message) {
    std::fprintf(stderr, "mmtool convert: %s: %s\n", what.c_str(), message);
    std::remove(output.c_str());
    return 1;
}

// The input's PCM audio, copied in chunks of one frame period (a tenth of a
// second without video), in whole samples.
class AudioCopy {
public:
    AudioCopy(avi::File& in, avi::File& out) : in_(in), out_(out) {}

    // Describes the output's audio as the input's; false on the writer's error.
    bool describe(bool video, double fps) {
        rate_ = in_.getAudioSampleRate();
        bits_ = in_.getAudioBitsPerSample();
        channels_ = in_.getAudioNumberOfChannels();
        sampleBytes_ = std::uint64_t(bits_) * channels_ / 8;
        total_ = in_.getAudioTotalBytes();
        const double seconds = video && fps > 0 ? 1.0 / fps : 0.1;
        chunkBytes_ = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(std::llround(rate_ * seconds))) *
                      std::max<std::uint64_t>(1, sampleBytes_);
        out_.setAudioInfo(rate_, bits_, channels_, static_cast<unsigned>(chunkBytes_));
        if (out_.getErrorCode()) return false;
        chunk_.resize(out_.getAudioChunkSize());
        return true;
    }

    // The bytes of audio that go with the first `frames` frames.
    std::uint64_t bytesOfFrames(std::uint64_t frames, double fps) const {
        return static_cast<std::uint64_t>(static_cast<double>(frames) / fps * rate_ * static_cast<double>(sampleBytes_));
    }

    // Writes chunks until `until` bytes of the input's audio are in; false
    // on a reading or writing error (failed() says which file).
    bool writeUpTo(std::uint64_t until) {
        while (done_ < std::min(until, total_)) {
            const std::uint64_t take = std::min(chunkBytes_, total_ - done_);
            // The last chunk is completed with silence: chunks have one size.
            std::fill(chunk_.begin(), chunk_.end(), static_cast<char>(bits_ == 8 ? 0x80 : 0));
            in_.readAudio(chunk_.data(), static_cast<unsigned long>(take));
            if (in_.getErrorCode()) return false;
            out_.writeAudio(chunk_.data());
            if (out_.getErrorCode()) return false;
            done_ += take;
            padding_ += chunkBytes_ - take;
        }
        return true;
    }

    // After writeUpTo failed: the message, naming the file that failed.
    int failed(const std::string& input, const std::string& output) const {
        return fail(output, in_.getErrorCode() ? input : output,
                    in_.getErrorCode() ? in_.getErrorMsg() : out_.getErrorMsg());
    }

    std::uint64_t total() const { return total_; }

    void printSummary(bool video) const {
        std::printf("%s %llu audio bytes (%u Hz, %u-bit, %u ch)", video ? "," : "",
                    static_cast<unsigned long long>(total_), rate_, bits_, channels_);
        if (padding_)
            std::printf(", last chunk padded with %llu bytes of silence", static_cast<unsigned long long>(padding_));
    }

private:
    avi::File& in_;
    avi::File& out_;
    unsigned rate_ = 0;
    unsigned bits_ = 0;
    unsigned channels_ = 0;
    std::uint64_t sampleBytes_ = 0;
    std::uint64_t total_ = 0;
    std::uint64_t chunkBytes_ = 0;
    std::uint64_t done_ = 0;
    std::uint64_t padding_ = 0;
    std::vector<char> chunk_;
};

}  // namespace

int copyAvi(avi::File& in, const std::string& input, const std::string& output) {
    avi::File out;
    if (!out.open(output.c_str(), "w")) return fail(output, output, out.getErrorMsg());

    const bool video = in.hasVideo(), audio = in.hasAudio();
    const std::uint64_t frames = video ? in.getVideoTotalFrames() : 0;
    const double fps = video ? in.getVideoFrameRate() : 0;
    if (video) {
        if (in.getVideoBitsPerPixel() == 8) out.setColormap(in.getColormap());
        out.setVideoInfo(in.getVideoWidth(), in.getVideoHeight(), fps, "", in.getVideoBitsPerPixel());
        if (out.getErrorCode()) return fail(output, output, out.getErrorMsg());
    }
    AudioCopy sound(in, out);
    if (audio && !sound.describe(video, fps)) return fail(output, output, out.getErrorMsg());

    const std::uint64_t audioTotal = audio ? sound.total() : 0;
    Progress progress(video ? frames : audioTotal, video ? "frames" : "audio bytes");
    std::vector<char> frame;
    for (std::uint64_t i = 0; i < frames; ++i) {
        const std::uint32_t size = in.getRawVideoFrameSize(static_cast<long>(i));
        frame.resize(size);
        in.readVideoFrame(frame.data(), static_cast<long>(i));
        if (in.getErrorCode()) return fail(output, input, in.getErrorMsg());
        if (audio && !sound.writeUpTo(sound.bytesOfFrames(i + 1, fps))) return sound.failed(input, output);
        out.writeVideoFrame(frame.data(), size);
        if (out.getErrorCode()) return fail(output, output, out.getErrorMsg());
        progress.update(i + 1);
    }
    if (audio && !sound.writeUpTo(audioTotal)) return sound.failed(input, output);
    if (!video) progress.update(audioTotal);
    out.close();
    progress.finish();
    if (out.getErrorCode()) return fail(output, output, out.getErrorMsg());

    std::printf("%s -> %s:", input.c_str(), output.c_str());
    if (video)
        std::printf(" %llu frames %ux%u %u-bit at %.3f fps", static_cast<unsigned long long>(frames),
                    in.getVideoWidth(), in.getVideoHeight(), unsigned(in.getVideoBitsPerPixel()), fps);
    if (audio) sound.printSummary(video);
    std::printf("\n");
    return 0;
}

}  // namespace mmtool
