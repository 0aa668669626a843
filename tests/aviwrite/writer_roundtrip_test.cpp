// Files written by the writer read back through our own reader: every kind
// of stream the writer makes, frame for frame and byte for byte.
#include "aviwrite_support.hpp"

#include <gtest/gtest.h>

using aviwrite::Recipe;
using aviwrite::scratchFile;
using aviwrite::writeFile;
using aviwrite::Written;

namespace {

void expectReadsBack(const std::string& path, const Recipe& r, const Written& w) {
    ASSERT_EQ(w.error, avi::errors::NO_ERROR);
    avi::File f;
    ASSERT_TRUE(f.open(path.c_str(), "r")) << f.getErrorMsg();
    EXPECT_EQ(f.getErrorCode(), avi::errors::NO_ERROR) << f.getErrorMsg();
    EXPECT_EQ(f.hasVideo(), !w.frames.empty());
    EXPECT_EQ(f.hasAudio(), r.audio);
    if (!w.frames.empty()) {
        EXPECT_EQ(f.getVideoWidth(), r.width);
        EXPECT_EQ(f.getVideoHeight(), r.height);
        EXPECT_EQ(f.getVideoBitsPerPixel(), r.bitsPerPixel);
        EXPECT_DOUBLE_EQ(f.getVideoFrameRate(), r.frameRate);
        EXPECT_EQ(f.getVideoFourCC(), r.fourCC.size() == 4 ? r.fourCC : std::string());
        ASSERT_EQ(f.getVideoTotalFrames(), w.frames.size());
        for (std::size_t i = 0; i < w.frames.size(); ++i) {
            ASSERT_EQ(f.getRawVideoFrameSize(static_cast<long>(i)), w.frames[i].size());
            std::vector<char> frame(w.frames[i].size());
            f.readVideoFrame(frame.data(), static_cast<long>(i));
            ASSERT_EQ(frame, w.frames[i]) << "frame " << i;
        }
        if (r.bitsPerPixel == 8) {
            const auto map = f.getColormap();
            ASSERT_EQ(map.size(), r.colormap.size());
            for (std::size_t i = 0; i < map.size(); ++i) {
                EXPECT_EQ(map[i].blue, r.colormap[i].blue);
                EXPECT_EQ(map[i].green, r.colormap[i].green);
                EXPECT_EQ(map[i].red, r.colormap[i].red);
            }
        }
    }
    if (r.audio) {
        EXPECT_EQ(f.getAudioSampleRate(), static_cast<std::uint32_t>(r.sampleRate + 0.5));
        EXPECT_EQ(f.getAudioBitsPerSample(), r.bitsPerSample);
        EXPECT_EQ(f.getAudioNumberOfChannels(), r.channels);
        std::vector<char> expected;
        for (const auto& c : w.audio) expected.insert(expected.end(), c.begin(), c.end());
        // The stream is counted in whole samples.
        const std::size_t sample = r.bitsPerSample * r.channels / 8;
        expected.resize(expected.size() / sample * sample);
        ASSERT_EQ(f.getAudioTotalBytes(), expected.size());
        std::vector<char> audio(expected.size());
        f.readAudio(audio.data(), audio.size());
        EXPECT_EQ(f.getErrorCode(), avi::errors::NO_ERROR) << f.getErrorMsg();
        EXPECT_EQ(audio, expected);
        EXPECT_TRUE(f.isEndOfAudio());
    }
}

Recipe video(unsigned width, unsigned height, unsigned bits, unsigned frames) {
    Recipe r;
    r.width = width;
    r.height = height;
    r.bitsPerPixel = bits;
    r.frames = frames;
    return r;
}

}  // namespace

TEST(AviWriteRoundTrip, TwentyFourBitOddAndEvenWidths) {
    for (unsigned width : {7u, 8u, 33u, 64u}) {
        const std::string path = scratchFile("rt24-" + std::to_string(width) + ".avi");
        Recipe r = video(width, 5, 24, 6);
        r.frameRate = 29.97;
        expectReadsBack(path, r, writeFile(path, r));
    }
}

TEST(AviWriteRoundTrip, EightBitWithPalette) {
    const std::string path = scratchFile("rt8.avi");
    Recipe r = video(13, 7, 8, 5);
    r.colormap = aviwrite::greyPalette(256);
    expectReadsBack(path, r, writeFile(path, r));
}

TEST(AviWriteRoundTrip, SixteenAndThirtyTwoBitThroughSizedFrames) {
    for (unsigned bits : {16u, 32u}) {
        const std::string path = scratchFile("rt" + std::to_string(bits) + ".avi");
        Recipe r = video(11, 6, bits, 4);
        r.frameBytes = 6 * aviwrite::rowBytes(11, bits);
        expectReadsBack(path, r, writeFile(path, r));
    }
}

TEST(AviWriteRoundTrip, FourCCTaggedFrames) {
    const std::string path = scratchFile("rt-fourcc.avi");
    Recipe r = video(8, 4, 16, 3);
    r.fourCC = "YUY2";
    r.frameBytes = 8 * 4 * 2;
    const Written w = writeFile(path, r);
    ASSERT_EQ(w.error, avi::errors::NO_ERROR);
    avi::File f;
    ASSERT_TRUE(f.openToGetInformation(path.c_str()));
    EXPECT_TRUE(f.isVideoCompressed());
    EXPECT_EQ(f.getVideoFourCC(), "YUY2");
    EXPECT_EQ(f.getVideoTotalFrames(), 3u);
}

TEST(AviWriteRoundTrip, AudioOnlyAudioFirstAndOddChunks) {
    {
        const std::string path = scratchFile("rt-audio.avi");
        Recipe r;
        r.audio = true;
        r.audioChunks = 7;
        expectReadsBack(path, r, writeFile(path, r));
    }
    {
        const std::string path = scratchFile("rt-audio-first.avi");
        Recipe r = video(10, 4, 24, 5);
        r.audio = true;
        r.audioFirst = true;
        r.audioChunks = 5;
        r.sampleRate = 22050.0;
        r.bytesPerChunk = 1764;
        expectReadsBack(path, r, writeFile(path, r));
    }
    for (unsigned bits : {8u, 16u}) {
        // Odd chunk sizes are stored with a pad byte the reader must skip.
        const std::string path = scratchFile("rt-audio-odd" + std::to_string(bits) + ".avi");
        Recipe r = video(6, 2, 24, 4);
        r.audio = true;
        r.bitsPerSample = bits;
        r.channels = 1;
        r.bytesPerChunk = bits == 8 ? 4411 : 4411;
        r.audioChunks = 6;
        expectReadsBack(path, r, writeFile(path, r));
    }
}
