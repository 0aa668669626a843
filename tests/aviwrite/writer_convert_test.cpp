// mmtool convert on AVI files our reader reads: every stream copied as
// stored into a new OpenDML file.
#include "aviwrite_support.hpp"

#include <gtest/gtest.h>

#include <filesystem>

using aviwrite::Recipe;
using aviwrite::run;
using aviwrite::scratchFile;
using aviwrite::writeFile;

namespace {

std::string mmtool() {
    const char* build = std::getenv("MM_BUILD_DIR");
    return std::string(build ? build : ".") + "/bin/mmtool";
}

struct Streams {
    std::vector<std::vector<char>> frames;
    std::vector<char> audio;
    std::vector<avi::tagRGBQUAD> colormap;
    unsigned width = 0, height = 0, bits = 0;
    double fps = 0;
    avi::IndexSource index = avi::IndexSource::None;
};

Streams readBack(const std::string& path) {
    Streams s;
    avi::File f;
    EXPECT_TRUE(f.open(path.c_str(), "r")) << path << ": " << f.getErrorMsg();
    if (f.hasVideo()) {
        s.width = f.getVideoWidth();
        s.height = f.getVideoHeight();
        s.bits = f.getVideoBitsPerPixel();
        s.fps = f.getVideoFrameRate();
        s.colormap = f.getColormap();
        s.index = f.getVideoIndexSource();
        for (std::uint32_t i = 0; i < f.getVideoTotalFrames(); ++i) {
            std::vector<char> frame(f.getRawVideoFrameSize(static_cast<long>(i)));
            f.readVideoFrame(frame.data(), static_cast<long>(i));
            s.frames.push_back(frame);
        }
    }
    if (f.hasAudio()) {
        s.audio.resize(f.getAudioTotalBytes());
        f.readAudio(s.audio.data(), s.audio.size());
    }
    EXPECT_EQ(f.getErrorCode(), avi::errors::NO_ERROR) << f.getErrorMsg();
    return s;
}

void expectSameStreams(const Recipe& r, const std::string& name) {
    if (!std::filesystem::exists(mmtool())) GTEST_SKIP() << "mmtool not built";
    const std::string in = scratchFile(name + "-in.avi"), out = scratchFile(name + "-out.avi");
    ASSERT_EQ(writeFile(in, r).error, avi::errors::NO_ERROR);
    const auto result = run("'" + mmtool() + "' convert '" + in + "' '" + out + "' 2>&1");
    ASSERT_EQ(result.status, 0) << result.out;
    EXPECT_NE(result.out.find(" -> "), std::string::npos) << result.out;

    const Streams a = readBack(in), b = readBack(out);
    EXPECT_EQ(b.width, a.width);
    EXPECT_EQ(b.height, a.height);
    EXPECT_EQ(b.bits, a.bits);
    EXPECT_NEAR(b.fps, a.fps, 1e-6);
    EXPECT_EQ(b.frames, a.frames);
    ASSERT_EQ(b.colormap.size(), a.colormap.size());
    for (std::size_t i = 0; i < a.colormap.size(); ++i) EXPECT_EQ(b.colormap[i].green, a.colormap[i].green);
    if (!a.frames.empty()) {
        EXPECT_EQ(b.index, avi::IndexSource::OpenDML);
    }
    // The converted audio may end in a chunk completed with silence.
    ASSERT_GE(b.audio.size(), a.audio.size());
    EXPECT_TRUE(std::equal(a.audio.begin(), a.audio.end(), b.audio.begin()));
}

}  // namespace

TEST(AviWriteConvert, CopiesVideoAndAudioAsStored) {
    Recipe r;
    r.width = 33;
    r.height = 9;
    r.frames = 12;
    r.audio = true;
    r.audioChunks = 7;  // less audio than video: the last chunk is partial after regrouping
    r.bytesPerChunk = 3000;
    expectSameStreams(r, "conv-av");
}

TEST(AviWriteConvert, KeepsPaletteAndDepth) {
    Recipe r;
    r.width = 10;
    r.height = 4;
    r.bitsPerPixel = 8;
    r.frames = 5;
    r.colormap = aviwrite::greyPalette(200);
    expectSameStreams(r, "conv-pal");
    Recipe deep;
    deep.width = 7;
    deep.height = 3;
    deep.bitsPerPixel = 32;
    deep.frameBytes = 7 * 3 * 4;
    deep.frames = 3;
    expectSameStreams(deep, "conv-32");
}

TEST(AviWriteConvert, AudioOnlyAndFailures) {
    Recipe r;
    r.audio = true;
    r.audioChunks = 4;
    expectSameStreams(r, "conv-audio");

    if (!std::filesystem::exists(mmtool())) GTEST_SKIP() << "mmtool not built";
    const std::string out = scratchFile("conv-missing-out.avi");
    const auto result = run("'" + mmtool() + "' convert '" + scratchFile("missing.avi") + "' '" + out + "' 2>&1");
    EXPECT_NE(result.status, 0);
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(AviWriteConvert, SampleCommandMakesAConvertibleFile) {
    if (!std::filesystem::exists(mmtool())) GTEST_SKIP() << "mmtool not built";
    const std::string in = scratchFile("sample.avi"), out = scratchFile("sample-out.avi");
    ASSERT_EQ(run("'" + mmtool() + "' sample '" + in + "' --seconds 1 >/dev/null 2>&1").status, 0);
    ASSERT_EQ(run("'" + mmtool() + "' convert '" + in + "' '" + out + "' >/dev/null 2>&1").status, 0);
    const Streams a = readBack(in), b = readBack(out);
    ASSERT_EQ(a.frames.size(), 30u);
    EXPECT_EQ(a.audio.size(), 44100u * 4);
    // The square moves: consecutive frames differ.
    EXPECT_NE(a.frames[0], a.frames[1]);
    EXPECT_EQ(b.frames, a.frames);
    EXPECT_EQ(b.audio, a.audio);
}
