// Frame-accurate seeking: after seekToTime(t) the next frame is, byte for
// byte and with the same time, the frame a sequential read shows at t.

#include "reader.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

using namespace gstreader_test;
using qsVideoReader::SeekFailedException;

class SeekTest : public ::testing::Test {
protected:
    // The sequential read of `path`: what the reader shows at any time.
    void load(const std::string& path) {
        path_ = path;
        Reader reader = openReader(path);
        reader->startFromBeginning();
        sequence_ = readAll(*reader, true);
        ASSERT_GT(sequence_.size(), 4u);
        duration_ = reader->getDuration();
        frameSize_ = reader->getHeight() * reader->getWidth() * 3;
    }

    // Index of the frame shown at t: the last one starting at or before t.
    std::size_t shownAt(double t) const {
        std::size_t shown = 0;
        for (std::size_t i = 0; i < sequence_.size(); ++i) {
            if (sequence_[i].time <= t) shown = i;
        }
        return shown;
    }

    // Seeks and reads one frame; checks it is the one shown at t.
    void expectFrameAt(qsVideoReader::IVideoReader& reader, double t) {
        reader.seekToTime(t);
        std::vector<std::uint8_t> pixels(frameSize_);
        reader.readFrame(true, pixels.data());
        ASSERT_FALSE(reader.isEndOfStream()) << "t=" << t;
        const std::size_t expected = shownAt(t);
        EXPECT_EQ(reader.getCurrentTime(), sequence_[expected].time) << "t=" << t;
        EXPECT_TRUE(pixels == sequence_[expected].pixels) << "t=" << t << " frame " << expected;
    }

    void expectEndAt(qsVideoReader::IVideoReader& reader, double t) {
        reader.seekToTime(t);
        std::vector<std::uint8_t> pixels(frameSize_, 0x77);
        reader.readFrame(true, pixels.data());
        EXPECT_TRUE(reader.isEndOfStream()) << "t=" << t;
        for (auto b : pixels) ASSERT_EQ(b, 0x77) << "copied at end of stream, t=" << t;
    }

    // Every kind of target: each timestamp exactly, just before it, halfway
    // to the next, and the last frame's whole period.
    void seekEverywhere() {
        Reader reader = openReader(path_);
        const double period = sequence_[1].time - sequence_[0].time;
        for (std::size_t i = 0; i < sequence_.size(); ++i) {
            const double t = sequence_[i].time;
            expectFrameAt(*reader, t);
            expectFrameAt(*reader, t + period / 2);
            if (i > 0) expectFrameAt(*reader, t - 1e-6);
        }
        expectFrameAt(*reader, sequence_.back().time + period * 0.99);
    }

    std::string path_;
    std::vector<ReadFrame> sequence_;
    double duration_ = -1.0;
    std::size_t frameSize_ = 0;
};

TEST_F(SeekTest, EveryTargetInAShortGroupOfPictures) {
    load(theoraFile(60));
    seekEverywhere();
}

// One keyframe for the whole file: every target must decode from frame 0.
TEST_F(SeekTest, EveryTargetWithOneKeyframeOnly) {
    load(theoraFile(60, false, 100));
    seekEverywhere();
}

TEST_F(SeekTest, EveryTargetInAFileWithAudio) {
    load(theoraFile(50, true));
    seekEverywhere();
}

TEST_F(SeekTest, EveryTargetInMotionJpegAvi) {
    load(mjpegAviFile());
    seekEverywhere();
}

TEST_F(SeekTest, ReadingOnAfterASeekContinuesTheSequence) {
    load(theoraFile(60));
    Reader reader = openReader(path_);
    reader->seekToTime(sequence_[21].time + 0.01);
    const auto rest = readAll(*reader, true);
    ASSERT_EQ(rest.size(), sequence_.size() - 21);
    for (std::size_t i = 0; i < rest.size(); ++i) {
        EXPECT_EQ(rest[i].time, sequence_[21 + i].time) << i;
        EXPECT_TRUE(rest[i].pixels == sequence_[21 + i].pixels) << i;
    }
}

TEST_F(SeekTest, RandomOrderOfSeeksOnOneReader) {
    load(theoraFile(60));
    Reader reader = openReader(path_);
    std::mt19937 gen(99);
    std::uniform_real_distribution<double> anywhere(0.0, sequence_.back().time + 0.039);
    for (int i = 0; i < 40; ++i) {
        expectFrameAt(*reader, anywhere(gen));
    }
}

TEST_F(SeekTest, BeyondTheEndLeavesNoFrame) {
    load(theoraFile(60));
    ASSERT_GT(duration_, sequence_.back().time);
    Reader reader = openReader(path_);
    expectEndAt(*reader, duration_);
    expectEndAt(*reader, duration_ + 0.5);
    expectEndAt(*reader, 1000.0);
    expectEndAt(*reader, 1e30);
    expectEndAt(*reader, std::numeric_limits<double>::infinity());
    // and the reader still seeks back afterwards
    expectFrameAt(*reader, 0.0);
    expectFrameAt(*reader, sequence_.back().time);
}

