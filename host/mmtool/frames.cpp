// mmtool frames [--start S] [--count N] [--ppm DIR] [--default-layout]
// [--plugin P] FILE: the frames a reader plugin delivers, with their times and
// checksums, each passed through the video converter as the block-diagram
// environment gets it: the line ends with the five values of the converter's
// list. With --ppm every delivered frame is also written as a Netpbm image.
#include "commands.hpp"
#include "netpbm.hpp"
#include "plugintool.hpp"

#include <host/lib/flowconvert.hpp>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace mmtool {

namespace {

struct FramesOptions {
    std::string file;
    std::optional<double> start;
    long count = -1;
    std::string ppm;
    bool defaultLayout = false;
    std::string plugin;
};

std::uint64_t fnv1a(const unsigned char* data, std::uint64_t size) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (std::uint64_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 0x100000001b3ull;
    return hash;
}

// A failed read's list carries no height: its block has the size the device
// published for the file.
std::uint64_t frameHeight(const mmhost::FlowFrame& frame, const mmhost::Device& device) {
    if (!frame.failed) return frame.height;
    const double published = device.properties().get<double>("Height").value_or(0);
    return published > 0 && published < 1e9 ? static_cast<std::uint64_t>(published) : 0;
}

bool writeImage(const FramesOptions& options, long index, const mmhost::FlowFrame& frame,
                const mmhost::Device& device) {
    FrameSamples samples;
    samples.data = frame.pixels.get();
    samples.bytes = frame.blockBytes;
    samples.width = frame.width;
    samples.height = frameHeight(frame, device);
    samples.channels = frame.channels;
    samples.sampleBytes = imageSampleBytes(frame.dataType);
    samples.rowMajorInterleaved = !options.defaultLayout;
    char name[40];
    std::snprintf(name, sizeof name, "/frame%06ld.%s", index, netpbmExtension(samples));
    std::string why;
    if (samples.sampleBytes == 0) {
        why = "samples of type " + std::to_string(static_cast<int>(frame.dataType)) + " have no Netpbm form";
    } else if (writeNetpbm(options.ppm + name, samples, why)) {
        return true;
    }
    std::fprintf(stderr, "mmtool: %s%s: %s\n", options.ppm.c_str(), name, why.c_str());
    return false;
}

int run(const FramesOptions& options) {
    if (!readable(options.file)) return 1;
    if (!options.ppm.empty()) {
        std::error_code failed;
        std::filesystem::create_directories(options.ppm, failed);
        if (failed) {
            std::fprintf(stderr, "mmtool: %s: %s\n", options.ppm.c_str(), failed.message().c_str());
            return 1;
        }
    }
    const std::unique_ptr<mmhost::FlowConverter> flow = loadFlowConverter();
    if (!flow) return 1;
    OpenedFile opened = openWithPlugin(options.file, options.plugin);
    if (!opened.device) return 1;
    mmhost::Device& device = *opened.device;
    if (!device.properties().get<bool>("HasVideo").value_or(true)) {
        std::fprintf(stderr, "mmtool: %s: no video stream\n", options.file.c_str());
        return 1;
    }
    // Checksums are of the block as delivered, in the layout asked for.
    device.start(options.start, !options.defaultLayout);
    std::printf("plugin: %s\n", opened.plugin->name().c_str());
    // A failure the plugin posted (an error message) fails the command.
    int status = 0;
    const auto noteErrors = [&status](const std::vector<mmhost::PostedMessage>& messages) {
        for (const auto& message : messages) {
            if (message.type == "error") status = 1;
        }
        return messages;
    };
    printMessages(stdout, noteErrors(device.messages().take()));

    long index = 0;
    while (device.isDataAvailable() && (options.count < 0 || index < options.count)) {
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
        std::printf("%6ld  t=%-12.6f %lux%lux%lu  fnv1a=%016" PRIx64 "%s  list: %s\n", index, frame.timestamp,
                    frame.width, frame.height, frame.channels, fnv1a(frame.pixels.get(), frame.blockBytes),
                    frame.failed ? "  (failed read)" : "", frame.describe().c_str());
        if (!options.ppm.empty() && !writeImage(options, index, frame, device)) {
            status = 1;
            break;
        }
        ++index;
    }
    device.stop();
    printMessages(stdout, noteErrors(device.messages().take()));
    std::printf("frames: %ld\n", index);
    return status;
}

}  // namespace

Command addFrames(CLI::App& app) {
    auto options = std::make_shared<FramesOptions>();
    CLI::App* frames = app.add_subcommand("frames", "the frames a reader plugin delivers: times, checksums, images");
    frames->add_option("--start", options->start, "start at this time, in seconds")
        ->type_name("SECONDS")
        ->check(finiteNumber());
    frames->add_option("--count", options->count, "deliver at most N frames")->type_name("N")->check(count());
    frames
        ->add_option("--ppm", options->ppm,
                     "write every frame into DIR (made when missing) as frameNNNNNN.pgm (grey) or .ppm (RGB)")
        ->type_name("DIR");
    frames->add_flag("--default-layout", options->defaultLayout,
                     "ask for the reader's default layout (planar, column-major) instead of row-major interleaved");
    frames
        ->add_option("--plugin", options->plugin, "read with this plugin: a name such as gstplugin, or a library path")
        ->type_name("NAME");
    frames->add_option("FILE", options->file, "the video to read")->required();
    return {frames, [options] { return run(*options); }};
}

}  // namespace mmtool
