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

    avi::File out;
    if (!out.open(mmhost::toUtf16(output), "w")) {
        aviFailed(out, output, "opening for writing");
        return 1;
    }
    device.start(std::nullopt, true);
    for (const auto& message : device.messages().take()) {
        std::fprintf(stderr, "mmtool: %s: %s %s\n", input.c_str(), message.id.c_str(), message.text.c_str());
    }

    std::uint64_t frames = 0;
    std::uint64_t repeated = 0;
    std::uint64_t failedReads = 0;
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    std::vector<char> stored;
    int status = 0;
    try {
        while (device.isDataAvailable()) {
            std::optional<mmhost::FlowFrame> converted = flow->convert(device.getData());
            if (!converted) continue;
            const mmhost::FlowFrame& pixels = *converted;
            // A failed read's list carries no height: such a frame has the
            // size the device published for the file.
            const double publishedHeight = properties.get<double>("Height").value_or(0);
            const std::uint64_t frameHeight = !pixels.failed ? pixels.height
                                              : publishedHeight > 0 && publishedHeight < 1e9
                                                  ? static_cast<std::uint64_t>(publishedHeight)
                                                  : 0;
            if (pixels.channels != 3 || pixels.dataType != 3 || pixels.blockBytes < pixels.width * frameHeight * 3) {
                std::fprintf(stderr, "\nmmtool: %s: frame %llu is not 8-bit RGB\n", input.c_str(),
                             static_cast<unsigned long long>(frames));
                status = 1;
                break;
            }
            if (frames == 0) {
                width = pixels.width;
                height = frameHeight;
                out.setVideoInfo(static_cast<unsigned>(width), static_cast<unsigned>(height), frameRate);
                if (aviFailed(out, output, "describing the video")) {
                    status = 1;
                    break;
                }
            } else if (pixels.width != width || frameHeight != height) {
                std::fprintf(stderr, "\nmmtool: %s: frame %llu is %llux%llu, the file is %llux%llu\n", input.c_str(),
                             static_cast<unsigned long long>(frames), static_cast<unsigned long long>(pixels.width),
                             static_cast<unsigned long long>(frameHeight), static_cast<unsigned long long>(width),
                             static_cast<unsigned long long>(height));
                status = 1;
                break;
            }
            if (pixels.failed) ++failedReads;  // delivered cleared; kept to keep the timing
            // The AVI shows frame n at n periods: a frame that comes later
            // than its place (a gap in the source's frame times, a stream
            // that starts late) is preceded by repeats of the picture before
            // it (of itself, before the first), so that it keeps its time.
            const std::uint64_t repeats = framesBefore(pixels, frameRate, frames, expected);
            auto write = [&](std::uint64_t times) {
                for (std::uint64_t k = 0; k < times; ++k) {
                    out.writeVideoFrame(stored.data(), static_cast<unsigned>(stored.size()));
                    if (aviFailed(out, output, "writing a frame")) return false;
                    ++frames;
                    progress.update(frames);
                }
                return true;
            };
            if (frames > 0 && !write(repeats)) {
                status = 1;
                break;
            }
            toStoredFrame(pixels.pixels.get(), width, height, stored);
            if ((frames == 0 && !write(repeats)) || !write(1)) {
                status = 1;
                break;
            }
            repeated += repeats;
        }
        out.close();
    } catch (const std::exception& failure) {
        // The AVI library lets out only range errors of 32-bit fields; a reader may let out its own.
        std::fprintf(stderr, "\nmmtool: %s\n", failure.what());
        status = 1;
    }
    progress.finish();
    device.stop();
    if (status == 0 && aviFailed(out, output, "closing")) status = 1;
    if (status == 0 && frames == 0) {
        std::fprintf(stderr, "mmtool: %s: no frame to write\n", input.c_str());
        status = 1;
    }
    if (status != 0) {
        out.close();
        std::remove(output.c_str());  // a half-written AVI is no AVI
    }
    if (status == 0) {
        std::printf("wrote %llu frames of %llux%llu at %.6g frames/s from %s (%s) to %s\n",
                    static_cast<unsigned long long>(frames), static_cast<unsigned long long>(width),
                    static_cast<unsigned long long>(height), frameRate, input.c_str(), opened.plugin->name().c_str(),
                    output.c_str());
        if (repeated != 0) {
            std::printf("%llu frames repeat the picture before them, to keep the source's frame times\n",
                        static_cast<unsigned long long>(repeated));
        }
        if (failedReads != 0) {
            std::printf("%llu frames could not be decoded and were written black\n",
                        static_cast<unsigned long long>(failedReads));
        }
    }
    return status;
}

}  // namespace mmtool
