// Frames of Motion-JPEG AVI files made by GStreamer and FFmpeg: each decoded
// frame equals libjpeg-turbo's decode of the same chunk, lies in the layout
// asked for, and agrees with FFmpeg's own decoder; the file's properties are
// what the writer put in.

#include "mjpegfixtures.hpp"

#include <platform/decoders/mjpegavidecoder/mjpegavidecoder.hpp>
#include <videoreader/videoreaderexceptions.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <tuple>

using namespace mjpegtest;

namespace {

struct PeerCase {
    const char* name;
    bool gstreamer;
    int width, height, frames, fps;
    bool audio;
    int audioChannels;
    const char* pixelFormat;  // FFmpeg only
};

PeerFile make(const PeerCase& c) {
    return c.gstreamer ? gstreamerFile(c.width, c.height, c.frames, c.fps, c.audio)
                       : ffmpegFile(c.width, c.height, c.frames, c.fps, c.audio, "optimal", c.pixelFormat);
}

class PeerFiles : public ::testing::TestWithParam<PeerCase> {};

TEST_P(PeerFiles, PropertiesAreThoseTheWriterSet) {
    const PeerCase& c = GetParam();
    auto reader = openReader(make(c).path);
    EXPECT_EQ(reader->getWidth(), std::size_t(c.width));
    EXPECT_EQ(reader->getHeight(), std::size_t(c.height));
    EXPECT_DOUBLE_EQ(reader->getFrameRate(), c.fps);
    EXPECT_NEAR(reader->getDuration(), double(c.frames) / c.fps, 1e-9);
    EXPECT_EQ(reader->getBitsPerPixel(), 24u);
    EXPECT_EQ(reader->getVideoFormat(), u"RGB24");
    EXPECT_EQ(reader->getVideoCodec(), u"MJPG");
    EXPECT_EQ(reader->getNumColorChannels(), 3u);
    EXPECT_TRUE(reader->hasVideo());
    EXPECT_EQ(reader->hasAudio(), c.audio);
    EXPECT_EQ(reader->getNumAudioChannels(), c.audio ? c.audioChannels : 0);
    EXPECT_EQ(reader->getAudioCodec(), c.audio ? u"PCM" : u"");
    EXPECT_EQ(reader->getVideoDataType(), 3);
    EXPECT_FALSE(reader->getOpenFlag());
    EXPECT_EQ(reader->getCurrentTime(), 0.0);
}

TEST_P(PeerFiles, EveryFrameEqualsLibjpegDecodeOfItsChunk) {
    const PeerCase& c = GetParam();
    const PeerFile file = make(c);
    const Bytes bytes = readFile(file.path);
    const std::vector<Chunk> chunks = videoChunks(bytes);
    ASSERT_EQ(chunks.size(), std::size_t(c.frames));

    auto reader = openReader(file.path);
    reader->startFromBeginning();
    const Frames frames = readAll(*reader);
    ASSERT_EQ(frames.pixels.size(), chunks.size());
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        int w = 0, h = 0;
        const Bytes expected = libjpegDecode(chunkData(bytes, chunks[i]), w, h);
        ASSERT_EQ(w, c.width);
        ASSERT_EQ(h, c.height);
        EXPECT_TRUE(frames.pixels[i] == expected) << "frame " << i;
        EXPECT_NEAR(frames.times[i], double(i) / c.fps, 1e-12) << "frame " << i;
    }
    // The frame after the last: nothing copied, end of stream.
    Bytes sentinel(std::size_t(c.width) * c.height * 3, 0xA5);
    reader->readFrame(true, sentinel.data());
    EXPECT_TRUE(reader->isEndOfStream());
    EXPECT_EQ(maxDifference(sentinel, Bytes(sentinel.size(), 0xA5)), 0);
}

TEST_P(PeerFiles, DefaultLayoutIsPlanarColumnMajor) {
    const PeerCase& c = GetParam();
    const PeerFile file = make(c);
    auto reader = openReader(file.path);
    reader->startFromBeginning();
    const Frames interleaved = readAll(*reader, true);
    reader->startFromBeginning();
    const Frames planar = readAll(*reader, false);
    ASSERT_EQ(planar.pixels.size(), interleaved.pixels.size());
    for (std::size_t i = 0; i < planar.pixels.size(); ++i) {
        EXPECT_TRUE(planar.pixels[i] == toColumnMajorPlanes(interleaved.pixels[i], c.width, c.height))
            << "frame " << i;
        EXPECT_EQ(planar.times[i], interleaved.times[i]);
    }
}

