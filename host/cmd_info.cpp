// mmtool info FILE.avi: what avi::File reports about an AVI file.
#include "mmtool.hpp"

#include <avi/avifile.hpp>

#include <cstdio>
#include <string>

MMTOOL_COMMAND(info, "info FILE.avi", "what the AVI library reads from FILE");

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

int info(int argc, char** argv) {
    if (argc != 1) {
        std::fprintf(stderr, "usage: mmtool info FILE.avi\n");
        return 2;
    }
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
