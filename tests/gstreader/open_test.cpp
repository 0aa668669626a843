// Opening files and the properties read from them; files that are not what
// they seem. Every case is bounded by the test timeout: nothing may hang.

#include "reader.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>

namespace {

using namespace gstreader_test;
using namespace qsVideoReader;

TEST(GstReaderOpen, TheoraWithVorbisProperties) {
    const std::string path = theoraFile(50, true);
    Reader reader(createGstReaderInstance());
    reader->open(toU16(path), true);
    EXPECT_TRUE(reader->getOpenFlag());
    EXPECT_TRUE(reader->hasVideo());
    EXPECT_TRUE(reader->hasAudio());
    EXPECT_EQ(reader->getWidth(), 64u);
    EXPECT_EQ(reader->getHeight(), 48u);
    EXPECT_DOUBLE_EQ(reader->getFrameRate(), 25.0);
    EXPECT_NEAR(reader->getDuration(), 2.0, 0.05);
    EXPECT_EQ(reader->getBitsPerPixel(), 24u);
    EXPECT_EQ(reader->getVideoFormat(), u"RGB24");
    EXPECT_EQ(reader->getNumColorChannels(), 3u);
    EXPECT_EQ(reader->getNumAudioChannels(), 2.0);  // the stereo Vorbis stream
    EXPECT_EQ(reader->getVideoDataType(), static_cast<VideoDataType>(3));
    EXPECT_EQ(reader->getVideoCodec(), u"Theora");
    EXPECT_EQ(reader->getAudioCodec(), u"Vorbis");
}

TEST(GstReaderOpen, VideoOnlyFileHasNoAudioCodec) {
    Reader reader = openReader(mjpegAviFile());
    EXPECT_FALSE(reader->getOpenFlag());
    EXPECT_TRUE(reader->hasVideo());
    EXPECT_FALSE(reader->hasAudio());
    EXPECT_EQ(reader->getAudioCodec(), u"");
    EXPECT_EQ(reader->getWidth(), 32u);
    EXPECT_EQ(reader->getHeight(), 24u);
    EXPECT_DOUBLE_EQ(reader->getFrameRate(), 10.0);
    EXPECT_NEAR(reader->getDuration(), 2.0, 0.01);
}

TEST(GstReaderOpen, BeforeOpenEverythingAnswersEmpty) {
    Reader reader(createGstReaderInstance());
    EXPECT_FALSE(reader->hasVideo());
    EXPECT_FALSE(reader->hasAudio());
    EXPECT_EQ(reader->getWidth(), 0u);
    EXPECT_EQ(reader->getHeight(), 0u);
    EXPECT_EQ(reader->getFrameRate(), 0.0);
    EXPECT_EQ(reader->getDuration(), -1.0);
    EXPECT_EQ(reader->getVideoCodec(), u"");
    EXPECT_EQ(reader->getVideoFormat(), u"");
    EXPECT_EQ(reader->getCurrentTime(), 0.0);
    reader->close();
}

TEST(GstReaderOpen, AudioOnlyFileOpensWithoutVideo) {
    Reader reader = openReader(audioOnlyFile());
    EXPECT_FALSE(reader->hasVideo());
    EXPECT_TRUE(reader->hasAudio());
    EXPECT_EQ(reader->getWidth(), 0u);
    EXPECT_EQ(reader->getHeight(), 0u);
    EXPECT_EQ(reader->getFrameRate(), 0.0);
    EXPECT_EQ(reader->getBitsPerPixel(), 0u);
    EXPECT_EQ(reader->getVideoFormat(), u"");
    EXPECT_EQ(reader->getNumColorChannels(), 0u);
    EXPECT_EQ(reader->getAudioCodec(), u"Vorbis");
    EXPECT_EQ(reader->getVideoCodec(), u"");
    // No frame ever comes: positioning is swallowed, reading ends at once.
    reader->startFromBeginning();
    std::uint8_t byte = 0x11;
    reader->readFrame(true, &byte);
    EXPECT_TRUE(reader->isEndOfStream());
    EXPECT_EQ(byte, 0x11);
    reader->seekToTime(0.5);
    reader->readFrame(true, &byte);
    EXPECT_TRUE(reader->isEndOfStream());
    EXPECT_EQ(byte, 0x11);
    reader->close();
}

TEST(GstReaderOpen, CapsWithoutFrameRateLeaveItAtZero) {
    for (const std::string& path : {noFrameRateFile(), stillImageFile()}) {
        Reader reader = openReader(path);
        EXPECT_TRUE(reader->hasVideo()) << path;
        EXPECT_EQ(reader->getFrameRate(), 0.0) << path;
        EXPECT_GT(reader->getWidth(), 0u) << path;
    }
}

TEST(GstReaderOpen, MissingFileFailsToInitialiseTheProperties) {
    Reader reader(createGstReaderInstance());
    try {
        reader->open(u"/nonexistent/folder/file.ogv", false);
        FAIL() << "opened a missing file";
    } catch (const UnexpectedException& e) {
        EXPECT_STREQ(e.what(), "Unable to initialize the video properties");
    }
    EXPECT_FALSE(reader->hasVideo());
    reader->close();
}

TEST(GstReaderOpen, EmptyNameFails) {
    Reader reader(createGstReaderInstance());
    EXPECT_THROW(reader->open(u"", false), UnexpectedException);
}

TEST(GstReaderOpen, NoiseFileFails) {
    const std::string path = corruptedCopy(theoraFile(60), 0, "noise.ogv");
    Reader reader(createGstReaderInstance());
    EXPECT_THROW(reader->open(toU16(path), false), VideoReaderException);
}

TEST(GstReaderOpen, RelativeNameIsTakenFromTheCurrentFolder) {
    const std::string path = mjpegAviFile();
    const std::string folder = path.substr(0, path.rfind('/'));
    const std::string name = path.substr(path.rfind('/') + 1);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    Reader reader(createGstReaderInstance());
    EXPECT_NO_THROW(reader->open(toU16(name), false));
    std::filesystem::current_path(previous);
    EXPECT_EQ(reader->getWidth(), 32u);
}

TEST(GstReaderOpen, NamesBeyondAsciiReachTheFileSystem) {
    const std::string path = mjpegAviFile();
    const std::string folder = path.substr(0, path.rfind('/'));
    const std::string utf8 = folder + "/caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.avi";
    std::filesystem::copy_file(path, utf8, std::filesystem::copy_options::overwrite_existing);
    const std::u16string name =
        toU16(folder) + u"/caf\u00e9 \u65e5\u672c.avi";
    Reader reader(createGstReaderInstance());
    reader->open(name, false);
    EXPECT_EQ(reader->getWidth(), 32u);
}

TEST(GstReaderOpen, OpeningAgainForgetsTheEarlierFile) {
    Reader reader = openReader(theoraFile(60));
    reader->startFromBeginning();
    reader->open(toU16(audioOnlyFile()), false);
    EXPECT_FALSE(reader->hasVideo());
    EXPECT_EQ(reader->getWidth(), 0u);
    reader->open(toU16(mjpegAviFile()), false);
    EXPECT_EQ(reader->getWidth(), 32u);
    reader->startFromBeginning();
    const auto frames = readAll(*reader, true);
    EXPECT_EQ(frames.size(), 20u);
}

// A stream cut short either ends early or fails a read, marked by an
// infinite time; it never hangs and never crashes.
TEST(GstReaderOpen, TruncatedFileEndsOrFailsWithoutHanging) {
    const std::string source = theoraFile(60);
    const auto size = std::filesystem::file_size(source);
    const std::string path = truncatedCopy(source, size / 2, "half.ogv");
    Reader reader = openReader(path);
    reader->startFromBeginning();
    const auto frames = readAll(*reader, true, 200);
    EXPECT_LT(frames.size(), 60u);
    EXPECT_GT(frames.size(), 0u);
}

}  // namespace
