// mmtool convert keeps every frame at its time: a source whose frame times
// have gaps (dropped frames) or that starts late is written with the picture
// before each gap repeated, so that frame n of the output is shown at n
// periods, as in the source.
#include "plugins/media.hpp"

#include <avi/avifile.hpp>
#include <support/files.hpp>

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

int mmtool(const std::string& arguments) {
    int status = 0;
    testsupport::run("'" + plugin_test::buildDir() + "/bin/mmtool' " + arguments + " >/dev/null 2>&1", &status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> framesOf(const std::string& path) {
    avi::File f;
    std::vector<std::string> frames;
    if (!f.open(path.c_str(), "r")) return frames;
    std::string buf(f.getRGB24VideoFrameSize(), '\0');
    for (std::uint32_t k = 0; k < f.getVideoTotalFrames(); ++k) {
        f.readRGB24VideoFrame(buf.data(), static_cast<long>(k));
        frames.push_back(buf);
    }
    return frames;
}

class ConvertTiming : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::haveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    }
    std::string ffmpeg(const std::string& name, const std::string& args) {
        const std::string path = dir.file(name);
        EXPECT_TRUE(testsupport::runQuiet("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=25 " + args +
                                          " '" + path + "'"));
        return path;
    }
    testsupport::TempDir dir;
};

}  // namespace

// Motion JPEG with two frames left out of the frame times and MP3 audio
// longer than the video, so FFmpeg writes empty chunks among the frames and
// after them. Whichever plugin reads it (ours delivers the dropped frames,
// GStreamer's skips them), the output has the source's frames at their times.
TEST_F(ConvertTiming, GapsAreFilledWithThePictureBefore) {
    const std::string source =
        ffmpeg("gaps.avi", "-f lavfi -i sine=frequency=440:sample_rate=22050:duration=1.5 -frames:v 25 "
                           "-vf \"select='not(eq(n\\,5)+eq(n\\,17))'\" -fps_mode passthrough -c:v mjpeg -c:a libmp3lame");
    avi::File in;
    ASSERT_TRUE(in.open(source.c_str(), "r")) << in.getErrorMsg();
    const std::uint32_t total = in.getVideoTotalFrames();
    std::vector<bool> dropped;
    std::uint32_t last = 0;  // the last frame with a picture
    for (std::uint32_t k = 0; k < total; ++k) {
        dropped.push_back(in.isVideoFrameDropped(static_cast<long>(k)));
        if (!dropped.back()) last = k;
    }
    ASSERT_GE(std::count(dropped.begin(), dropped.begin() + last, true), 2);
    for (const char* plugin : {"mjpegaviplugin", "gstplugin"}) {
        SCOPED_TRACE(plugin);
        const std::string out = dir.file(std::string("out-") + plugin + ".avi");
        ASSERT_EQ(mmtool(std::string("convert --plugin ") + plugin + " '" + source + "' '" + out + "'"), 0);
        const std::vector<std::string> frames = framesOf(out);
        // GStreamer delivers nothing for the empty chunks after the last picture.
        ASSERT_EQ(frames.size(), std::string(plugin) == "gstplugin" ? last + 1 : total);
        for (std::size_t k = 1; k < frames.size(); ++k)
            EXPECT_EQ(frames[k] == frames[k - 1], bool(dropped[k])) << "frame " << k;
    }
}

// A stream whose second picture comes a second after its first (FFmpeg's
// offset of 1 s): the first picture is held for that second.
TEST_F(ConvertTiming, LateStartKeepsItsTime) {
    const std::string source = ffmpeg("late.avi", "-frames:v 25 -output_ts_offset 1 -c:v mjpeg");
    avi::File in;
    ASSERT_TRUE(in.open(source.c_str(), "r")) << in.getErrorMsg();
    const std::uint32_t total = in.getVideoTotalFrames();
    ASSERT_GE(total, 49u);
    for (const char* plugin : {"mjpegaviplugin", "gstplugin"}) {
        SCOPED_TRACE(plugin);
        const std::string out = dir.file(std::string("late-") + plugin + ".avi");
        ASSERT_EQ(mmtool(std::string("convert --plugin ") + plugin + " '" + source + "' '" + out + "'"), 0);
        const std::vector<std::string> frames = framesOf(out);
        ASSERT_EQ(frames.size(), total);
        for (std::uint32_t k = 1; k < total; ++k)
            EXPECT_EQ(frames[k] == frames[k - 1], bool(in.isVideoFrameDropped(static_cast<long>(k)))) << "frame " << k;
    }
}