// FFmpeg has its own IDCT, so its frames match only within a few levels.
// It also upsamples subsampled chroma otherwise than libjpeg (which
// interpolates): for FFmpeg's own 4:2:0 and 4:2:2 files, whose test picture
// has sharp colour edges, only the luma of the two decodes is compared, which
// the chroma filter touches only where a colour clips.
Bytes luma(const Bytes& rgb) {
    Bytes y(rgb.size() / 3);
    for (std::size_t i = 0; i < y.size(); ++i) {
        y[i] = static_cast<std::uint8_t>((299 * rgb[3 * i] + 587 * rgb[3 * i + 1] + 114 * rgb[3 * i + 2] + 500) / 1000);
    }
    return y;
}

TEST_P(PeerFiles, FfmpegDecodesNearlyTheSameFrames) {
    const PeerCase& c = GetParam();
    const PeerFile file = make(c);
    const std::vector<Bytes> reference = ffmpegDecode(file.path, c.width, c.height);
    auto reader = openReader(file.path);
    reader->startFromBeginning();
    const Frames frames = readAll(*reader);
    ASSERT_EQ(frames.pixels.size(), reference.size());
    const bool chromaSubsampledByFfmpeg = !c.gstreamer && std::string(c.pixelFormat) != "yuvj444p";
    for (std::size_t i = 0; i < reference.size(); ++i) {
        if (chromaSubsampledByFfmpeg) {
            const Bytes ours = luma(frames.pixels[i]), theirs = luma(reference[i]);
            EXPECT_LE(maxDifference(ours, theirs), 32) << "frame " << i;
            EXPECT_LT(meanDifference(ours, theirs), 2.5) << "frame " << i;
        } else {
            EXPECT_LE(maxDifference(frames.pixels[i], reference[i]), 4) << "frame " << i;
            EXPECT_LT(meanDifference(frames.pixels[i], reference[i]), 0.5) << "frame " << i;
        }
    }
}

const PeerCase kPeerCases[] = {
    {"GStreamer320x240", true, 320, 240, 12, 25, false, 0, ""},
    {"GStreamerOddSizeWithAudio", true, 33, 17, 10, 25, true, 2, ""},
    {"Ffmpeg420WithAudio", false, 64, 48, 10, 30, true, 1, "yuvj420p"},
    {"Ffmpeg422", false, 96, 64, 5, 30, false, 0, "yuvj422p"},
    {"FfmpegOddSize", false, 35, 19, 8, 24, false, 0, "yuvj444p"},
    {"FfmpegOddSizeWithAudio", false, 101, 77, 6, 10, true, 1, "yuvj444p"},
};

INSTANTIATE_TEST_SUITE_P(Mjpeg, PeerFiles, ::testing::ValuesIn(kPeerCases),
                         [](const ::testing::TestParamInfo<PeerCase>& info) { return info.param.name; });

// ---- frames that carry no Huffman tables ----

std::string stripAll(const PeerFile& file, const std::string& name) {
    Bytes bytes = readFile(file.path);
    int stripped = 0;
    for (const Chunk& chunk : videoChunks(bytes)) {
        stripped += stripHuffmanTables(bytes.data() + chunk.offset, chunk.size);
    }
    EXPECT_GT(stripped, 0);
    const std::string path = scratchPath(name);
    writeFile(path, bytes);
    return path;
}

TEST(MjpegHuffman, FramesWithoutTablesDecodeAsWithStandardTables) {
    for (const PeerFile& file :
         {gstreamerFile(48, 32, 6, 25, false), ffmpegFile(49, 31, 6, 25, false, "default")}) {
        auto original = openReader(file.path);
        original->startFromBeginning();
        const Frames expected = readAll(*original);
        auto stripped = openReader(stripAll(file, "stripped-" + std::to_string(file.width) + ".avi"));
        stripped->startFromBeginning();
        const Frames actual = readAll(*stripped);
        ASSERT_EQ(actual.pixels.size(), expected.pixels.size());
        for (std::size_t i = 0; i < actual.pixels.size(); ++i) {
            EXPECT_TRUE(actual.pixels[i] == expected.pixels[i]) << file.path << " frame " << i;
            EXPECT_EQ(actual.times[i], expected.times[i]);
        }
    }
}

