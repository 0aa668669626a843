// Chained Ogg (two Theora files one after the other): the second part, of
// another picture size, arrives scaled to the size published at open, each
// frame resembling GStreamer's own decode of its part, with times that go on
// from the first part.

#include "reader.hpp"

#include <gtest/gtest.h>

namespace {

using namespace gstreader_test;

struct Chain {
    const char* name;
    int firstWidth, firstHeight, secondWidth, secondHeight;
};

class ChainedOgg : public ::testing::TestWithParam<Chain> {};

TEST_P(ChainedOgg, EveryFrameIsItsPartScaledToTheOpenSizeAndTimesGoOn) {
    const Chain c = GetParam();
    std::vector<std::string> parts;
    const std::string path = chainedOgg(c.firstWidth, c.firstHeight, c.secondWidth, c.secondHeight, &parts);
    Reader reader = openReader(path);
    ASSERT_EQ(reader->getWidth(), static_cast<std::size_t>(c.firstWidth));
    ASSERT_EQ(reader->getHeight(), static_cast<std::size_t>(c.firstHeight));
    ASSERT_EQ(reader->getFrameRate(), 10.0);
    reader->startFromBeginning();
    const auto frames = readAll(*reader, true, 100);

    std::vector<DecodedFrame> expected = decodeReference(parts[0]).frames;
    for (auto& frame : decodeReference(parts[1], c.firstWidth, c.firstHeight).frames) {
        expected.push_back(std::move(frame));
    }
    ASSERT_EQ(expected.size(), 20u);
    ASSERT_EQ(frames.size(), expected.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_NEAR(frames[i].time, 0.1 * static_cast<double>(i), 1e-6) << i;
        EXPECT_GE(psnr(frames[i].pixels, expected[i].rgb), 20.0) << "frame " << i;
        // What a stale frame would score: the test can tell one.
        if (i > 0) {
            EXPECT_LT(psnr(frames[i].pixels, expected[i - 1].rgb), 10.0) << "frame " << i;
        }
    }
}

// A flushing seek cannot cross from one part to another: restarting after the
// end and seeking into either part still deliver the frames of the first pass.
TEST(ChainedOggPositioning, RestartAndSeeksIntoEitherPartDeliverTheFramesOfTheFirstPass) {
    const std::string path = chainedOgg(160, 120, 176, 144, nullptr);
    Reader reader = openReader(path);
    reader->startFromBeginning();
    const auto first = readAll(*reader, true, 100);
    ASSERT_EQ(first.size(), 20u);

    reader->startFromBeginning();
    const auto again = readAll(*reader, true, 100);
    ASSERT_EQ(again.size(), first.size());
    for (std::size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(again[i].time, first[i].time) << i;
        EXPECT_TRUE(again[i].pixels == first[i].pixels) << i;
    }

    for (std::size_t i : {15u, 3u, 12u, 0u, 19u}) {
        reader->seekToTime(first[i].time + 0.05);
        const auto from = readAll(*reader, true, 2);
        ASSERT_FALSE(from.empty()) << i;
        EXPECT_EQ(from[0].time, first[i].time) << i;
        EXPECT_TRUE(from[0].pixels == first[i].pixels) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, ChainedOgg,
                         ::testing::Values(Chain{"Larger", 160, 120, 176, 144},
                                           Chain{"Smaller", 160, 120, 128, 96},
                                           Chain{"OddWidths", 161, 121, 99, 75}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
