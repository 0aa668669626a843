// Failures: files the reader refuses (each with its exception type), and
// frames it cannot decode, which are marked with an infinite time while the
// process and the reading go on.

#include "mjpegfixtures.hpp"

#include <platform/services/i18n/i18n.hpp>
#include <platform/decoders/mjpegavidecoder/mjpegavidecoder.hpp>
#include <videoreader/videoreaderexceptions.hpp>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>

using namespace mjpegtest;

namespace {

std::unique_ptr<qsVideoReader::IVideoReader> newReader() {
    return std::unique_ptr<qsVideoReader::IVideoReader>(qsVideoReader::createMjpegAviReaderInstance());
}

std::string written(const std::string& name, const Bytes& bytes) {
    const std::string path = scratchPath(name);
    writeFile(path, bytes);
    return path;
}

AviRecipe jpegRecipe(int frames) {
    AviRecipe recipe;
    recipe.width = 32;
    recipe.height = 16;
    for (int i = 0; i < frames; ++i) {
        recipe.frames.push_back(encodeJpeg(testPicture(32, 16, i), 32, 16));
    }
    return recipe;
}

template <typename Expected>
void expectOpenThrows(const std::string& path) {
    auto reader = newReader();
    try {
        reader->open(vq::i18n::to_ustring(path.c_str()), false);
        ADD_FAILURE() << path << " opened";
    } catch (const Expected& e) {
        EXPECT_NE(std::string(e.what()), "");
    } catch (const std::exception& e) {
        ADD_FAILURE() << path << ": wrong exception: " << e.what();
    }
    // A reader whose open failed describes no video.
    EXPECT_EQ(reader->getWidth(), 0u);
    EXPECT_EQ(reader->getHeight(), 0u);
    EXPECT_EQ(reader->getBitsPerPixel(), 0u);
    EXPECT_EQ(reader->getVideoFormat(), u"");
    EXPECT_FALSE(reader->hasVideo());
}

TEST(MjpegOpenFailures, EachRefusalHasItsType) {
    expectOpenThrows<qsVideoReader::FileNotFoundException>(scratchPath("no-such-file.avi"));
    expectOpenThrows<qsVideoReader::FileNotFoundException>("");
    expectOpenThrows<qsVideoReader::InitializationFailedException>(
        written("text.avi", Bytes{'n', 'o', 't', ' ', 'a', 'n', ' ', 'A', 'V', 'I', '\n', 0, 0, 0}));
    expectOpenThrows<qsVideoReader::InitializationFailedException>(written("empty.avi", Bytes{}));

    AviRecipe audioOnly;
    audioOnly.video = false;
    audioOnly.audio = true;
    audioOnly.audioChunks = {Bytes(800, 1), Bytes(800, 2)};
    expectOpenThrows<qsVideoReader::NoVideoException>(written("audio-only.avi", buildAvi(audioOnly)));

    AviRecipe otherCodec = jpegRecipe(2);
    otherCodec.fourCC = "XVID";
    expectOpenThrows<qsVideoReader::UnknownCodecException>(written("xvid.avi", buildAvi(otherCodec)));

    AviRecipe fourBit;
    fourBit.fourCC = "";
    fourBit.bitCount = 4;
    fourBit.frames = {Bytes(16 * 8 / 2, 0)};
    expectOpenThrows<qsVideoReader::UnknownCodecException>(written("4bit.avi", buildAvi(fourBit)));

    AviRecipe noSize = jpegRecipe(1);
    noSize.width = 0;
    expectOpenThrows<qsVideoReader::FileCorruptException>(written("no-size.avi", buildAvi(noSize)));

    AviRecipe huge = jpegRecipe(1);
    huge.width = 70000;
    expectOpenThrows<qsVideoReader::FileCorruptException>(written("huge.avi", buildAvi(huge)));
}

// An 8-bit frame whose chunk is longer than the bitmap header implies must
// not make the in-place conversion run outside its buffer: the file is
// either refused as corrupt or read from the picture's own bytes.
TEST(MjpegOpenFailures, OverlongUncompressedChunkIsRefusedOrReadInBounds) {
    AviRecipe recipe;
    recipe.fourCC = "";
    recipe.bitCount = 8;
    recipe.width = 16;
    recipe.height = 8;
    for (int i = 0; i < 256; ++i) {
        recipe.palette.insert(recipe.palette.end(), {std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), 0});
    }
    Bytes stored(16 * 8 + 64, 0xEE);
    for (std::size_t i = 0; i < 16 * 8; ++i) {
        stored[i] = static_cast<std::uint8_t>(i);
    }
    recipe.frames = {stored};
    const std::string path = written("long-8bit.avi", buildAvi(recipe));
    std::unique_ptr<qsVideoReader::IVideoReader> reader;
    try {
        reader = openReader(path);
    } catch (const qsVideoReader::FileCorruptException&) {
        return;
    }
    reader->startFromBeginning();
    const Frames frames = readAll(*reader);
    ASSERT_EQ(frames.pixels.size(), 1u);
    ASSERT_TRUE(std::isfinite(frames.times[0]));
    // Top row first: the last stored row holds indexes 112 to 127.
    EXPECT_EQ(frames.pixels[0][0], 112);
    EXPECT_EQ(frames.pixels[0][3 * (16 * 8) - 1], 15);
}

