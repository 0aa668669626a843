// mmtool info [--json] [--plugin P] FILE: what a reader plugin publishes about
// any readable video, preceded for an AVI file by what avi::File reports.
#include "info.hpp"

#include "commands.hpp"
#include "plugintool.hpp"

#include <avi/avifile.hpp>

#include <cstdio>
#include <memory>
#include <string>

namespace mmtool {

namespace {

const char* sourceName(avi::IndexSource s) {
    switch (s) {
        case avi::IndexSource::OpenDML: return "OpenDML indx";
        case avi::IndexSource::Legacy: return "idx1";
        case avi::IndexSource::Scan: return "movi scan";
        case avi::IndexSource::None: break;
    }
    return "none";
}

int aviInfo(const std::string& path) {
    avi::File f;
    const bool opened = f.open(path.c_str(), "r");
    std::printf("file:             %s\n", path.c_str());
    if (!opened) {
        std::printf("error:            %d %s\n", static_cast<int>(f.getErrorCode()), f.getErrorMsg());
        return 1;
    }
    if (f.hasVideo()) {
        std::printf("video:            %u x %u\n", f.getVideoWidth(), f.getVideoHeight());
        std::printf("frame rate:       %.6g (%u/%u)\n", f.getVideoFrameRate(), f.getVideoStreamRate(),
                    f.getVideoStreamScale());
        std::printf("frames:           %u\n", f.getVideoTotalFrames());
        std::printf("bits per pixel:   %u\n", static_cast<unsigned>(f.getVideoBitsPerPixel()));
        const std::string fourcc = f.getVideoFourCC();
        std::printf("fourcc:           %s\n", fourcc.empty() ? "(none)" : printableFourCC(fourcc).c_str());
        std::printf("compression:      %s\n", f.isVideoCompressed() ? "compressed" : "uncompressed");
        std::printf("colormap entries: %zu\n", f.getColormap().size());
        std::printf("video index:      %s\n", sourceName(f.getVideoIndexSource()));
    } else {
        std::printf("video:            none\n");
    }
    if (f.hasAudio()) {
        std::printf("audio:            %s, %u channel(s), %u bits, %u Hz\n",
                    f.isAudioCompressed() ? "compressed" : "PCM", static_cast<unsigned>(f.getAudioNumberOfChannels()),
                    static_cast<unsigned>(f.getAudioBitsPerSample()), f.getAudioSampleRate());
        std::printf("audio bytes:      %u\n", f.getAudioTotalBytes());
        std::printf("audio index:      %s\n", sourceName(f.getAudioIndexSource()));
    } else {
        std::printf("audio:            none\n");
    }
    std::printf("error:            %d%s%s\n", static_cast<int>(f.getErrorCode()), f.getErrorCode() ? " " : "",
                f.getErrorMsg());
    return 0;
}

int pluginInfo(const std::string& path, const std::string& forced) {
    OpenedFile opened = openWithPlugin(path, forced, true);
    if (!opened.plugin) return 1;
    try {
        const mmhost::PluginSummary summary = mmhost::describe(*opened.plugin);
        std::printf("plugin:           %s (priority %d)\n", summary.name.c_str(), summary.priority);
    } catch (const std::exception& failure) {
        std::printf("plugin:           %s (%s)\n", opened.plugin->name().c_str(), failure.what());
    }
    if (!opened.device) return 1;
    std::printf("properties:\n");
    printProperties(stdout, opened.device->properties());
    const auto messages = opened.device->messages().messages();
    std::printf("messages:         %zu\n", messages.size());
    printMessages(stdout, messages);
    return opened.device->properties().get<bool>("IsPluginSuccess").value_or(false) ? 0 : 1;
}

}  // namespace

std::string printableFourCC(const std::string& fourcc) {
    std::string out;
    for (unsigned char c : fourcc) {
        if (c >= 0x20 && c < 0x7F) {
            out.push_back(static_cast<char>(c));
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

int printInfoText(const InfoOptions& options) {
    int aviStatus = 1;
    if (mmhost::extensionOf(options.file) == "avi") {
        std::printf("[avi library]\n");
        aviStatus = aviInfo(options.file);
        std::printf("\n");
    } else {
        std::printf("file:             %s\n", options.file.c_str());
    }
    std::printf("[reader plugin]\n");
    std::fflush(stdout);
    const int pluginStatus = pluginInfo(options.file, options.plugin);
    return aviStatus == 0 || pluginStatus == 0 ? 0 : 1;
}

Command addInfo(CLI::App& app) {
    auto options = std::make_shared<InfoOptions>();
    CLI::App* info = app.add_subcommand("info", "what the AVI library and the reader plugins read from FILE");
    info->add_flag("--json", options->json, "print one JSON object: \"avi\" (or null) and \"plugin\" (or null)");
    info->add_option("--plugin", options->plugin, "read with this plugin: a name such as gstplugin, or a library path")
        ->type_name("NAME");
    info->add_option("FILE", options->file, "the file to describe")->required();
    return {info, [options] {
                if (!readable(options->file)) return 1;
                return options->json ? printInfoJson(*options) : printInfoText(*options);
            }};
}

}  // namespace mmtool