// A frame without tables means the standard tables, not those the frame
// before it defined: frames with tables of their own alternate with
// stripped ones.
TEST(MjpegHuffman, TablesOfOneFrameDoNotCarryOverToTheNext) {
    const PeerFile custom = ffmpegFile(40, 24, 4, 25, false, "optimal");
    const PeerFile standard = ffmpegFile(40, 24, 4, 25, false, "default");
    const Bytes customBytes = readFile(custom.path);
    const Bytes standardBytes = readFile(standard.path);
    const auto customChunks = videoChunks(customBytes);
    const auto standardChunks = videoChunks(standardBytes);
    ASSERT_EQ(customChunks.size(), 4u);
    ASSERT_EQ(standardChunks.size(), 4u);

    AviRecipe recipe;
    recipe.width = 40;
    recipe.height = 24;
    std::vector<Bytes> expected;
    for (std::size_t i = 0; i < 4; ++i) {
        const Bytes withTables = chunkData(customBytes, customChunks[i]);
        Bytes withoutTables = chunkData(standardBytes, standardChunks[i]);
        int w = 0, h = 0;
        expected.push_back(libjpegDecode(withTables, w, h));
        expected.push_back(libjpegDecode(withoutTables, w, h));
        ASSERT_GT(stripHuffmanTables(withoutTables.data(), withoutTables.size()), 0);
        recipe.frames.push_back(withTables);
        recipe.frames.push_back(withoutTables);
    }
    const std::string path = scratchPath("alternating-tables.avi");
    writeFile(path, buildAvi(recipe));
    auto reader = openReader(path);
    reader->startFromBeginning();
    const Frames frames = readAll(*reader);
    ASSERT_EQ(frames.pixels.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_TRUE(frames.pixels[i] == expected[i]) << "frame " << i;
        EXPECT_TRUE(std::isfinite(frames.times[i])) << "frame " << i;
    }
}

// Frames of our own encoder, at high quality so nearly every code of the
// tables is used: stripped and unstripped decode alike.
TEST(MjpegHuffman, NoisyFramesWithoutTablesDecodeAlike) {
    AviRecipe with, without;
    with.width = without.width = 64;
    with.height = without.height = 48;
    for (int seed = 0; seed < 3; ++seed) {
        Bytes jpeg = encodeJpeg(testPicture(64, 48, seed), 64, 48, 100);
        with.frames.push_back(jpeg);
        ASSERT_EQ(stripHuffmanTables(jpeg.data(), jpeg.size()), 4);  // one DHT per table
        without.frames.push_back(jpeg);
    }
    writeFile(scratchPath("noisy-with.avi"), buildAvi(with));
    writeFile(scratchPath("noisy-without.avi"), buildAvi(without));
    auto a = openReader(scratchPath("noisy-with.avi"));
    auto b = openReader(scratchPath("noisy-without.avi"));
    const Frames fa = readAll(*a);
    const Frames fb = readAll(*b);
    ASSERT_EQ(fa.pixels.size(), 3u);
    ASSERT_EQ(fb.pixels.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(fa.pixels[i] == fb.pixels[i]) << "frame " << i;
    }
}

}  // namespace

// ---- interlaced capture: two fields in one chunk ----