TEST(MjpegOpenFailures, EveryTypeIsAReaderException) {
    auto reader = newReader();
    EXPECT_THROW(reader->open(u"/no/such/dir/file.avi", false), qsVideoReader::VideoReaderException);
    EXPECT_THROW(reader->open(u"/no/such/dir/file.avi", false), std::runtime_error);
}

TEST(MjpegOpenFailures, AFailedOpenForgetsTheFileOpenedBefore) {
    auto reader = openReader(written("good.avi", buildAvi(jpegRecipe(2))));
    EXPECT_EQ(reader->getWidth(), 32u);
    EXPECT_THROW(reader->open(u"/no/such/file.avi", true), qsVideoReader::FileNotFoundException);
    EXPECT_EQ(reader->getWidth(), 0u);
    EXPECT_EQ(reader->getDuration(), -1.0);
    Bytes frame(32 * 16 * 3);
    reader->readFrame(true, frame.data());
    EXPECT_TRUE(reader->isEndOfStream());
}

TEST(MjpegOpenFailures, ReopeningDescribesTheNewFile) {
    AviRecipe small = jpegRecipe(2);
    auto reader = openReader(written("first.avi", buildAvi(small)));
    reader->seekToTime(0.04);
    const PeerFile other = ffmpegFile(35, 19, 8, 24, false);
    reader->open(vq::i18n::to_ustring(other.path.c_str()), true);
    EXPECT_TRUE(reader->getOpenFlag());
    EXPECT_EQ(reader->getWidth(), 35u);
    EXPECT_EQ(reader->getHeight(), 19u);
    EXPECT_EQ(reader->getCurrentTime(), 0.0);
    reader->startFromBeginning();
    EXPECT_EQ(readAll(*reader).pixels.size(), 8u);
}

// ---- frames that fail ----

// Reads frames 0..count-1 and answers their times.
std::vector<double> timesOf(qsVideoReader::IVideoReader& reader, std::vector<Bytes>* frames = nullptr) {
    reader.startFromBeginning();
    const Frames all = readAll(reader);
    if (frames != nullptr) {
        *frames = all.pixels;
    }
    return all.times;
}

TEST(MjpegBadFrames, UndecodableFrameIsMarkedAndReadingGoesOn) {
    AviRecipe recipe = jpegRecipe(4);
    recipe.frames[1] = Bytes(recipe.frames[1].size(), 0);        // no JPEG at all
    recipe.frames[2].resize(10);                                // cut in its header
    auto reader = openReader(written("bad-frames.avi", buildAvi(recipe)));
    std::vector<Bytes> frames;
    const std::vector<double> times = timesOf(*reader, &frames);
    ASSERT_EQ(times.size(), 4u);
    EXPECT_EQ(times[0], 0.0);
    EXPECT_TRUE(std::isinf(times[1]) && times[1] > 0);
    EXPECT_TRUE(std::isinf(times[2]) && times[2] > 0);
    EXPECT_DOUBLE_EQ(times[3], 0.12);
    int w = 0, h = 0;
    EXPECT_TRUE(frames[3] == libjpegDecode(recipe.frames[3], w, h)) << "the decoder recovered";
    // Seeking to the bad frame marks it again; the good one before it reads.
    reader->seekToTime(0.04);
    readOne(*reader);
    EXPECT_TRUE(std::isinf(reader->getCurrentTime()));
    reader->seekToTime(0.0);
    EXPECT_TRUE(readOne(*reader) == frames[0]);
    EXPECT_EQ(reader->getCurrentTime(), 0.0);
}