TEST_F(SeekTest, TimesBeforeTheStartGiveTheFirstFrameAndNaNFails) {
    load(theoraFile(60));
    Reader reader = openReader(path_);
    expectFrameAt(*reader, -1.0);
    expectFrameAt(*reader, -1e300);
    expectFrameAt(*reader, -std::numeric_limits<double>::infinity());
    EXPECT_THROW(reader->seekToTime(std::nan("")), SeekFailedException);
    expectFrameAt(*reader, 0.5);
}

// Seeks within the first three frame periods go to the target itself.
TEST_F(SeekTest, TargetsNearTheStart) {
    load(theoraFile(60));
    Reader reader = openReader(path_);
    for (double t : {0.0, 0.001, 0.04, 0.079, 0.08, 0.119, 0.12, 0.121}) {
        expectFrameAt(*reader, t);
    }
}

TEST_F(SeekTest, StartFromBeginningAfterASeekReturnsToTheFirstFrame) {
    load(theoraFile(60));
    Reader reader = openReader(path_);
    reader->seekToTime(1.0);
    reader->startFromBeginning();
    std::vector<std::uint8_t> pixels(frameSize_);
    reader->readFrame(true, pixels.data());
    EXPECT_EQ(reader->getCurrentTime(), sequence_.front().time);
    EXPECT_TRUE(pixels == sequence_.front().pixels);
}

TEST_F(SeekTest, SeekClearsTheEndOfStream) {
    load(theoraFile(60));
    Reader reader = openReader(path_);
    reader->seekToTime(sequence_.back().time);
    std::vector<std::uint8_t> pixels(frameSize_);
    reader->readFrame(true, pixels.data());
    reader->readFrame(true, pixels.data());
    ASSERT_TRUE(reader->isEndOfStream());
    expectFrameAt(*reader, 0.3);
}

// Default layout after a seek is the same frame, transposed.
TEST_F(SeekTest, DefaultLayoutAfterASeek) {
    load(narrowFile());
    Reader reader = openReader(path_);
    for (std::size_t i : {0u, 3u, 7u, 11u}) {
        reader->seekToTime(sequence_[i].time);
        std::vector<std::uint8_t> pixels(frameSize_);
        reader->readFrame(false, pixels.data());
        EXPECT_EQ(pixels, toColumnMajorPlanes(sequence_[i].pixels, 5, 6)) << i;
    }
}

// A frame rate of 0/1 makes the back-off negative infinity: the seek goes
// to the target itself. On a timestamp that is the frame; between two, the
// pixels are those of the frame shown there.
TEST_F(SeekTest, WithoutAFrameRateTheSeekGoesToTheTarget) {
    load(noFrameRateFile());
    Reader reader = openReader(path_);
    ASSERT_EQ(reader->getFrameRate(), 0.0);
    for (std::size_t i = 0; i < sequence_.size(); ++i) {
        expectFrameAt(*reader, sequence_[i].time);
    }
    for (double t : {0.05, 0.42, 0.99}) {
        reader->seekToTime(t);
        std::vector<std::uint8_t> pixels(frameSize_);
        reader->readFrame(true, pixels.data());
        EXPECT_TRUE(pixels == sequence_[shownAt(t)].pixels) << t;
    }
}

// The frame at 1.0 s is shown until 1.3 s. A seek anywhere into it shows
// that frame with its own time: the back-off must reach before it, or the
// decoder clips the frame to the segment and stamps it with the seek position.
TEST_F(SeekTest, SeeksIntoAFrameHeldLongerShowItWithItsOwnTime) {
    load(heldFrameFile());
    ASSERT_EQ(sequence_.size(), 16u);
    ASSERT_NEAR(sequence_[10].time, 1.0, 1e-9);
    ASSERT_NEAR(sequence_[11].time, 1.3, 1e-9);
    Reader reader = openReader(path_);
    ASSERT_EQ(reader->getFrameRate(), 10.0);
    for (double t : {1.0, 1.05, 1.12, 1.2, 1.21, 1.25, 1.29, 1.3, 1.35, 1.55}) {
        expectFrameAt(*reader, t);
    }
}

TEST_F(SeekTest, AFileThatCannotSeekSaysSo) {
    Reader reader = openReader(stillImageFile());
    // the first positioning needs no seek
    reader->startFromBeginning();
    std::vector<std::uint8_t> pixels(reader->getHeight() * reader->getWidth() * 3);
    reader->readFrame(true, pixels.data());
    EXPECT_EQ(reader->getCurrentTime(), 0.0);
    EXPECT_THROW(reader->seekToTime(0.0), SeekFailedException);
    EXPECT_THROW(reader->startFromBeginning(), SeekFailedException);
}

}  // namespace
