// mmtool's plugin-backed subcommands, run as a user runs them: what they print
// must be what the plugin delivers.

#include <plugins/media.hpp>

#include <host/lib/pluginhost.hpp>
#include <support/files.hpp>

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
};

// `stderrToo`: the tool's standard error is captured with its output.
ToolRun mmtool(const std::string& arguments, bool stderrToo = false) {
    ToolRun run;
    const std::string command =
        plugin_test::buildDir() + "/bin/mmtool " + arguments + (stderrToo ? " 2>&1" : " 2>/dev/null");
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) run.out.append(chunk, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::vector<std::string> linesWith(const std::string& text, const std::string& needle) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.find(needle) != std::string::npos) lines.push_back(line);
    }
    return lines;
}

std::uint64_t fnv1a(const unsigned char* data, std::uint64_t size) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (std::uint64_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 0x100000001b3ull;
    return hash;
}

TEST(MmtoolPlugins, FramesPrintsTheTimesAndChecksumsOfWhatThePluginDelivers) {
    const std::string file = plugin_test::theoraFile();
    ASSERT_FALSE(file.empty());
    const ToolRun run = mmtool("frames '" + file + "'");
    ASSERT_EQ(run.status, 0) << run.out;
    const auto lines = linesWith(run.out, "fnv1a=");
    ASSERT_EQ(lines.size(), 30u) << run.out;

    auto plugin = mmhost::Plugin::load(plugin_test::pluginPath("gstplugin"));
    auto device = plugin->createDevice();
    ASSERT_TRUE(device->initialize(mmhost::toUtf16(file)));
    device->start(std::nullopt, true);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        mmhost::BufferPtr buffer = device->getData();
        const video::VideoFrame* frame = mmhost::asFrame(buffer);
        ASSERT_NE(frame, nullptr);
        char expected[64];
        std::snprintf(expected, sizeof expected, "t=%-12.6f 64x48x3  fnv1a=%016" PRIx64, frame->timestamp,
                      fnv1a(frame->buffer->data, frame->buffer->sizeInBytes));
        EXPECT_NE(lines[i].find(expected), std::string::npos) << lines[i] << " / " << expected;
    }
}

TEST(MmtoolPlugins, FramesHonoursStartCountAndWritesImages) {
    const std::string file = plugin_test::theoraFile();
    const std::string folder = file.substr(0, file.find_last_of('/'));
    const ToolRun run = mmtool("frames '" + file + "' --start 0.4 --count 3 --ppm '" + folder + "'");
    ASSERT_EQ(run.status, 0) << run.out;
    const auto lines = linesWith(run.out, "fnv1a=");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find("t=0.400000"), std::string::npos) << lines[0];
    EXPECT_NE(lines[2].find("t=0.480000"), std::string::npos) << lines[2];
    for (const char* name : {"/frame000000.ppm", "/frame000002.ppm"}) {
        std::ifstream image(folder + name, std::ios::binary);
        ASSERT_TRUE(image) << name;
        std::string magic, size, depth;
        image >> magic;
        std::getline(image >> std::ws, size);
        image >> depth;
        image.get();
        EXPECT_EQ(magic, "P6");
        EXPECT_EQ(size, "64 48");
        const std::string pixels((std::istreambuf_iterator<char>(image)), std::istreambuf_iterator<char>());
        EXPECT_EQ(pixels.size(), 64u * 48u * 3u);
    }
    EXPECT_FALSE(std::ifstream(folder + "/frame000003.ppm"));
}

TEST(MmtoolPlugins, InfoShowsThePublishedPropertiesAndRefusesWhatNoPluginReads) {
    const std::string file = plugin_test::theoraFile();
    ToolRun run = mmtool("info '" + file + "'");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(linesWith(run.out, "gstplugin").size(), 1u) << run.out;
    EXPECT_EQ(linesWith(run.out, "IsPluginSuccess    true").size(), 1u) << run.out;
    EXPECT_EQ(linesWith(run.out, "Width              64").size(), 1u) << run.out;

    run = mmtool("info '" + file + "' --plugin gstplugin");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(mmtool("info '" + file + "' --plugin nosuchplugin").status, 1);
    EXPECT_EQ(mmtool("info '" + plugin_test::garbageFile("garbage2.ogv") + "'").status, 1);
    EXPECT_EQ(mmtool("info /nonexistent/clip.mkv").status, 1);
    EXPECT_EQ(mmtool("info").status, 2);
    EXPECT_EQ(mmtool("info '" + file + "' --plugin").status, 2);
    EXPECT_EQ(mmtool("frames '" + file + "' --count -1").status, 2);
    EXPECT_EQ(mmtool("frames '" + file + "' --start soon").status, 2);
}