TEST(MjpegBadFrames, FrameOfAnotherSizeIsMarked) {
    AviRecipe recipe = jpegRecipe(3);
    recipe.frames[1] = encodeJpeg(testPicture(16, 16, 1), 16, 16);
    auto reader = openReader(written("other-size.avi", buildAvi(recipe)));
    const std::vector<double> times = timesOf(*reader);
    ASSERT_EQ(times.size(), 3u);
    EXPECT_TRUE(std::isinf(times[1]));
    EXPECT_DOUBLE_EQ(times[2], 0.08);
}

TEST(MjpegBadFrames, PeerFileWithADamagedChunkKeepsItsOtherFrames) {
    const PeerFile file = gstreamerFile(64, 48, 6, 25, false);
    Bytes bytes = readFile(file.path);
    const auto chunks = videoChunks(bytes);
    ASSERT_EQ(chunks.size(), 6u);
    const Bytes good = chunkData(bytes, chunks[4]);
    // Overwrite frame 3 from its start of frame marker on.
    std::fill(bytes.begin() + chunks[3].offset, bytes.begin() + chunks[3].offset + chunks[3].size, 0xFF);
    auto reader = openReader(written("damaged-gst.avi", bytes));
    std::vector<Bytes> frames;
    const std::vector<double> times = timesOf(*reader, &frames);
    ASSERT_EQ(times.size(), 6u);
    EXPECT_TRUE(std::isinf(times[3]));
    int w = 0, h = 0;
    EXPECT_TRUE(frames[4] == libjpegDecode(good, w, h));
}

// A frame cut short in its scan data is still delivered (libjpeg fills what
// is missing, as peers do); libjpeg's warning is not printed but handed on.
TEST(MjpegBadFrames, TruncatedScanIsDeliveredWithoutPrinting) {
    AviRecipe recipe = jpegRecipe(2);
    Bytes& frame = recipe.frames[0];
    std::size_t scan = 0;
    while (scan + 1 < frame.size() && !(frame[scan] == 0xFF && frame[scan + 1] == 0xDA)) {
        ++scan;
    }
    ASSERT_LT(scan + 1, frame.size());
    frame.resize(scan + (frame.size() - scan) / 2);
    const std::string path = written("truncated-scan.avi", buildAvi(recipe));

    const std::string errPath = scratchPath("stderr.txt");
    std::fflush(stderr);
    const int saved = ::dup(2);
    const int capture = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(capture, 2);
    std::vector<double> times;
    {
        auto reader = openReader(path);
        times = timesOf(*reader);
    }
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    ::close(capture);
    ASSERT_EQ(times.size(), 2u);
    EXPECT_EQ(times[0], 0.0);
    EXPECT_EQ(times[1], 0.04);
    EXPECT_TRUE(readFile(errPath).empty()) << std::string(readFile(errPath).begin(), readFile(errPath).end());
    // What libjpeg said reaches the caller as a warning instead.
    auto reader = openReader(path);
    readOne(*reader);
    const auto taken = dynamic_cast<qsVideoReader::IReaderWarnings&>(*reader).takeWarnings();
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_NE(taken[0].text.find("frame 0 "), std::string::npos) << taken[0].text;
}

