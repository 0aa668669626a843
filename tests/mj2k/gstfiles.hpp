#pragma once
// Motion JPEG 2000 files as GStreamer writes them (videotestsrc, its JPEG 2000
// encoder, its MJ2 muxer), made once per test process, and the peers' decodes
// of them.

#include "mj2builder.hpp"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace mj2test {

struct GstFileKind {
    std::string format;  // videotestsrc output format
    std::uint32_t width, height;
    int frames;
    std::string encoderOptions;  // e.g. "num-resolutions=2"
    std::string pattern = "smpte";

    std::string name() const {
        return format + "-" + std::to_string(width) + "x" + std::to_string(height) +
               (encoderOptions.empty() ? "" : "-r");
    }
};

using testsupport::runQuiet;

inline bool haveOpenJpegEnc() {
    static const bool ok = runQuiet("gst-inspect-1.0 openjpegenc") && runQuiet("gst-inspect-1.0 mj2mux");
    return ok;
}

// The file of `kind`, written on first use; empty when GStreamer failed.
inline std::string gstFile(const GstFileKind& kind) {
    static std::map<std::string, std::string> made;
    auto it = made.find(kind.name());
    if (it != made.end()) return it->second;
    std::string path = writeTemp(kind.name() + ".mj2", {});
    std::string cmd = "gst-launch-1.0 -q videotestsrc num-buffers=" + std::to_string(kind.frames) +
                      " pattern=" + kind.pattern + " ! video/x-raw,format=" + kind.format +
                      ",width=" + std::to_string(kind.width) + ",height=" + std::to_string(kind.height) +
                      ",framerate=30/1 ! openjpegenc " + kind.encoderOptions + " ! mj2mux ! filesink location=" + path;
    if (!runQuiet(cmd)) path.clear();
    made[kind.name()] = path;
    return path;
}

// The raw frames a peer decodes: FFmpeg to `ffmpegFormat`, or GStreamer's
// decodebin ! videoconvert to `gstFormat`. Empty when the peer failed.
inline std::vector<std::uint8_t> ffmpegFrames(const std::string& path, const std::string& ffmpegFormat) {
    const std::string out = path + "." + ffmpegFormat + ".ff";
    if (!runQuiet("ffmpeg -nostdin -v error -i " + path + " -f rawvideo -pix_fmt " + ffmpegFormat + " -y " + out))
        return {};
    return readBytes(out);
}

// GStreamer pads each row of packed video to a multiple of 4 bytes: the
// frames come back without the padding, `rowBytes` per row.
inline std::vector<std::uint8_t> gstFrames(const std::string& path, const std::string& gstFormat, std::size_t rowBytes,
                                           std::size_t rows) {
    const std::string out = path + "." + gstFormat + ".gst";
    if (!runQuiet("gst-launch-1.0 -q filesrc location=" + path + " ! decodebin ! videoconvert ! video/x-raw,format=" +
                  gstFormat + " ! filesink location=" + out))
        return {};
    const std::vector<std::uint8_t> padded = readBytes(out);
    const std::size_t stride = (rowBytes + 3) / 4 * 4;
    std::vector<std::uint8_t> frames;
    for (std::size_t at = 0; at + stride * rows <= padded.size(); at += stride * rows)
        for (std::size_t r = 0; r < rows; ++r)
            frames.insert(frames.end(), padded.begin() + long(at + r * stride), padded.begin() + long(at + r * stride + rowBytes));
    return frames;
}

// Presentation times of the video frames as FFmpeg reads them.
inline std::vector<double> ffprobeTimes(const std::string& path) {
    std::vector<double> times;
    const std::string out = path + ".times";
    if (std::system(("ffprobe -v error -select_streams v:0 -show_entries frame=pts_time -of csv=p=0 " + path +
                     " > " + out + " 2>/dev/null").c_str()) != 0)
        return times;
    std::vector<std::uint8_t> text = readBytes(out);
    std::string all(text.begin(), text.end());
    std::size_t pos = 0;
    while (pos < all.size()) {
        std::size_t end = all.find('\n', pos);
        if (end == std::string::npos) end = all.size();
        if (end > pos) times.push_back(std::stod(all.substr(pos, end - pos)));
        pos = end + 1;
    }
    return times;
}

// PSNR of `got` against `want` (same length, samples of `bytes` bytes, little
// endian), in dB against the container's peak; infinity when equal.
inline double psnr(const std::uint8_t* got, const std::uint8_t* want, std::size_t samples, int bytes) {
    double sum = 0;
    for (std::size_t i = 0; i < samples; ++i) {
        double a = bytes == 1 ? got[i] : got[2 * i] | (got[2 * i + 1] << 8);
        double b = bytes == 1 ? want[i] : want[2 * i] | (want[2 * i + 1] << 8);
        sum += (a - b) * (a - b);
    }
    const double peak = bytes == 1 ? 255.0 : 65535.0;
    if (sum == 0) return 1e9;
    return 10 * std::log10(peak * peak * double(samples) / sum);
}

}  // namespace mj2test
