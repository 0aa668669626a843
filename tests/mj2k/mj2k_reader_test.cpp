// Frames, properties and positioning of the Motion JPEG 2000 reader on files
// made here with OpenJPEG's encoder and the test box writer.

#include "common.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

using namespace mj2test;
using qsVideoReader::BitDepthException;
using qsVideoReader::SeekFailedException;
using qsVideoReader::VideoReaderException;

namespace {

struct Shape {
    const char* name;
    std::uint32_t components, precision;
    std::uint32_t dataType, bitsPerPixel;
    const char16_t* format;
};
void PrintTo(const Shape& s, std::ostream* os) { *os << s.name; }

class FrameShapes : public ::testing::TestWithParam<Shape> {};

// Every frame, in both layouts, equals OpenJPEG's own decode of its sample.
TEST_P(FrameShapes, FramesEqualOpenJpegDecodeInBothLayouts) {
    const Shape& s = GetParam();
    std::vector<std::vector<std::uint8_t>> codestreams;
    MovieLayout layout = simpleMovie(33, 17, s.components, s.precision, 3, &codestreams);
    std::string path = writeTemp(std::string(s.name) + ".mj2", writeMovie(layout));

    ReaderPtr r = openFile(path);
    EXPECT_EQ(r->getWidth(), 33u);
    EXPECT_EQ(r->getHeight(), 17u);
    EXPECT_EQ(r->getNumColorChannels(), s.components);
    EXPECT_EQ(static_cast<std::uint32_t>(r->getVideoDataType()), s.dataType);
    EXPECT_EQ(r->getBitsPerPixel(), s.bitsPerPixel);
    EXPECT_EQ(r->getVideoFormat(), s.format);

    for (bool rowMajor : {true, false}) {
        r->startFromBeginning();
        for (std::size_t i = 0; i < codestreams.size(); ++i) {
            std::vector<std::uint8_t> got = readOne(*r, rowMajor);
            ASSERT_FALSE(r->isEndOfStream());
            EXPECT_DOUBLE_EQ(r->getCurrentTime(), 0.04 * i);
            Decoded d = decodeJ2k(codestreams[i].data(), codestreams[i].size());
            ASSERT_FALSE(d.planes.empty());
            std::vector<std::uint8_t> want = s.dataType == 5 ? asBytes(expectedFrame<std::uint16_t>(d, s.components, rowMajor))
                                                             : asBytes(expectedFrame<std::uint8_t>(d, s.components, rowMajor));
            EXPECT_EQ(got, want) << "frame " << i << (rowMajor ? " row-major" : " planar");
        }
        // Past the last frame nothing is copied and the end is reported.
        std::vector<std::uint8_t> after = readOne(*r, rowMajor);
        EXPECT_TRUE(r->isEndOfStream());
        EXPECT_EQ(after, std::vector<std::uint8_t>(after.size(), 0xA5));
        EXPECT_DOUBLE_EQ(r->getCurrentTime(), 0.08);
    }
}

INSTANTIATE_TEST_SUITE_P(Mj2kReader, FrameShapes,
                         ::testing::Values(Shape{"rgb8", 3, 8, 3, 24, u"RGB24"}, Shape{"rgb16", 3, 16, 5, 48, u"RGB48"},
                                           Shape{"rgb12", 3, 12, 5, 48, u"RGB48"}, Shape{"gray8", 1, 8, 3, 8, u"GRAY8"},
                                           Shape{"gray16", 1, 16, 5, 16, u"GRAY16"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Mj2kReader, PropertiesDescribeTheMovie) {
    MovieLayout layout = simpleMovie(20, 16, 3, 8, 5);
    layout.withAudio = true;
    layout.audioChannels = 2;
    ReaderPtr r = newReader();
    EXPECT_EQ(r->getWidth(), 0u);
    EXPECT_FALSE(r->hasVideo());
    EXPECT_EQ(r->getCurrentTime(), 0.0);
    r->open(u16(writeTemp("props.mj2", writeMovie(layout))), true);
    EXPECT_TRUE(r->getOpenFlag());
    EXPECT_DOUBLE_EQ(r->getFrameRate(), 25.0);
    EXPECT_DOUBLE_EQ(r->getDuration(), 0.2);
    EXPECT_EQ(r->getVideoCodec(), u"mjp2");
    EXPECT_TRUE(r->hasVideo());
    EXPECT_TRUE(r->hasAudio());
    EXPECT_EQ(r->getAudioCodec(), u"twos");
    EXPECT_EQ(r->getNumAudioChannels(), 2.0);
    r->close();

    layout.withAudio = false;
    r = openFile(writeTemp("noaudio.mj2", writeMovie(layout)));
    EXPECT_FALSE(r->getOpenFlag());
    EXPECT_FALSE(r->hasAudio());
    EXPECT_EQ(r->getAudioCodec(), u"");
    EXPECT_EQ(r->getNumAudioChannels(), 0.0);
}

// The same frames stored every way the format allows read the same.
TEST(Mj2kReader, StorageVariantsReadAlike) {
    std::vector<std::vector<std::uint8_t>> codestreams;
    MovieLayout base = simpleMovie(18, 10, 3, 8, 5, &codestreams);
    std::vector<MovieLayout> variants(6, base);
    variants[1].co64 = true;
    variants[2].samplesPerChunk = 2;  // two full chunks and one of a single sample
    variants[3].mdatFirst = true;
    variants[4].wrapInJp2c = true;
    variants[5].wrapInJp2c = true;
    variants[5].sampleBoxType = "c2pj";
    for (std::size_t v = 0; v < variants.size(); ++v) {
        ReaderPtr r = openFile(writeTemp("variant" + std::to_string(v) + ".mj2", writeMovie(variants[v])));
        r->startFromBeginning();
        for (std::size_t i = 0; i < codestreams.size(); ++i) {
            Decoded d = decodeJ2k(codestreams[i].data(), codestreams[i].size());
            EXPECT_EQ(readOne(*r, true), asBytes(expectedFrame<std::uint8_t>(d, 3, true))) << "variant " << v << " frame " << i;
        }
        readOne(*r, true);
        EXPECT_TRUE(r->isEndOfStream()) << "variant " << v;
    }
}

// Depths between the container sizes fill the container: 10 and 12 bits
// reach 65535, 4 bits reach 255, as the public header promises.
TEST(Mj2kReader, DeepSamplesAreScaledToTheirContainer) {
    for (std::uint32_t precision : {4u, 10u, 12u}) {
        Picture p = makePicture(32, 16, 1, precision, 0);
        const std::int32_t top = (1 << precision) - 1;
        const std::int32_t first[8] = {0, 1, top / 2 + 1, top, top - 1, 2, 3, 0};
        std::copy(first, first + 8, p.planes[0].begin());
        MovieLayout layout = simpleMovie(32, 16, 1, precision, 0);
        layout.samples = {encodeJ2k(p)};
        ReaderPtr r = openFile(writeTemp("deep" + std::to_string(precision) + ".mj2", writeMovie(layout)));
        const bool wide = precision > 8;
        ASSERT_EQ(r->getVideoDataType(), wide ? multimedia::common::avbuffer::VIDEO_UINT16 : multimedia::common::avbuffer::VIDEO_UINT8);
        std::vector<std::uint8_t> got = readOne(*r, true);
        const double full = wide ? 65535.0 : 255.0;
        for (std::size_t i = 0; i < 8; ++i) {
            const unsigned v = wide ? got[2 * i] | (got[2 * i + 1] << 8) : got[i];
            EXPECT_EQ(v, unsigned(std::lround(p.planes[0][i] * full / top))) << precision << " bits, sample " << i;
        }
        if (precision == 10) {
            EXPECT_EQ(got[4] | (got[5] << 8), 32800);  // 512, as the header says
        }
    }
}

// Samples past 4 GiB: 64-bit chunk offsets and box sizes are used whole.
TEST(Mj2kReader, ReadsSamplesBeyondFourGigabytes) {
    std::vector<std::vector<std::uint8_t>> codestreams;
    MovieLayout layout = simpleMovie(16, 12, 3, 8, 3, &codestreams);
    layout.co64 = true;
    layout.gapBeforeMdat = (std::uint64_t(5) << 30);
    std::vector<std::uint64_t> offsets;
    ReaderPtr r = openFile(writeSparseMovie("beyond4g.mj2", layout, &offsets));
    ASSERT_GT(offsets.front(), std::uint64_t(1) << 32);
    r->startFromBeginning();
    for (std::size_t i = 0; i < codestreams.size(); ++i) {
        Decoded d = decodeJ2k(codestreams[i].data(), codestreams[i].size());
        EXPECT_EQ(readOne(*r, true), asBytes(expectedFrame<std::uint8_t>(d, 3, true))) << "frame " << i;
    }
}

TEST(Mj2kReader, SeekLandsOnTheFrameShownAtThatTime) {
    std::vector<std::vector<std::uint8_t>> codestreams;
    MovieLayout layout = simpleMovie(16, 16, 1, 8, 4, &codestreams);
    layout.durations = {10, 30, 60, 100};  // frames at 0, 0.01, 0.04, 0.1; the last ends at 0.2
    ReaderPtr r = openFile(writeTemp("seek.mj2", writeMovie(layout)));
    EXPECT_DOUBLE_EQ(r->getDuration(), 0.2);
    EXPECT_DOUBLE_EQ(r->getFrameRate(), 20.0);  // four frames in 0.2 s

    auto frameAt = [&](double t) {
        r->seekToTime(t);
        std::vector<std::uint8_t> got = readOne(*r, true);
        for (std::size_t i = 0; i < codestreams.size(); ++i) {
            Decoded d = decodeJ2k(codestreams[i].data(), codestreams[i].size());
            if (got == expectedFrame<std::uint8_t>(d, 1, true)) return static_cast<int>(i);
        }
        return r->isEndOfStream() ? -1 : -2;
    };
    EXPECT_EQ(frameAt(0.0), 0);
    EXPECT_EQ(frameAt(0.0099), 0);
    EXPECT_EQ(frameAt(0.01), 1);
    EXPECT_EQ(frameAt(0.03), 1);
    EXPECT_EQ(frameAt(0.04), 2);
    EXPECT_EQ(frameAt(0.1999), 3);
    EXPECT_DOUBLE_EQ(r->getCurrentTime(), 0.1);
    EXPECT_EQ(frameAt(-3.0), 0);  // before the start: the first frame
    EXPECT_EQ(frameAt(0.2), -1);  // past the end: nothing left
    EXPECT_EQ(frameAt(1e300), -1);

    // Seeking clears the end; the no-start-time value keeps the position.
    r->seekToTime(0.04);
    EXPECT_FALSE(r->isEndOfStream());
    readOne(*r, true);
    r->seekToTime(qsVideoReader::NO_START_TIME);
    readOne(*r, true);
    EXPECT_DOUBLE_EQ(r->getCurrentTime(), 0.1);
    readOne(*r, true);
    EXPECT_TRUE(r->isEndOfStream());
    r->startFromBeginning();
    EXPECT_FALSE(r->isEndOfStream());
    readOne(*r, true);
    EXPECT_DOUBLE_EQ(r->getCurrentTime(), 0.0);

    EXPECT_THROW(r->seekToTime(std::nan("")), SeekFailedException);
    r->close();
    EXPECT_THROW(r->seekToTime(0.0), SeekFailedException);
    EXPECT_THROW(newReader()->startFromBeginning(), SeekFailedException);
}

TEST(Mj2kReader, FrameRateAtTheTimescaleOfOneFramePeriod) {
    MovieLayout layout = simpleMovie(16, 16, 1, 8, 3);
    layout.timescale = 30000;
    layout.durations = {1001, 1001, 1001};
    ReaderPtr r = openFile(writeTemp("ntsc.mj2", writeMovie(layout)));
    EXPECT_NEAR(r->getFrameRate(), 29.97002997, 1e-6);
    r->seekToTime(2 * 1001 / 30000.0);
    readOne(*r, true);
    EXPECT_DOUBLE_EQ(r->getCurrentTime(), 2 * 1001 / 30000.0);
}

// Signed samples have no unsigned sample type: the depth getters say so, the
// data type is outside the enumeration, and frames are failed reads.
TEST(Mj2kReader, UndeliverableDepthThrowsBitDepthFromTheGetters) {
    Picture p = makePicture(16, 16, 3, 7, 0);
    p.isSigned = true;
    for (auto& plane : p.planes)
        for (auto& v : plane) v -= 64;
    MovieLayout layout;
    layout.width = layout.height = 16;
    layout.samples = {encodeJ2k(p)};
    ReaderPtr r = openFile(writeTemp("signed.mj2", writeMovie(layout)));
    EXPECT_THROW(r->getBitsPerPixel(), BitDepthException);
    EXPECT_THROW(r->getVideoFormat(), BitDepthException);
    try {
        r->getVideoFormat();
    } catch (const VideoReaderException& e) {
        EXPECT_NE(std::string(e.what()).find("BitDepth"), std::string::npos);
    }
    EXPECT_GT(static_cast<std::uint32_t>(r->getVideoDataType()), 10u);
    EXPECT_EQ(r->getWidth(), 16u);
    EXPECT_NO_THROW(r->seekToTime(0.0));
    std::vector<std::uint8_t> buf(16 * 16 * 3 * 2, 0x11);
    r->readFrame(true, buf.data());
    EXPECT_EQ(r->getCurrentTime(), std::numeric_limits<double>::infinity());
    EXPECT_EQ(buf, std::vector<std::uint8_t>(buf.size(), 0x11));
}

// Subsampled chroma without a colour box is luma and chroma: converted, so a
// grey picture stays grey.
TEST(Mj2kReader, SubsampledChromaIsConvertedToRgb) {
    Picture p;
    p.width = 20;
    p.height = 10;
    p.chromaSubsampling = 2;
    p.planes.push_back(std::vector<std::int32_t>(20 * 10));
    for (std::size_t i = 0; i < p.planes[0].size(); ++i) p.planes[0][i] = static_cast<std::int32_t>(i % 200 + 20);
    p.planes.push_back(std::vector<std::int32_t>(10 * 5, 128));
    p.planes.push_back(std::vector<std::int32_t>(10 * 5, 128));
    MovieLayout layout;
    layout.width = 20;
    layout.height = 10;
    layout.colour = 0;
    layout.samples = {encodeJ2k(p)};
    ReaderPtr r = openFile(writeTemp("ycc.mj2", writeMovie(layout)));
    ASSERT_EQ(r->getNumColorChannels(), 3u);
    std::vector<std::uint8_t> got = readOne(*r, true);
    // Video range: luma 16 is black, 235 white.
    for (std::size_t i = 0; i < 200; ++i) {
        const double want = std::clamp((p.planes[0][i] - 16) * 255.0 / 219.0, 0.0, 255.0);
        for (int c = 0; c < 3; ++c) ASSERT_NEAR(got[i * 3 + c], want, 1.0) << "pixel " << i;
    }

    // Red in luma/chroma terms: Y 76, Cb 85, Cr 255 gives about (255, 0, 0).
    for (auto& v : p.planes[0]) v = 76;
    for (auto& v : p.planes[1]) v = 85;
    for (auto& v : p.planes[2]) v = 255;
    layout.samples = {encodeJ2k(p)};
    r = openFile(writeTemp("ycc-red.mj2", writeMovie(layout)));
    got = readOne(*r, false);
    EXPECT_GE(got[0], 250);                  // red plane
    EXPECT_LE(got[200], 3);                  // green plane
    EXPECT_LE(got[400], 3);                  // blue plane
}

// A later frame of another size is a failed read, with nothing written past
// (or into) the buffer the first frame's size asks for.
TEST(Mj2kReader, FrameOfAnotherSizeIsAFailedRead) {
    MovieLayout layout = simpleMovie(24, 12, 3, 8, 1);
    layout.samples.push_back(encodeJ2k(makePicture(48, 24, 3, 8, 1)));
    layout.samples.push_back(encodeJ2k(makePicture(24, 12, 1, 8, 2)));
    layout.samples.push_back(encodeJ2k(makePicture(24, 12, 3, 16, 3)));
    layout.samples.push_back(encodeJ2k(makePicture(24, 12, 3, 8, 4)));
    ReaderPtr r = openFile(writeTemp("sizes.mj2", writeMovie(layout)));
    readOne(*r, true);
    EXPECT_DOUBLE_EQ(r->getCurrentTime(), 0.0);
    for (int i = 1; i <= 3; ++i) {
        std::vector<std::uint8_t> got = readOne(*r, true);
        EXPECT_EQ(r->getCurrentTime(), std::numeric_limits<double>::infinity()) << "frame " << i;
        EXPECT_EQ(got, std::vector<std::uint8_t>(got.size(), 0xA5)) << "frame " << i;
        EXPECT_FALSE(r->isEndOfStream());
    }
    readOne(*r, true);  // reading goes on after a failed frame
    EXPECT_DOUBLE_EQ(r->getCurrentTime(), 0.16);
}

TEST(Mj2kReader, ReadingBeforeOpenOrAfterCloseIsAFailedRead) {
    std::vector<std::uint8_t> buf(64, 7);
    ReaderPtr r = newReader();
    r->readFrame(true, buf.data());
    EXPECT_EQ(r->getCurrentTime(), std::numeric_limits<double>::infinity());
    r = openFile(writeTemp("closed.mj2", writeMovie(simpleMovie(4, 4, 1, 8, 1))));
    r->close();
    r->readFrame(true, buf.data());
    EXPECT_EQ(r->getCurrentTime(), std::numeric_limits<double>::infinity());
    EXPECT_EQ(buf, std::vector<std::uint8_t>(64, 7));
    r->close();  // twice is harmless
}

// A file name outside ASCII is opened like any other.
TEST(Mj2kReader, OpensNonAsciiFileNames) {
    std::string path = writeTemp("caf\xC3\xA9-\xE6\x98\xA0\xE5\x83\x8F.mj2", writeMovie(simpleMovie(8, 8, 1, 8, 1)));
    std::u16string name = u16(path.substr(0, path.rfind('/') + 1)) + u"caf\u00e9-\u6620\u50cf.mj2";
    ReaderPtr r = newReader();
    EXPECT_NO_THROW(r->open(name, false));
    EXPECT_EQ(r->getWidth(), 8u);
}

}  // namespace
