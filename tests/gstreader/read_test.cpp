// Sequential reading: every frame once, in order, with the stream's times and
// the decoder's pixels, in both layouts.

#include "reader.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using namespace gstreader_test;

void expectSameAsReference(const std::string& path) {
    const Decoded reference = decodeReference(path);
    ASSERT_FALSE(reference.frames.empty());
    Reader reader = openReader(path);
    ASSERT_EQ(reader->getWidth(), static_cast<std::size_t>(reference.width));
    ASSERT_EQ(reader->getHeight(), static_cast<std::size_t>(reference.height));
    reader->startFromBeginning();
    const auto frames = readAll(*reader, true);
    ASSERT_EQ(frames.size(), reference.frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_DOUBLE_EQ(frames[i].time, seconds(reference.frames[i].pts)) << "frame " << i;
        EXPECT_TRUE(samePicture(frames[i].pixels, reference.frames[i].rgb)) << "frame " << i;
        if (i > 0) {
            EXPECT_GT(frames[i].time, frames[i - 1].time) << "frame " << i;
        }
    }
}

TEST(GstReaderRead, TheoraGivesEveryFrameOnceInOrderWithStreamTimes) {
    const std::string path = theoraFile(60);
    expectSameAsReference(path);
    // The moving ball makes every frame distinct, so a repeated or skipped
    // frame cannot hide behind equal pixels.
    const Decoded reference = decodeReference(path);
    ASSERT_EQ(reference.frames.size(), 60u);
    for (std::size_t i = 1; i < reference.frames.size(); ++i) {
        ASSERT_NE(reference.frames[i].rgb, reference.frames[i - 1].rgb) << i;
    }
}

TEST(GstReaderRead, TheoraWithAudioReadsTheVideoFrames) {
    expectSameAsReference(theoraFile(50, true));
}

TEST(GstReaderRead, MotionJpegAviMatchesThePlainDecode) {
    expectSameAsReference(mjpegAviFile());
}

// An interlaced picture is one frame of both fields, as the file stores it
// (and FFmpeg decodes it): no deinterlacing into a frame per field, which
// would double the frame count and rate.
TEST(GstReaderRead, InterlacedPicturesAreDeliveredAsStored) {
    expectSameAsReference(makeMedia("interlaced.mkv",
                                    "videotestsrc num-buffers=4 pattern=ball ! video/x-raw,format=I420,width=64,"
                                    "height=46,framerate=25/1,interlace-mode=interleaved ! matroskamux ! "
                                    "filesink location=@OUT@"));
}

// Rows of 15 bytes arrive padded to 16; the fill byte must not show.
TEST(GstReaderRead, NarrowFramesDropTheRowPadding) {
    expectSameAsReference(narrowFile());
}

TEST(GstReaderRead, DefaultLayoutIsTheDecodedFrameColumnMajorPlanar) {
    for (const std::string& path : {theoraFile(60), narrowFile()}) {
        const Decoded reference = decodeReference(path);
        Reader reader = openReader(path);
        reader->startFromBeginning();
        const auto frames = readAll(*reader, false);
        ASSERT_EQ(frames.size(), reference.frames.size()) << path;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            ASSERT_TRUE(samePicture(frames[i].pixels,
                                    toColumnMajorPlanes(reference.frames[i].rgb, reference.width, reference.height)))
                << path << " frame " << i;
        }
    }
}

TEST(GstReaderRead, EndOfStreamCopiesNothingAndStaysUntilRepositioned) {
    Reader reader = openReader(theoraFile(60));
    reader->startFromBeginning();
    const auto frames = readAll(*reader, true);
    ASSERT_EQ(frames.size(), 60u);
    const double lastTime = reader->getCurrentTime();
    std::vector<std::uint8_t> untouched(reader->getHeight() * reader->getWidth() * 3, 0x5A);
    for (int i = 0; i < 3; ++i) {
        reader->readFrame(true, untouched.data());
        EXPECT_TRUE(reader->isEndOfStream());
        EXPECT_EQ(reader->getCurrentTime(), lastTime);
    }
    for (auto b : untouched) ASSERT_EQ(b, 0x5A);

    // A second startFromBeginning seeks back to the first frame.
    reader->startFromBeginning();
    EXPECT_FALSE(reader->isEndOfStream());
    const auto again = readAll(*reader, true);
    ASSERT_EQ(again.size(), frames.size());
    EXPECT_EQ(again.front().time, frames.front().time);
    EXPECT_EQ(again.front().pixels, frames.front().pixels);
    EXPECT_EQ(again.back().pixels, frames.back().pixels);
}

TEST(GstReaderRead, NoStartTimeOnlyPrimesTheNextFrame) {
    const Decoded reference = decodeReference(theoraFile(60));
    Reader reader = openReader(theoraFile(60));
    reader->seekToTime(qsVideoReader::NO_START_TIME);
    const auto frames = readAll(*reader, true);
    ASSERT_EQ(frames.size(), reference.frames.size());
    EXPECT_TRUE(samePicture(frames.front().pixels, reference.frames.front().rgb));
}

TEST(GstReaderRead, TimeIsZeroBeforeTheFirstFrame) {
    Reader reader = openReader(theoraFile(60));
    EXPECT_EQ(reader->getCurrentTime(), 0.0);
    EXPECT_FALSE(reader->isEndOfStream());
}

// Nothing after close: reading answers the end of the stream, positioning
// fails by exception, nothing crashes.
TEST(GstReaderRead, AfterCloseNothingIsDelivered) {
    Reader reader = openReader(theoraFile(60));
    reader->startFromBeginning();
    reader->close();
    std::vector<std::uint8_t> frame(reader->getHeight() * reader->getWidth() * 3);
    reader->readFrame(true, frame.data());
    EXPECT_TRUE(reader->isEndOfStream());
    EXPECT_THROW(reader->seekToTime(0.5), qsVideoReader::VideoReaderException);
    reader->close();
}

TEST(GstReaderRead, NullDestinationIsAFailedReadNotACrash) {
    Reader reader = openReader(theoraFile(60));
    reader->startFromBeginning();
    reader->readFrame(true, nullptr);
    EXPECT_EQ(reader->getCurrentTime(), std::numeric_limits<double>::infinity());
    EXPECT_FALSE(reader->isEndOfStream());
}

}  // namespace