namespace {

// A field of a picture: every other row from `first`, repeating the last
// row when the field comes out short.
Bytes field(const Bytes& rgb, int width, int height, int first, int rows) {
    Bytes out;
    for (int r = 0; r < rows; ++r) {
        const int y = std::min(first + 2 * r, first + 2 * ((height - 1 - first) / 2));
        out.insert(out.end(), rgb.begin() + std::size_t(y) * width * 3, rgb.begin() + std::size_t(y + 1) * width * 3);
    }
    return out;
}

// A JPEG field with the "AVI1" segment capture cards write after SOI.
Bytes markedField(const Bytes& jpeg, std::uint8_t polarity) {
    const std::uint8_t avi1[] = {0xFF, 0xE0, 0x00, 0x10, 'A', 'V', 'I', '1', polarity, 0,
                                 0,    0,    0,    0,    0,   0,   0,   0};
    Bytes out;
    out.reserve(jpeg.size() + sizeof avi1);
    for (std::size_t i = 0; i < jpeg.size(); ++i) {
        out.push_back(jpeg[i]);
        if (i == 1) {  // right after SOI
            out.insert(out.end(), std::begin(avi1), std::end(avi1));
        }
    }
    return out;
}

struct Interlaced {
    std::string path;
    std::vector<Bytes> expected;  // per frame, from libjpeg's decode of each field
};

// dropped: an empty chunk (a dropped frame) after the first frame and one at
// the end, as capture tools and FFmpeg write them.
Interlaced interlacedFile(const std::string& name, int width, int height, std::uint8_t polarity,
                          bool dropped = false) {
    AviRecipe recipe;
    recipe.width = width;
    recipe.height = height;
    const int fieldRows = (height + 1) / 2;
    Interlaced made;
    for (int i = 0; i < 3; ++i) {
        const Bytes picture = testPicture(width, height, i);
        // The first field in the chunk goes to the odd lines, whatever the
        // polarity byte says.
        const int firstLine = 1;
        const Bytes one = encodeJpeg(field(picture, width, height, firstLine, fieldRows), width, fieldRows);
        const Bytes two = encodeJpeg(field(picture, width, height, 1 - firstLine, fieldRows), width, fieldRows);
        Bytes chunk = markedField(one, polarity);
        const Bytes second = markedField(two, polarity);
        chunk.insert(chunk.end(), second.begin(), second.end());
        recipe.frames.push_back(chunk);

        int w = 0, h = 0;
        const Bytes a = libjpegDecode(one, w, h), b = libjpegDecode(two, w, h);
        Bytes frame(std::size_t(width) * height * 3);
        for (int y = 0; y < height; ++y) {
            const bool fromFirst = (y % 2) == firstLine;
            const Bytes& src = fromFirst ? a : b;
            std::copy_n(src.begin() + std::size_t(y / 2) * width * 3, width * 3, frame.begin() + std::size_t(y) * width * 3);
        }
        made.expected.push_back(frame);
        if (dropped && (i == 0 || i == 2)) {
            recipe.frames.emplace_back();
            made.expected.push_back(frame);  // shows the picture before it
        }
    }
    made.path = scratchPath(name);
    writeFile(made.path, buildAvi(recipe));
    return made;
}

TEST(MjpegInterlaced, TwoFieldsInAChunkAreWovenIntoOneFrame) {
    for (const auto& c : {std::make_tuple(32, 24, 0), std::make_tuple(32, 23, 0), std::make_tuple(40, 30, 1),
                          std::make_tuple(40, 31, 1)}) {
        const int width = std::get<0>(c), height = std::get<1>(c);
        const auto polarity = static_cast<std::uint8_t>(std::get<2>(c));
        const Interlaced file = interlacedFile("interlaced-" + std::to_string(height) + ".avi", width, height, polarity);
        auto reader = openReader(file.path);
        reader->startFromBeginning();
        const Frames frames = readAll(*reader);
        ASSERT_EQ(frames.pixels.size(), 3u) << height;
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_TRUE(std::isfinite(frames.times[i])) << height << " frame " << i;
            EXPECT_TRUE(frames.pixels[i] == file.expected[i]) << height << " frame " << i;
        }
    }
}

// Dropped frames between two-field chunks: every frame at its own time,
// woven whole (not read as fields), a dropped one showing the one before.
TEST(MjpegInterlaced, DroppedFramesAmongFieldPairs) {
    const Interlaced file = interlacedFile("interlaced-dropped.avi", 32, 24, 0, true);
    auto reader = openReader(file.path);
    EXPECT_DOUBLE_EQ(reader->getDuration(), 0.2);
    reader->startFromBeginning();
    const Frames frames = readAll(*reader);
    ASSERT_EQ(frames.pixels.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_DOUBLE_EQ(frames.times[i], 0.04 * static_cast<double>(i));
        EXPECT_TRUE(frames.pixels[i] == file.expected[i]) << "frame " << i;
    }
}

// FFmpeg weaves such fields the same way (it too puts the first field on the
// odd lines, for every polarity byte).
TEST(MjpegInterlaced, FfmpegWeavesTheFieldsAlike) {
    const Interlaced file = interlacedFile("interlaced-ffmpeg.avi", 48, 32, 0);
    const std::vector<Bytes> reference = ffmpegDecode(file.path, 48, 32);
    ASSERT_EQ(reference.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        // Chroma is subsampled here: compared by luma, as above (a wrong
        // weave differs by 6 levels or more on average).
        EXPECT_LT(meanDifference(luma(file.expected[i]), luma(reference[i])), 2.5) << "frame " << i;
        EXPECT_LE(maxDifference(luma(file.expected[i]), luma(reference[i])), 32) << "frame " << i;
    }
}

TEST(MjpegInterlaced, MissingSecondFieldIsAFailedRead) {
    AviRecipe recipe;
    recipe.width = 32;
    recipe.height = 24;
    recipe.frames.push_back(markedField(encodeJpeg(testPicture(32, 12, 0), 32, 12), 0));
    writeFile(scratchPath("one-field.avi"), buildAvi(recipe));
    auto reader = openReader(scratchPath("one-field.avi"));
    const Frames frames = readAll(*reader);
    ASSERT_EQ(frames.pixels.size(), 1u);
    EXPECT_TRUE(std::isinf(frames.times[0]));
}

}  // namespace
