// mmtool frames FILE [--start SECONDS] [--count N] [--ppm DIR] [--plugin NAME]:
// the frames a reader plugin delivers, with their times and checksums.
#include "mmtool.hpp"

#include <host/plugintool.hpp>

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

MMTOOL_COMMAND(frames, "frames FILE [--start S] [--count N] [--ppm DIR] [--plugin P]",
               "the frames a reader plugin delivers: times, checksums, PPM images");

namespace {

std::uint64_t fnv1a(const unsigned char* data, std::uint64_t size) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (std::uint64_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 0x100000001b3ull;
    return hash;
}

bool writePpm(const std::string& path, const multimedia::common::avbuffer::VideoDataBuffer& pixels) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    bool ok = std::fprintf(out, "P6\n%" PRIu64 " %" PRIu64 "\n255\n", pixels.width, pixels.height) > 0;
    ok = ok && std::fwrite(pixels.data, 1, pixels.sizeInBytes, out) == pixels.sizeInBytes;
    return std::fclose(out) == 0 && ok;
}

bool parseNumber(const std::string& text, double& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end != nullptr && *end == '\0' && errno == 0 && std::isfinite(value);
}

}  // namespace

int frames(int argc, char** argv) {
    bool missing = false;
    const std::string start = mmtool::takeOption(argc, argv, "--start", "", missing);
    const std::string count = mmtool::takeOption(argc, argv, "--count", "", missing);
    const std::string ppm = mmtool::takeOption(argc, argv, "--ppm", "", missing);
    const std::string forced = mmtool::takeOption(argc, argv, "--plugin", "", missing);
    double startSeconds = 0;
    double maxFrames = -1;
    if (missing || argc != 1 || (!start.empty() && !parseNumber(start, startSeconds)) ||
        (!count.empty() && (!parseNumber(count, maxFrames) || maxFrames < 0))) {
        std::fprintf(stderr, "usage: mmtool frames FILE [--start SECONDS] [--count N] [--ppm DIR] [--plugin NAME]\n");
        return 2;
    }
    mmtool::OpenedFile opened = mmtool::openWithPlugin(argv[0], forced);
    if (!opened.device) return 1;
    mmhost::Device& device = *opened.device;
    // PPM images need row-major interleaved pixels; checksums are of what is delivered.
    device.start(start.empty() ? std::nullopt : std::optional<double>(startSeconds), true);
    std::printf("plugin: %s\n", opened.plugin->name().c_str());
    mmtool::printMessages(stdout, device.messages().take());

    long index = 0;
    int status = 0;
    while (device.isDataAvailable() && (maxFrames < 0 || index < maxFrames)) {
        mmhost::BufferPtr buffer = device.getData();
        video::VideoFrame* frame = mmhost::asFrame(buffer);
        if (frame == nullptr || frame->buffer == nullptr) continue;
        const auto& pixels = *frame->buffer;
        const bool failed = std::isinf(frame->timestamp);
        std::printf("%6ld  t=%-12.6f %" PRIu64 "x%" PRIu64 "x%" PRIu64 "  fnv1a=%016" PRIx64 "%s\n", index,
                    frame->timestamp, pixels.width, pixels.height, pixels.numChannels,
                    fnv1a(pixels.data, pixels.sizeInBytes), failed ? "  (failed read)" : "");
        if (!ppm.empty() && !failed && pixels.numChannels == 3 && pixels.dataType == 3) {
            char name[32];
            std::snprintf(name, sizeof name, "/frame%06ld.ppm", index);
            if (!writePpm(ppm + name, pixels)) {
                std::fprintf(stderr, "mmtool: cannot write %s%s\n", ppm.c_str(), name);
                status = 1;
                break;
            }
        }
        ++index;
    }
    device.stop();
    mmtool::printMessages(stdout, device.messages().take());
    std::printf("frames: %ld\n", index);
    return status;
}
