// mmtool convert, second kind: any video a reader plugin reads, written frame
// by frame into an uncompressed 24-bit AVI by avi::File. Every frame goes through the video
// converter first and its pixels are read from the converter's list.
#include "convert.hpp"
#include "plugintool.hpp"
#include "progress.hpp"

#include <avi/avifile.hpp>
#include <host/lib/flowconvert.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace mmtool {

namespace {

// Top-down RGB rows to the bottom-up BGR rows, padded to 4 bytes, of a 24-bit DIB.
void toStoredFrame(const unsigned char* rgb, std::uint64_t width, std::uint64_t height, std::vector<char>& stored) {
    const std::uint64_t row = 3 * width;
    const std::uint64_t stride = row + (4 - row % 4) % 4;
    stored.assign(stride * height, 0);
    for (std::uint64_t y = 0; y < height; ++y) {
        const unsigned char* in = rgb + y * row;
        char* out = stored.data() + (height - 1 - y) * stride;
        for (std::uint64_t x = 0; x < width; ++x) {
            out[3 * x] = static_cast<char>(in[3 * x + 2]);
            out[3 * x + 1] = static_cast<char>(in[3 * x + 1]);
            out[3 * x + 2] = static_cast<char>(in[3 * x]);
        }
    }
}

// How many frames the output needs before this one so that it is shown at
// its own time: its time in periods, less the frames written so far. A
// frame without a usable time (a failed read) goes right after the last;
// so does one that comes early. The fill stops at the stated duration, so
// a wild time cannot make the output grow without end.
std::uint64_t framesBefore(const mmhost::FlowFrame& frame, double frameRate, std::uint64_t written,
                           double expectedFrames) {
    const double place = frame.timestamp * frameRate;
    if (frame.failed || !std::isfinite(place) || place < 0) return 0;
    double target = std::floor(place + 0.5);
    const double limit = expectedFrames > 0 ? std::ceil(expectedFrames) : written + 10 * 60 * frameRate;
    if (target > limit) target = std::max(limit, static_cast<double>(written));
    const double missing = target - static_cast<double>(written);
    return missing > 0 ? static_cast<std::uint64_t>(missing) : 0;
}

bool aviFailed(avi::File& file, const std::string& path, const char* step) {
    if (file.getErrorCode() == avi::errors::NO_ERROR) return false;
    std::fprintf(stderr, "mmtool: %s: %s failed: %s (error %d)\n", path.c_str(), step, file.getErrorMsg(),
                 static_cast<int>(file.getErrorCode()));
    return true;
}

// The output AVI and what went into it: frames in delivery order, each after
// the repeats that keep it at its own time.
class FrameCopy {
public:
    FrameCopy(const std::string& input, const std::string& output, double frameRate, double expected,
              Progress& progress)
        : input_(input), output_(output), frameRate_(frameRate), expected_(expected), progress_(progress) {}

    bool open() {
        if (out_.open(mmhost::toUtf16(output_), "w")) return true;
        aviFailed(out_, output_, "opening for writing");
        return false;
    }

    // One delivered frame; false, said on stderr, when it cannot be written.
    // `publishedHeight` is the device's "Height", the size of a failed read.
    bool add(const mmhost::FlowFrame& pixels, double publishedHeight) {
        // A failed read's list carries no height: such a frame has the size
        // the device published for the file.
        const std::uint64_t frameHeight = !pixels.failed ? pixels.height
                                          : publishedHeight > 0 && publishedHeight < 1e9
                                              ? static_cast<std::uint64_t>(publishedHeight)
                                              : 0;
        if (pixels.channels != 3 || pixels.dataType != 3 || pixels.blockBytes < pixels.width * frameHeight * 3) {
            std::fprintf(stderr, "\nmmtool: %s: frame %llu is not 8-bit RGB\n", input_.c_str(),
                         static_cast<unsigned long long>(frames_));
            return false;
        }
        if (!fitsSize(pixels.width, frameHeight)) return false;
        if (pixels.failed) ++failedReads_;  // delivered cleared; kept to keep the timing
        // The AVI shows frame n at n periods: a frame that comes later than
        // its place (a gap in the source's frame times, a stream that starts
        // late) is preceded by repeats of the picture before it (of itself,
        // before the first), so that it keeps its time.
        const std::uint64_t repeats = framesBefore(pixels, frameRate_, frames_, expected_);
        if (frames_ > 0 && !write(repeats)) return false;
        toStoredFrame(pixels.pixels.get(), width_, height_, stored_);
        if ((frames_ == 0 && !write(repeats)) || !write(1)) return false;
        repeated_ += repeats;
        return true;
    }

    void close() { out_.close(); }

