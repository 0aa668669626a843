// Streams that break, buffers of the wrong size, memory that cannot be
// mapped: made on cue by the test decoder element.

#include "reader.hpp"
#include "testdecoder.hpp"

#include <gst/gst.h>

#include <gtest/gtest.h>

#include <limits>

namespace {

using namespace gstreader_test;

const double INF = std::numeric_limits<double>::infinity();

struct Frames {
    std::vector<double> times;
    std::vector<std::vector<std::uint8_t>> pixels;
};

// Reads up to `limit` frames, stopping at the end or at a failed read.
Frames readUntilDone(qsVideoReader::IVideoReader& reader, std::size_t limit = 50) {
    Frames out;
    const std::size_t size = reader.getWidth() * reader.getHeight() * 3;
    for (std::size_t i = 0; i < limit; ++i) {
        std::vector<std::uint8_t> frame(size, 0x42);
        reader.readFrame(true, frame.data());
        if (reader.isEndOfStream()) break;
        out.times.push_back(reader.getCurrentTime());
        out.pixels.push_back(frame);
        if (reader.getCurrentTime() == INF) break;
    }
    return out;
}

class BrokenStream : public ::testing::TestWithParam<bool> {};

// The frames before the break arrive intact with their times; then the read
// fails (infinite time), not a quiet end of stream, and keeps failing.
TEST_P(BrokenStream, ReadFailsWithInfiniteTimeAfterTheGoodFrames) {
    const bool swallowEos = GetParam();
    // The break comes late enough that the frames the pipeline buffers
    // between decoder and appsink cannot reach it before playback starts.
    const std::string path =
        testDecoderFile("break.gstrtest", 5, 6, 10, 10, swallowEos, "dddddddddddd");
    Reader reader = openReader(path);
    ASSERT_EQ(reader->getWidth(), 5u);
    reader->startFromBeginning();
    const Frames frames = readUntilDone(*reader);
    ASSERT_EQ(frames.times.size(), 11u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_DOUBLE_EQ(frames.times[i], i * 0.1) << i;
        EXPECT_EQ(frames.pixels[i], testDecoderFrame(i, 5, 6)) << i;
    }
    EXPECT_EQ(frames.times[10], INF);
    EXPECT_FALSE(reader->isEndOfStream());
    std::vector<std::uint8_t> frame(90);
    reader->readFrame(true, frame.data());
    EXPECT_EQ(reader->getCurrentTime(), INF);
    // Said once, with the frames delivered before the decoder stopped.
    const auto warnings = dynamic_cast<qsVideoReader::IReaderWarnings&>(*reader).takeWarnings();
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].kind, "DecoderStopped");
    EXPECT_NE(warnings[0].text.find("after 10 frames"), std::string::npos) << warnings[0].text;
    reader->close();
}

TEST_P(BrokenStream, SeekIntoTheBrokenPartFails) {
    const std::string path =
        testDecoderFile("break-seek.gstrtest", 5, 6, 10, 10, GetParam(), "dddddddddddd");
    Reader reader = openReader(path);
    // The element cannot seek: the request fails, nothing hangs.
    EXPECT_THROW(reader->seekToTime(0.6), qsVideoReader::SeekFailedException);
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutEndOfStream, BrokenStream, ::testing::Bool());

TEST(GstReaderBuffers, PaddedAndPackedBuffersBothGiveThePackedFrame) {
    const std::string path = testDecoderFile("mixed.gstrtest", 5, 6, 10, -1, false, "dpdp");
    Reader reader = openReader(path);
    reader->startFromBeginning();
    const Frames frames = readUntilDone(*reader);
    ASSERT_EQ(frames.times.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(frames.pixels[i], testDecoderFrame(i, 5, 6)) << i;
    }
    EXPECT_TRUE(reader->isEndOfStream());
}

struct Warnings {
    std::vector<std::string> lines;
};
Warnings* warnings = nullptr;