// A frame with 4 KB of garbage in its entropy data: libjpeg decodes it with
// warnings (and meets a broken marker after its last row, where djpeg stops).
// It is delivered as djpeg decodes it, and a warning names the frame and
// what libjpeg said; every other frame is djpeg's decode of its chunk.
TEST(MjpegBadFrames, CorruptFrameIsDeliveredWithAWarning) {
    if (!testsupport::haveTool("djpeg")) GTEST_SKIP() << "djpeg not installed";
    const PeerFile file = ffmpegFile(160, 120, 8, 25, false);
    Bytes bytes = readFile(file.path);
    const auto chunks = videoChunks(bytes);
    ASSERT_EQ(chunks.size(), 8u);
    const Chunk& victim = chunks[3];
    ASSERT_GT(victim.size, 5000u);
    std::uint32_t seed = 3;
    for (std::size_t k = 0; k < 4096; ++k) {
        seed = seed * 1103515245u + 12345u;
        bytes[victim.offset + victim.size / 2 - 2048 + k] = static_cast<std::uint8_t>(seed >> 16);
    }
    auto reader = openReader(written("corrupt-frame.avi", bytes));
    auto* warnings = dynamic_cast<qsVideoReader::IReaderWarnings*>(reader.get());
    ASSERT_NE(warnings, nullptr);
    EXPECT_TRUE(warnings->takeWarnings().empty());
    std::vector<Bytes> frames;
    const std::vector<double> times = timesOf(*reader, &frames);
    ASSERT_EQ(times.size(), 8u);
    for (std::size_t k = 0; k < 8; ++k) {
        EXPECT_DOUBLE_EQ(times[k], 0.04 * static_cast<double>(k));
        std::string said;
        const Bytes theirs = djpegDecode(chunkData(bytes, chunks[k]), &said);
        EXPECT_TRUE(frames[k] == theirs) << "frame " << k;
        EXPECT_EQ(said.empty(), k != 3) << said;
        if (k != 3) continue;
        const auto taken = warnings->takeWarnings();
        ASSERT_EQ(taken.size(), 1u);
        EXPECT_EQ(taken[0].kind, "CorruptFrame");
        EXPECT_NE(taken[0].text.find("frame 3 "), std::string::npos) << taken[0].text;
        // Each line djpeg printed is in the warning, libjpeg's words.
        std::size_t from = 0;
        for (std::size_t end; (end = said.find('\n', from)) != std::string::npos; from = end + 1)
            EXPECT_NE(taken[0].text.find(said.substr(from, end - from)), std::string::npos) << taken[0].text;
    }
    EXPECT_TRUE(warnings->takeWarnings().empty()) << "taken once";
}

TEST(MjpegBadFrames, NullDestinationIsAFailedRead) {
    auto reader = openReader(written("null-dest.avi", buildAvi(jpegRecipe(2))));
    reader->startFromBeginning();
    reader->readFrame(true, nullptr);
    EXPECT_TRUE(std::isinf(reader->getCurrentTime()));
    EXPECT_FALSE(reader->isEndOfStream());
    readOne(*reader);
    EXPECT_EQ(reader->getCurrentTime(), 0.04);
}

TEST(MjpegBadFrames, ClosedReaderReadsNothing) {
    auto reader = openReader(written("closed.avi", buildAvi(jpegRecipe(2))));
    reader->startFromBeginning();
    readOne(*reader);
    reader->close();
    Bytes frame(32 * 16 * 3, 7);
    reader->readFrame(true, frame.data());
    EXPECT_TRUE(reader->isEndOfStream());
    EXPECT_TRUE(frame == Bytes(frame.size(), 7));
    reader->close();  // twice is harmless
}

TEST(MjpegReaderState, FreshReaderDescribesNothing) {
    auto reader = newReader();
    EXPECT_EQ(reader->getWidth(), 0u);
    EXPECT_EQ(reader->getHeight(), 0u);
    EXPECT_EQ(reader->getFrameRate(), 0.0);
    EXPECT_EQ(reader->getDuration(), -1.0);
    EXPECT_EQ(reader->getBitsPerPixel(), 0u);
    EXPECT_EQ(reader->getNumColorChannels(), 0u);
    EXPECT_EQ(reader->getVideoCodec(), u"");
    EXPECT_FALSE(reader->hasAudio());
    EXPECT_FALSE(reader->hasVideo());
    EXPECT_EQ(reader->getCurrentTime(), 0.0);
    EXPECT_FALSE(reader->isEndOfStream());
    reader->close();
}

}  // namespace
