// Positioning: seekToTime lands on the frame shown at the asked time, by
// frame number; the time of a frame seeks back to that frame; the end of the
// stream and the "no start time" value behave as callers expect.

#include "mjpegfixtures.hpp"

#include <platform/decoders/mjpegavidecoder/mjpegavidecoder.hpp>
#include <videoreader/videoreaderexceptions.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace mjpegtest;

namespace {

// Frames whose pictures differ, so a wrong frame cannot pass for the right one.
std::string distinctFramesFile(const std::string& name, std::uint32_t rate, std::uint32_t scale, int count) {
    AviRecipe recipe;
    recipe.width = 24;
    recipe.height = 16;
    recipe.rate = rate;
    recipe.scale = scale;
    for (int i = 0; i < count; ++i) {
        recipe.frames.push_back(encodeJpeg(testPicture(24, 16, i), 24, 16));
    }
    const std::string path = scratchPath(name);
    writeFile(path, buildAvi(recipe));
    return path;
}

class MjpegSeek : public ::testing::Test {
protected:
    void SetUp() override {
        path = distinctFramesFile("seek-25.avi", 25, 1, 20);
        auto reader = openReader(path);
        reader->startFromBeginning();
        sequential = readAll(*reader);
        ASSERT_EQ(sequential.pixels.size(), 20u);
    }
    std::string path;
    Frames sequential;
};

TEST_F(MjpegSeek, LandsOnTheFrameShownAtTheTime) {
    auto reader = openReader(path);
    struct {
        double time;
        std::size_t frame;
    } cases[] = {{0.0, 0}, {0.04, 1}, {0.039, 0}, {0.041, 1}, {0.5, 12}, {0.519, 12},
                 {0.52, 13}, {0.76, 19}, {0.799, 19}, {0.3, 7}, {0.0, 0}};
    for (const auto& c : cases) {
        reader->seekToTime(c.time);
        const Bytes frame = readOne(*reader);
        ASSERT_FALSE(reader->isEndOfStream()) << c.time;
        EXPECT_TRUE(frame == sequential.pixels[c.frame]) << "at " << c.time << " s";
        EXPECT_DOUBLE_EQ(reader->getCurrentTime(), sequential.times[c.frame]) << c.time;
        // Reading goes on with the frame after it.
        if (c.frame + 1 < sequential.pixels.size()) {
            EXPECT_TRUE(readOne(*reader) == sequential.pixels[c.frame + 1]) << "after " << c.time;
        }
    }
}

TEST(MjpegSeekRates, TimeOfEveryFrameSeeksBackToIt) {
    // NTSC rate: frame times are not exact in binary.
    const std::string path = distinctFramesFile("seek-ntsc.avi", 30000, 1001, 40);
    auto reader = openReader(path);
    EXPECT_NEAR(reader->getFrameRate(), 29.97002997, 1e-6);
    EXPECT_NEAR(reader->getDuration(), 40 * 1001.0 / 30000.0, 1e-12);
    reader->startFromBeginning();
    const Frames all = readAll(*reader);
    ASSERT_EQ(all.pixels.size(), 40u);
    for (std::size_t i = 0; i < all.pixels.size(); ++i) {
        EXPECT_DOUBLE_EQ(all.times[i], i * 1001.0 / 30000.0);
        reader->seekToTime(all.times[i]);
        EXPECT_TRUE(readOne(*reader) == all.pixels[i]) << "frame " << i;
        EXPECT_EQ(reader->getCurrentTime(), all.times[i]);
    }
}

TEST_F(MjpegSeek, BeyondTheEndLeavesNothingToRead) {
    auto reader = openReader(path);
    for (double t : {0.8, 0.81, 100.0, 1e300, std::numeric_limits<double>::infinity()}) {
        reader->seekToTime(t);
        EXPECT_FALSE(reader->isEndOfStream());
        Bytes frame(24 * 16 * 3, 0x5A);
        reader->readFrame(true, frame.data());
        EXPECT_TRUE(reader->isEndOfStream()) << t;
        EXPECT_TRUE(frame == Bytes(frame.size(), 0x5A)) << "nothing copied at " << t;
    }
    // Both positioning calls clear the end of the stream.
    reader->startFromBeginning();
    EXPECT_FALSE(reader->isEndOfStream());
    EXPECT_TRUE(readOne(*reader) == sequential.pixels[0]);
    reader->seekToTime(0.79);
    EXPECT_TRUE(readOne(*reader) == sequential.pixels[19]);
    readOne(*reader);
    EXPECT_TRUE(reader->isEndOfStream());
    readOne(*reader);
    EXPECT_TRUE(reader->isEndOfStream()) << "stays at the end";
    reader->seekToTime(0.0);
    EXPECT_FALSE(reader->isEndOfStream());
}

TEST_F(MjpegSeek, NoStartTimeKeepsThePosition) {
    auto reader = openReader(path);
    reader->seekToTime(qsVideoReader::NO_START_TIME);
    EXPECT_TRUE(readOne(*reader) == sequential.pixels[0]);
    EXPECT_TRUE(readOne(*reader) == sequential.pixels[1]);
    reader->seekToTime(qsVideoReader::NO_START_TIME);
    EXPECT_TRUE(readOne(*reader) == sequential.pixels[2]);
    EXPECT_DOUBLE_EQ(reader->getCurrentTime(), 0.08);
}

TEST_F(MjpegSeek, NegativeOrUndefinedTimesAreRefused) {
    auto reader = openReader(path);
    reader->seekToTime(0.4);
    for (double t : {-0.04, -1e-300, -std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_THROW(reader->seekToTime(t), qsVideoReader::SeekFailedException) << t;
    }
    // A refused seek leaves the position alone.
    EXPECT_TRUE(readOne(*reader) == sequential.pixels[10]);
}

TEST(MjpegSeekRates, StreamWithoutRateReadsButOnlySeeksToZero) {
    const std::string path = distinctFramesFile("seek-norate.avi", 0, 1, 3);
    auto reader = openReader(path);
    EXPECT_EQ(reader->getFrameRate(), 0.0);
    EXPECT_EQ(reader->getDuration(), -1.0);
    EXPECT_THROW(reader->seekToTime(1.0), qsVideoReader::SeekFailedException);
    reader->seekToTime(0.0);
    const Frames all = readAll(*reader);
    ASSERT_EQ(all.pixels.size(), 3u);
    for (double t : all.times) {
        EXPECT_TRUE(std::isnan(t)) << "frame times are unknown, and not infinite";
    }
}

TEST(MjpegSeekRates, SeekOnAReaderWithoutFileFails) {
    std::unique_ptr<qsVideoReader::IVideoReader> reader(qsVideoReader::createMjpegAviReaderInstance());
    EXPECT_THROW(reader->seekToTime(0.0), qsVideoReader::SeekFailedException);
    Bytes frame(16, 0);
    reader->readFrame(true, frame.data());
    EXPECT_TRUE(reader->isEndOfStream());
}

}  // namespace