// Times through the host: an MPEG-4 AVI with B-pictures and open groups
// (keyframe chunks 0, 25, 49, 73, 97, shown at 0, 27, 51, 75, 99); which
// picture each time shows is held against FFmpeg in tests/gstreader.
TEST(MmtoolPlugins, FramesOfAnAviWithBPicturesCarryTheirDisplayTimes) {
    if (!testsupport::haveTool("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
    const std::string file = testsupport::scratchPath("bframes.avi");
    ASSERT_TRUE(testsupport::runQuiet("ffmpeg -nostdin -y -v error -f lavfi -i testsrc2=size=64x48:rate=25:duration=4 "
                                      "-c:v mpeg4 -vtag XVID -bf 2 -g 25 '" + file + "'"));
    ToolRun run = mmtool("frames '" + file + "'");
    ASSERT_EQ(run.status, 0) << run.out;
    auto lines = linesWith(run.out, "fnv1a=");
    ASSERT_EQ(lines.size(), 100u) << run.out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        char time[32];
        std::snprintf(time, sizeof time, "t=%.6f ", static_cast<double>(i) * 0.04);
        EXPECT_NE(lines[i].find(time), std::string::npos) << lines[i];
    }
    // Just before a keyframe's display slot, and on it.
    run = mmtool("frames '" + file + "' --start 1.07 --count 3");
    lines = linesWith(run.out, "fnv1a=");
    ASSERT_EQ(lines.size(), 3u) << run.out;
    EXPECT_NE(lines[0].find("t=1.040000"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("t=1.080000"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("t=1.120000"), std::string::npos) << lines[2];

    // Pictures 30 on zeroed: the stream ends early, and the plugin says so.
    std::string data = testsupport::readFile(file);
    int chunk = 0;
    for (std::size_t at = data.find("00dc"); at != std::string::npos; at = data.find("00dc", at + 4)) {
        std::size_t size = 0;
        for (int i = 3; i >= 0; --i) size = size << 8 | static_cast<unsigned char>(data[at + 4 + static_cast<std::size_t>(i)]);
        // A chunk, not an index entry naming one: its data opens with a start code.
        if (at + 8 + size > data.size() || data.compare(at + 8, 3, std::string("\0\0\1", 3)) != 0) continue;
        if (chunk++ >= 30) data.replace(at + 8, size, std::string(size, '\0'));
        at += 8 + size - 4;
    }
    const std::string broken = testsupport::writeFile(testsupport::scratchPath("bframes-broken.avi"), data);
    run = mmtool("frames '" + broken + "'");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(linesWith(run.out, "fnv1a=").size(), 30u) << run.out;
    EXPECT_EQ(linesWith(run.out, "warning multimedia:videofile:FrameCountMismatch").size(), 1u) << run.out;
    EXPECT_EQ(linesWith(run.out, "30 frames of the 100").size(), 1u) << run.out;
}

TEST(MmtoolPlugins, FramesFailsLoudlyOnAFileWithoutVideoOrWithoutAVideoDecoder) {
    ToolRun run = mmtool("frames '" + plugin_test::audioOnlyFile() + "'", true);
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("no video stream"), std::string::npos) << run.out;

    // A start the plugin reports as failed (a single picture cannot seek).
    const std::string still = plugin_test::makeMedia(
        "still.jpg", "videotestsrc num-buffers=1 ! video/x-raw,width=40,height=30 ! jpegenc ! filesink location=@OUT@");
    run = mmtool("frames --plugin gstplugin --start 0.5 '" + still + "'", true);
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("error multimedia:videofile:SeekFailed"), std::string::npos) << run.out;

    if (!testsupport::haveTool("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
    // An MPEG-4 AVI renamed to a codec nothing here decodes.
    const std::string source = testsupport::scratchPath("tovcr2.avi");
    ASSERT_TRUE(testsupport::runQuiet("ffmpeg -nostdin -y -v error -f lavfi -i testsrc2=size=64x48:rate=10:duration=1 "
                                      "-c:v mpeg4 -vtag XVID '" + source + "'"));
    std::string data = testsupport::readFile(source);
    for (const char* fourcc : {"XVID", "FMP4"}) {
        for (std::size_t at = data.find(fourcc); at != std::string::npos && at < 4096; at = data.find(fourcc, at + 4)) {
            data.replace(at, 4, "VCR2");
        }
    }
    const std::string vcr2 = testsupport::writeFile(testsupport::scratchPath("vcr2.avi"), data);
    for (const char* plugin : {"", " --plugin gstplugin"}) {
        run = mmtool("frames '" + vcr2 + "'" + plugin, true);
        EXPECT_EQ(run.status, 1) << plugin << run.out;
        EXPECT_NE(run.out.find("CodecNotFound"), std::string::npos) << plugin << run.out;
        EXPECT_NE(run.out.find("VCR"), std::string::npos) << plugin << run.out;
    }
}

}  // namespace
