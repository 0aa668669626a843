// mmtool sample [--seconds S] OUT.avi: a test file made with our own writer:
// 320x240 24-bit video of a square moving over colour bars at 30 fps, with a
// 440 Hz tone in 16-bit stereo PCM at 44.1 kHz.
#include "commands.hpp"

#include <avi/avifile.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace mmtool {

namespace {

constexpr unsigned kWidth = 320, kHeight = 240, kFps = 30, kRate = 44100;
constexpr unsigned kSamplesPerFrame = kRate / kFps;

// One bottom-up BGR frame: eight vertical bars and a white square that
// travels across the picture and bounces back.
void drawFrame(unsigned n, std::vector<char>& frame) {
    static const unsigned char bars[8][3] = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0},
                                             {255, 0, 255},   {0, 0, 255},   {255, 0, 0},   {0, 0, 0}};
    const unsigned side = 40, travel = kWidth - side;
    const unsigned step = (n * 4) % (2 * travel);
    const unsigned left = step < travel ? step : 2 * travel - step;
    const unsigned top = (kHeight - side) / 2 + static_cast<unsigned>(40 * std::sin(n * 0.1));
    const std::size_t stride = kWidth * 3;
    for (unsigned y = 0; y < kHeight; ++y) {
        char* row = frame.data() + (kHeight - 1 - y) * stride;  // stored bottom-up
        for (unsigned x = 0; x < kWidth; ++x) {
            const bool inSquare = x >= left && x < left + side && y >= top && y < top + side;
            const unsigned char* c = bars[x * 8 / kWidth];
            for (int k = 0; k < 3; ++k) row[3 * x + k] = static_cast<char>(inSquare ? 0xF0 : c[k] * 3 / 4);
        }
    }
}

void toneChunk(unsigned n, std::vector<char>& chunk) {
    for (unsigned i = 0; i < kSamplesPerFrame; ++i) {
        const double t = static_cast<double>(n * kSamplesPerFrame + i) / kRate;
        const auto v = static_cast<std::int16_t>(std::lround(8000 * std::sin(2 * M_PI * 440 * t)));
        for (int ch = 0; ch < 2; ++ch) {
            chunk[4 * i + 2 * ch] = static_cast<char>(v & 0xFF);
            chunk[4 * i + 2 * ch + 1] = static_cast<char>((v >> 8) & 0xFF);
        }
    }
}

int run(const std::string& path, double seconds) {
    const unsigned frames = std::max(1u, static_cast<unsigned>(std::lround(seconds * kFps)));
    avi::File out;
    if (!out.open(path.c_str(), "w")) {
        std::fprintf(stderr, "mmtool sample: %s\n", out.getErrorMsg());
        return 1;
    }
    out.setVideoInfo(kWidth, kHeight, kFps);
    out.setAudioInfo(kRate, 16, 2, kSamplesPerFrame * 4);
    std::vector<char> frame(kWidth * kHeight * 3), chunk(kSamplesPerFrame * 4);
    for (unsigned n = 0; n < frames && out.getErrorCode() == avi::errors::NO_ERROR; ++n) {
        toneChunk(n, chunk);
        out.writeAudio(chunk.data());
        drawFrame(n, frame);
        out.writeVideoFrame(frame.data());
    }
    out.close();
    if (out.getErrorCode()) {
        std::fprintf(stderr, "mmtool sample: %s\n", out.getErrorMsg());
        std::remove(path.c_str());
        return 1;
    }
    std::printf("%s: %u frames %ux%u 24-bit at %u fps with a 440 Hz tone\n", path.c_str(), frames, kWidth, kHeight,
                kFps);
    return 0;
}

}  // namespace

Command addSample(CLI::App& app) {
    auto path = std::make_shared<std::string>();
    auto seconds = std::make_shared<double>(2);
    CLI::App* sample = app.add_subcommand("sample", "a moving test pattern with a tone, written by avi::File");
    sample->add_option("--seconds", *seconds, "length in seconds (default 2, at most 3600)")
        ->type_name("SECONDS")
        ->check(finiteNumber())
        ->check(CLI::PositiveNumber)
        ->check(CLI::Range(0.0, 3600.0));
    sample->add_option("OUT", *path, "the AVI to write")->required();
    return {sample, [path, seconds] { return run(*path, *seconds); }};
}

}  // namespace mmtool
