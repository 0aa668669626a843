// mmtool info FILE [--plugin NAME]: what a reader plugin publishes about any
// readable video, preceded for an AVI file by what avi::File reports.
#include "mmtool.hpp"

#include <avi/avifile.hpp>
#include <host/plugintool.hpp>

#include <cstdio>
#include <string>

MMTOOL_COMMAND(info, "info FILE [--plugin P]", "what the AVI library and the reader plugins read from FILE");

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

std::string printable(const std::string& fourcc) {
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

}  // namespace

namespace {

int aviInfo(char** argv) {
    avi::File f;
    const bool opened = f.open(argv[0], "r");
    std::printf("file:             %s\n", argv[0]);
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
        std::printf("fourcc:           %s\n", fourcc.empty() ? "(none)" : printable(fourcc).c_str());
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

}  // namespace

int info(int argc, char** argv) {
    bool missing = false;
    const std::string forced = mmtool::takeOption(argc, argv, "--plugin", "", missing);
    if (missing || argc != 1) {
        std::fprintf(stderr, "usage: mmtool info FILE [--plugin NAME]\n");
        return 2;
    }
    int aviStatus = 1;
    if (mmhost::extensionOf(argv[0]) == "avi") {
        std::printf("[avi library]\n");
        aviStatus = aviInfo(argv);
        std::printf("\n");
    } else {
        std::printf("file:             %s\n", argv[0]);
    }
    std::printf("[reader plugin]\n");
    std::fflush(stdout);
    const int pluginStatus = mmtool::printPluginInfo(argv[0], forced);
    return aviStatus == 0 || pluginStatus == 0 ? 0 : 1;
}