void captureWarnings(GstDebugCategory* category, GstDebugLevel level, const gchar* file,
                     const gchar* function, gint, GObject*, GstDebugMessage* message, gpointer) {
    if (warnings != nullptr && category == GST_CAT_DEFAULT && level == GST_LEVEL_WARNING &&
        std::string(file) == "GstReader" && std::string(function) == "copyBitmapData") {
        warnings->lines.push_back(gst_debug_message_get(message));
    }
}

// A buffer one byte short of a frame, or one byte longer (too long to be
// packed, too short to hold padded rows): nothing is copied, a warning is
// logged, and the read fails (infinite time) without stopping the stream:
// the frame is consumed, the next one reads with its own time.
TEST(GstReaderBuffers, BuffersOfTheWrongSizeAreFailedReads) {
    const std::string path = testDecoderFile("sizes.gstrtest", 5, 6, 10, -1, false, "dsdod");
    Warnings captured;
    gst_init(nullptr, nullptr);
    warnings = &captured;
    gst_debug_add_log_function(captureWarnings, nullptr, nullptr);
    gst_debug_set_default_threshold(GST_LEVEL_WARNING);
    Reader reader = openReader(path);
    reader->startFromBeginning();
    Frames frames;
    for (int i = 0; i < 5; ++i) {
        std::vector<std::uint8_t> frame(90, 0x42);
        reader->readFrame(true, frame.data());
        ASSERT_FALSE(reader->isEndOfStream()) << i;
        frames.times.push_back(reader->getCurrentTime());
        frames.pixels.push_back(frame);
    }
    gst_debug_set_default_threshold(GST_LEVEL_NONE);
    gst_debug_remove_log_function(captureWarnings);
    warnings = nullptr;

    const std::vector<std::uint8_t> untouched(90, 0x42);
    for (int i : {0, 2, 4}) {
        EXPECT_DOUBLE_EQ(frames.times[i], i * 0.1) << i;
        EXPECT_EQ(frames.pixels[i], testDecoderFrame(i, 5, 6)) << i;
    }
    for (int i : {1, 3}) {
        EXPECT_EQ(frames.times[i], INF) << i;
        EXPECT_EQ(frames.pixels[i], untouched) << i;
    }
    ASSERT_EQ(captured.lines.size(), 2u);
    EXPECT_EQ(captured.lines[0], "Received a smaller buffer of size 89!");
    EXPECT_NE(captured.lines[1].find("91"), std::string::npos) << captured.lines[1];
}

// A buffer without a timestamp follows the previous frame by one period; one
// whose timestamp goes back does too.
TEST(GstReaderBuffers, TimesNeverGoBack) {
    const std::string path = testDecoderFile("times.gstrtest", 5, 6, 10, -1, false, "dnndzd");
    Reader reader = openReader(path);
    reader->startFromBeginning();
    const Frames frames = readUntilDone(*reader);
    ASSERT_EQ(frames.times.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_NEAR(frames.times[i], i * 0.1, 1e-9) << i;
        EXPECT_EQ(frames.pixels[i], testDecoderFrame(i, 5, 6)) << i;
    }
}

TEST(GstReaderBuffers, UnmappableBufferIsAFailedRead) {
    const std::string path = testDecoderFile("unmappable.gstrtest", 8, 4, 10, -1, false, "dud");
    Reader reader = openReader(path);
    reader->startFromBeginning();
    std::vector<std::uint8_t> frame(8 * 4 * 3);
    reader->readFrame(true, frame.data());
    EXPECT_DOUBLE_EQ(reader->getCurrentTime(), 0.0);
    reader->readFrame(true, frame.data());
    EXPECT_EQ(reader->getCurrentTime(), INF);
    EXPECT_FALSE(reader->isEndOfStream());
    // The frame stays unread: the next read fails the same way.
    reader->readFrame(true, frame.data());
    EXPECT_EQ(reader->getCurrentTime(), INF);
}

}  // namespace
