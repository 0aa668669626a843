// AVI files as FFmpeg writes them with B-pictures (MPEG-4 Part 2 plain and
// packed, H.264 with a B-pyramid, interlaced, MPEG-1 and MPEG-2, with and
// without an index): every
// delivered frame carries the time its picture is shown at, and a seek to T
// delivers the picture shown at T. Pictures are held against FFmpeg's decode
// of the same display number; the test pattern moves, so a neighbour scores
// far below the right picture.

#include "reader.hpp"

#include <support/avibuilder.hpp>
#include <support/files.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>
#include <vector>

namespace {

using namespace gstreader_test;

constexpr double kPeriod = 0.04;  // 25 frames/s

struct AviKind {
    const char* name;
    const char* arguments;
    bool cutAtHalf;  // the first half of the file: no index, a broken last chunk
    // Display numbers from this one on are not held against FFmpeg's frame
    // of that number: the packed file's encoder never wrote display 98 and
    // FFmpeg drops 97 as well (its frame 97 is display 99), and a cut file
    // ends in a partial chunk.
    std::size_t checkedBelow;
    bool seeks;
};

const AviKind kKinds[] = {
    {"xvid", "-c:v mpeg4 -vtag XVID -bf 2 -g 25", false, 100, true},
    {"dx50", "-c:v mpeg4 -vtag DX50 -bf 2 -g 25", false, 100, true},
    {"packed", "-c:v libxvid -bf 2", false, 97, true},
    {"h264aac", "-f lavfi -i sine=duration=4 -c:v libx264 -bf 3 -g 25 -c:a aac -ac 2", false, 100, true},
    {"h264pcm", "-f lavfi -i sine=duration=4 -c:v libx264 -bf 3 -g 25 -c:a pcm_s16le", false, 100, true},
    {"h264opengop", "-c:v libx264 -bf 3 -g 25 -x264-params open-gop=1", false, 100, true},
    // Both fields in one frame, as a camera stores them.
    {"h264interlaced", "-c:v libx264 -bf 3 -g 25 -flags +ildct+ilme -x264-params tff=1", false, 100, true},
    // MPEG-1 and MPEG-2 video: open groups, a closed one, and no index.
    {"mpeg1", "-c:v mpeg1video -bf 2 -g 12", false, 100, true},
    {"mpeg2", "-c:v mpeg2video -bf 2 -g 12", false, 100, true},
    {"mpeg2closed", "-c:v mpeg2video -bf 2 -g 12 -flags +cgop -sc_threshold 1000000000", false, 100, true},
    {"mpeg2cut", "-c:v mpeg2video -bf 2 -g 12 -q:v 8", true, 50, true},
    {"xvidcut", "-c:v mpeg4 -vtag XVID -bf 2 -g 12 -q:v 8", true, 50, true},
    {"h264cut", "-c:v libx264 -bf 3 -g 25", true, 47, true},
};

void PrintTo(const AviKind& kind, std::ostream* out) { *out << kind.name; }

std::string aviFile(const AviKind& kind) {
    const std::string whole = ffmpegAvi(std::string(kind.name) + ".avi", kind.arguments);
    if (whole.empty() || !kind.cutAtHalf) return whole;
    const std::string data = testsupport::readFile(whole);
    return testsupport::writeFile(scratchPath(std::string(kind.name) + "-cut.avi"), data.substr(0, data.size() / 2));
}

// Whether `pixels` is FFmpeg's picture `n`: close to it, and closer than to
// either neighbour.
::testing::AssertionResult showsPicture(const std::vector<std::uint8_t>& pixels,
                                        const std::vector<std::vector<std::uint8_t>>& reference, std::size_t n) {
    if (n >= reference.size()) return ::testing::AssertionFailure() << "no reference picture " << n;
    const double right = psnr(pixels, reference[n]);
    if (right < 35.0) return ::testing::AssertionFailure() << "picture " << n << " at " << right << " dB";
    for (std::size_t other : {n - 1, n + 1}) {
        if (other < reference.size() && psnr(pixels, reference[other]) >= right) {
            return ::testing::AssertionFailure() << "picture " << other << " scores at least as well as " << n;
        }
    }
    return ::testing::AssertionSuccess();
}

class AviTimes : public ::testing::TestWithParam<AviKind> {
protected:
    void SetUp() override {
        if (!testsupport::haveTool("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
        path_ = aviFile(GetParam());
        ASSERT_FALSE(path_.empty()) << "ffmpeg could not write " << GetParam().name;
        reference_ = ffmpegFrames(path_);
        ASSERT_GT(reference_.size(), 10u);
    }

    std::string path_;
    std::vector<std::vector<std::uint8_t>> reference_;
};

TEST_P(AviTimes, EveryFrameCarriesTheTimeItsPictureIsShownAt) {
    Reader reader = openReader(path_);
    ASSERT_EQ(reader->getWidth(), 320u);
    reader->startFromBeginning();
    const auto frames = readAll(*reader, true);
    ASSERT_GE(frames.size() + 1, reference_.size());
    std::size_t checked = 0;
    for (std::size_t i = 0; i < frames.size() && i < GetParam().checkedBelow; ++i) {
        // From the start, the delivered frames are display numbers 0, 1, 2, ...
        EXPECT_NEAR(frames[i].time, static_cast<double>(i) * kPeriod, 1e-6) << "frame " << i;
        EXPECT_TRUE(showsPicture(frames[i].pixels, reference_, i)) << "frame " << i;
        ++checked;
    }
    EXPECT_GE(checked, std::min<std::size_t>(GetParam().checkedBelow, reference_.size()) - 1);
    if (!GetParam().cutAtHalf) {
        // The last picture is display number 99 in every whole file, also
        // where the encoder left out a slot before it.
        EXPECT_NEAR(frames.back().time, 99 * kPeriod, 1e-6);
        EXPECT_TRUE(showsPicture(frames.back().pixels, reference_, reference_.size() - 1));
    }
}

TEST_P(AviTimes, ASeekDeliversThePictureShownAtTheTarget) {
    if (!GetParam().seeks) GTEST_SKIP() << "seeking in an H.264 AVI without an index is not exact yet";
    Reader reader = openReader(path_);
    const std::size_t frameSize = reader->getWidth() * reader->getHeight() * 3;
    // Keyframes are chunks 0, 25, 49, 73, 97 (MPEG-4, shown at 0, 27, 51, 75,
    // 99) or display numbers 0, 25, 50, 75 (H.264): targets at, just before
    // and just after them, inside groups and at the last frame.
    const double targets[] = {0.0,  0.5,  0.96, 0.99, 1.0,  1.04, 1.07, 1.08, 1.1,  1.12,
                              1.95, 2.0,  2.03, 2.04, 3.0,  3.5,  3.84, 3.88, 3.9,  3.99};
    int tried = 0;
    for (double t : targets) {
        const std::size_t n = static_cast<std::size_t>(std::floor(t / kPeriod + 1e-9));
        if (n >= GetParam().checkedBelow || n >= reference_.size()) continue;
        ++tried;
        reader->seekToTime(t);
        std::vector<std::uint8_t> pixels(frameSize);
        reader->readFrame(true, pixels.data());
        ASSERT_FALSE(reader->isEndOfStream()) << "t=" << t;
        EXPECT_NEAR(reader->getCurrentTime(), static_cast<double>(n) * kPeriod, 1e-6) << "t=" << t;
        EXPECT_TRUE(showsPicture(pixels, reference_, n)) << "t=" << t;
        // The frame after it follows one period later.
        if (n + 1 < GetParam().checkedBelow && n + 1 < reference_.size()) {
            reader->readFrame(true, pixels.data());
            EXPECT_NEAR(reader->getCurrentTime(), static_cast<double>(n + 1) * kPeriod, 1e-6) << "t=" << t;
            EXPECT_TRUE(showsPicture(pixels, reference_, n + 1)) << "after t=" << t;
        }
    }
    EXPECT_GE(tried, 10);
}

INSTANTIATE_TEST_SUITE_P(FfmpegAvis, AviTimes, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<AviKind>& info) { return std::string(info.param.name); });

class AviStreams : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::haveTool("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
    }
};

TEST_F(AviStreams, NumAudioChannelsIsThatOfThePlayedAudioStream) {
    Reader stereo = openReader(ffmpegAvi("h264aac.avi", kKinds[3].arguments));
    EXPECT_EQ(stereo->getNumAudioChannels(), 2.0);
    Reader mono = openReader(ffmpegAvi("h264pcm.avi", kKinds[4].arguments));
    EXPECT_EQ(mono->getNumAudioChannels(), 1.0);
    Reader silent = openReader(ffmpegAvi("xvid.avi", kKinds[0].arguments));
    EXPECT_EQ(silent->getNumAudioChannels(), 0.0);
}

TEST_F(AviStreams, AVideoCodecWithoutADecoderFailsTheOpenNamingIt) {
    // An MPEG-4 file relabelled as ATI VCR2, and H.264 with MP3 under a
    // FourCC GStreamer does not know (as in FFmpeg's own test files).
    const std::string source = ffmpegAvi("xvid.avi", kKinds[0].arguments);
    const std::string vcr2 = withVideoFourcc(withVideoFourcc(source, "XVID", "VCR2", "vcr2a.avi"), "FMP4", "VCR2",
                                             "vcr2.avi");
    const std::string smv2 =
        ffmpegAvi("smv2.avi", "-f lavfi -i sine=duration=4 -c:v libx264 -bf 3 -vtag SMV2 -c:a libmp3lame");
    ASSERT_FALSE(smv2.empty());
    for (const auto& [path, named] : {std::pair{vcr2, "VCR 2"}, std::pair{smv2, "FourCC SMV2"}}) {
        Reader reader(qsVideoReader::createGstReaderInstance());
        try {
            reader->open(toU16(path), false);
            ADD_FAILURE() << "opened " << path << " whose video nothing decodes";
        } catch (const qsVideoReader::UnknownCodecException& failure) {
            EXPECT_NE(std::string(failure.what()).find(named), std::string::npos) << failure.what();
        }
    }
}

TEST_F(AviStreams, AStreamEndingFarShortOfItsDurationIsReported) {
    // Index and chunks intact, but the pictures of chunks 30 on are zero
    // bytes: the decoder finds nothing in them and the stream ends early.
    const std::string whole = ffmpegAvi("xvid.avi", kKinds[0].arguments);
    std::string data = testsupport::readFile(whole);
    int chunk = 0;
    for (std::size_t at = data.find("movi") + 4; at + 8 <= data.size();) {
        const std::string id = data.substr(at, 4);
        if (id == "idx1") break;
        if (id == "LIST") {
            at += 12;
            continue;
        }
        const std::size_t size = avitest::get32(data, at + 4);
        if (id == "00dc" && chunk++ >= 30) data.replace(at + 8, size, std::string(size, '\0'));
        at += 8 + size + (size & 1);
    }
    ASSERT_EQ(chunk, 100);
    const std::string shortened = testsupport::writeFile(scratchPath("shortened.avi"), data);
    Reader reader = openReader(shortened);
    reader->startFromBeginning();
    const auto frames = readAll(*reader, true);
    auto* warnings = dynamic_cast<qsVideoReader::IReaderWarnings*>(reader.get());
    ASSERT_NE(warnings, nullptr);
    const auto said = warnings->takeWarnings();
    ASSERT_EQ(said.size(), 1u) << frames.size() << " frames";
    EXPECT_EQ(said[0].kind, "FrameCountMismatch");
    EXPECT_NE(said[0].text.find(std::to_string(frames.size()) + " frames"), std::string::npos) << said[0].text;
    EXPECT_NE(said[0].text.find("of the 100"), std::string::npos) << said[0].text;
    // A whole file says nothing.
    Reader whole_reader = openReader(whole);
    whole_reader->startFromBeginning();
    readAll(*whole_reader, true);
    EXPECT_TRUE(dynamic_cast<qsVideoReader::IReaderWarnings*>(whole_reader.get())->takeWarnings().empty());
}

}  // namespace