    // The status of the whole copy, given that of the reading: a failed or
    // empty copy is removed, a half-written AVI is no AVI.
    int finish(int status) {
        if (status == 0 && aviFailed(out_, output_, "closing")) status = 1;
        if (status == 0 && frames_ == 0) {
            std::fprintf(stderr, "mmtool: %s: no frame to write\n", input_.c_str());
            status = 1;
        }
        if (status != 0) {
            out_.close();
            std::remove(output_.c_str());
        }
        return status;
    }

    void printSummary(const std::string& plugin) const {
        std::printf("wrote %llu frames of %llux%llu at %.6g frames/s from %s (%s) to %s\n",
                    static_cast<unsigned long long>(frames_), static_cast<unsigned long long>(width_),
                    static_cast<unsigned long long>(height_), frameRate_, input_.c_str(), plugin.c_str(),
                    output_.c_str());
        if (repeated_ != 0) {
            std::printf("%llu frames repeat the picture before them, to keep the source's frame times\n",
                        static_cast<unsigned long long>(repeated_));
        }
        if (failedReads_ != 0) {
            std::printf("%llu frames could not be decoded and were written black\n",
                        static_cast<unsigned long long>(failedReads_));
        }
    }

private:
    // The first frame sets the size of the video; every later one must have it.
    bool fitsSize(std::uint64_t width, std::uint64_t height) {
        if (frames_ == 0) {
            width_ = width;
            height_ = height;
            out_.setVideoInfo(static_cast<unsigned>(width_), static_cast<unsigned>(height_), frameRate_);
            return !aviFailed(out_, output_, "describing the video");
        }
        if (width == width_ && height == height_) return true;
        std::fprintf(stderr, "\nmmtool: %s: frame %llu is %llux%llu, the file is %llux%llu\n", input_.c_str(),
                     static_cast<unsigned long long>(frames_), static_cast<unsigned long long>(width),
                     static_cast<unsigned long long>(height), static_cast<unsigned long long>(width_),
                     static_cast<unsigned long long>(height_));
        return false;
    }

    // The stored frame `times` times.
    bool write(std::uint64_t times) {
        for (std::uint64_t k = 0; k < times; ++k) {
            out_.writeVideoFrame(stored_.data(), static_cast<unsigned>(stored_.size()));
            if (aviFailed(out_, output_, "writing a frame")) return false;
            ++frames_;
            progress_.update(frames_);
        }
        return true;
    }

    const std::string& input_;
    const std::string& output_;
    const double frameRate_;
    const double expected_;
    Progress& progress_;
    avi::File out_;
    std::vector<char> stored_;
    std::uint64_t frames_ = 0;
    std::uint64_t repeated_ = 0;
    std::uint64_t failedReads_ = 0;
    std::uint64_t width_ = 0;
    std::uint64_t height_ = 0;
};

}  // namespace

int convertThroughPlugin(const std::string& input, const std::string& output, const std::string& forced) {
    const std::unique_ptr<mmhost::FlowConverter> flow = loadFlowConverter();
    if (!flow) return 1;
    OpenedFile opened = openWithPlugin(input, forced);
    if (!opened.device) return 1;
    mmhost::Device& device = *opened.device;
    const auto& properties = device.properties();
    double frameRate = properties.get<double>("FrameRate").value_or(0);
    if (!(frameRate > 0) || !std::isfinite(frameRate)) {
        std::fprintf(stderr, "mmtool: %s states no frame rate; writing 25 frames/s\n", input.c_str());
        frameRate = 25;
    }
    const double duration = properties.get<double>("Duration").value_or(-1);
    const double expected = duration > 0 ? duration * frameRate : 0;
    Progress progress(expected > 0 && expected < 1e12 ? static_cast<std::uint64_t>(std::llround(expected)) : 0,
                      "frames");

    FrameCopy copy(input, output, frameRate, expected, progress);
    if (!copy.open()) return 1;
    device.start(std::nullopt, true);
    for (const auto& message : device.messages().take()) {
        std::fprintf(stderr, "mmtool: %s: %s %s\n", input.c_str(), message.id.c_str(), message.text.c_str());
    }
    int status = 0;
    try {
        while (device.isDataAvailable()) {
            std::optional<mmhost::FlowFrame> converted = flow->convert(device.getData());
            if (!converted) continue;
            if (!copy.add(*converted, properties.get<double>("Height").value_or(0))) {
                status = 1;
                break;
            }
        }
        copy.close();
    } catch (const std::exception& failure) {
        // The AVI library lets out only range errors of 32-bit fields; a reader may let out its own.
        std::fprintf(stderr, "\nmmtool: %s\n", failure.what());
        status = 1;
    }
    progress.finish();
    device.stop();
    status = copy.finish(status);
    if (status == 0) copy.printSummary(opened.plugin->name());
    return status;
}

}  // namespace mmtool
