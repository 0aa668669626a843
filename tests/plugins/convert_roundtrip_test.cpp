// mmtool convert: the frames written to the AVI, read back by avi::File and
// by FFmpeg, are the frames the plugin delivered.

#include "media.hpp"

#include <avi/avifile.hpp>
#include <host/lib/pluginhost.hpp>
#include <support/files.hpp>

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace {

using Pixels = std::vector<unsigned char>;

int run(const std::string& command) { return testsupport::exitCode(command); }

std::string mmtool() { return plugin_test::buildDir() + "/bin/mmtool"; }

// Every frame the plugin delivers, row-major RGB.
std::vector<Pixels> pluginFrames(const std::string& file, std::size_t& width, std::size_t& height) {
    auto plugin = mmhost::Plugin::load(plugin_test::pluginPath("gstplugin"));
    auto device = plugin->createDevice();
    std::vector<Pixels> frames;
    if (!device->initialize(mmhost::toUtf16(file))) return frames;
    device->start(std::nullopt, true);
    while (device->isDataAvailable()) {
        mmhost::BufferPtr buffer = device->getData();
        const video::VideoFrame* frame = mmhost::asFrame(buffer);
        if (frame == nullptr) continue;
        width = frame->buffer->width;
        height = frame->buffer->height;
        frames.emplace_back(frame->buffer->data, frame->buffer->data + frame->buffer->sizeInBytes);
    }
    return frames;
}

// The stored frames of a 24-bit AVI (bottom-up BGR rows padded to 4 bytes) as row-major RGB.
std::vector<Pixels> aviFrames(const std::string& file, std::size_t width, std::size_t height) {
    avi::File avi;
    std::vector<Pixels> frames;
    if (!avi.open(file.c_str(), "r")) return frames;
    EXPECT_EQ(avi.getVideoWidth(), width);
    EXPECT_EQ(avi.getVideoHeight(), height);
    EXPECT_FALSE(avi.isVideoCompressed());
    const std::size_t stride = (3 * width + 3) / 4 * 4;
    std::vector<char> stored(stride * height);
    for (long i = 0; i < static_cast<long>(avi.getVideoTotalFrames()); ++i) {
        EXPECT_EQ(avi.getRawVideoFrameSize(i), stored.size());
        avi.readVideoFrame(stored.data(), i);
        Pixels rgb(width * height * 3);
        for (std::size_t y = 0; y < height; ++y) {
            const char* row = stored.data() + (height - 1 - y) * stride;
            for (std::size_t x = 0; x < width; ++x) {
                for (int c = 0; c < 3; ++c) rgb[(y * width + x) * 3 + c] = static_cast<unsigned char>(row[3 * x + 2 - c]);
            }
        }
        frames.push_back(std::move(rgb));
    }
    EXPECT_EQ(avi.getErrorCode(), avi::errors::NO_ERROR) << avi.getErrorMsg();
    return frames;
}

// FFmpeg's decode of the AVI to packed RGB.
std::vector<Pixels> ffmpegFrames(const std::string& file, std::size_t width, std::size_t height) {
    std::vector<Pixels> frames;
    std::FILE* pipe = popen(("ffmpeg -v error -i '" + file + "' -f rawvideo -pix_fmt rgb24 - 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return frames;
    Pixels frame(width * height * 3);
    while (std::fread(frame.data(), 1, frame.size(), pipe) == frame.size()) frames.push_back(frame);
    pclose(pipe);
    return frames;
}

struct Source {
    const char* name;
    std::string (*make)();
};

void PrintTo(const Source& source, std::ostream* out) { *out << source.name; }

class ConvertRoundTrip : public ::testing::TestWithParam<Source> {};

TEST_P(ConvertRoundTrip, WrittenFramesReadBackAsDelivered) {
    const std::string source = GetParam().make();
    ASSERT_FALSE(source.empty());
    const std::string output = source + ".converted.avi";
    ASSERT_EQ(run(mmtool() + " convert '" + source + "' '" + output + "' --plugin gstplugin"), 0);

    std::size_t width = 0, height = 0;
    const auto delivered = pluginFrames(source, width, height);
    ASSERT_FALSE(delivered.empty());
    const auto stored = aviFrames(output, width, height);
    ASSERT_EQ(stored.size(), delivered.size());
    for (std::size_t i = 0; i < stored.size(); ++i) EXPECT_EQ(stored[i], delivered[i]) << "avi::File, frame " << i;
    const auto peer = ffmpegFrames(output, width, height);
    ASSERT_EQ(peer.size(), delivered.size());
    for (std::size_t i = 0; i < peer.size(); ++i) EXPECT_EQ(peer[i], delivered[i]) << "FFmpeg, frame " << i;
    std::remove(output.c_str());
}

INSTANTIATE_TEST_SUITE_P(Sources, ConvertRoundTrip,
                         ::testing::Values(Source{"Theora", +[] { return plugin_test::theoraFile(); }},
                                           Source{"OddWidthTheora", &plugin_test::oddWidthTheoraFile},
                                           Source{"MotionJpegAvi", &plugin_test::mjpegAviFile}),
                         [](const ::testing::TestParamInfo<Source>& info) { return std::string(info.param.name); });

TEST(ConvertFailures, NothingIsLeftBehindAndUsageIsChecked) {
    const std::string garbage = plugin_test::garbageFile("garbage3.ogv");
    const std::string output = garbage + ".avi";
    EXPECT_EQ(run(mmtool() + " convert '" + garbage + "' '" + output + "'"), 1);
    EXPECT_EQ(std::fopen(output.c_str(), "rb"), nullptr);
    EXPECT_EQ(run(mmtool() + " convert '" + plugin_test::theoraFile() + "' /nonexistent/dir/out.avi"), 1);
    EXPECT_EQ(run(mmtool() + " convert onlyone.ogv"), 2);
}

}  // namespace
