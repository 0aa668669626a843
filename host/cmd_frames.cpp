// mmtool frames FILE [--start SECONDS] [--count N] [--ppm DIR] [--plugin NAME]:
// the frames a reader plugin delivers, with their times and checksums, each
// passed through the video converter as the block-diagram environment gets it:
// the line ends with the five values of the converter's list.
#include "mmtool.hpp"

#include <host/flowconvert.hpp>
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

bool writePpm(const std::string& path, const mmhost::FlowFrame& frame) {
    const std::uint64_t bytes = std::uint64_t{frame.width} * frame.height * 3;
    if (bytes > frame.blockBytes) return false;
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    bool ok = std::fprintf(out, "P6\n%lu %lu\n255\n", frame.width, frame.height) > 0;
    ok = ok && std::fwrite(frame.pixels.get(), 1, bytes, out) == bytes;
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
    std::unique_ptr<mmhost::FlowConverter> flow;
    try {
        flow = mmhost::FlowConverter::load(mmtool::pluginDirectory());
    } catch (const mmhost::HostError& failure) {
        std::fprintf(stderr, "mmtool: %s\n", failure.what());
        return 1;
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
        std::optional<mmhost::FlowFrame> converted;
        try {
            converted = flow->convert(device.getData());
        } catch (const mmhost::HostError& failure) {
            std::fprintf(stderr, "mmtool: %s\n", failure.what());
            status = 1;
            break;
        }
        if (!converted) continue;
        const mmhost::FlowFrame& frame = *converted;
        const bool failed = frame.failed;
        std::printf("%6ld  t=%-12.6f %lux%lux%lu  fnv1a=%016" PRIx64 "%s  list: %s\n", index, frame.timestamp,
                    frame.width, frame.height, frame.channels, fnv1a(frame.pixels.get(), frame.blockBytes),
                    failed ? "  (failed read)" : "", frame.describe().c_str());
        if (!ppm.empty() && !failed && frame.channels == 3 && frame.dataType == 3) {
            char name[32];
            std::snprintf(name, sizeof name, "/frame%06ld.ppm", index);
            if (!writePpm(ppm + name, frame)) {
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
