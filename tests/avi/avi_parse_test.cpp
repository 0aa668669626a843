// Opening, the error table, header and stream-list parsing.
#include "avi_fixture.hpp"

#include <dirent.h>

#include <platform/services/i18n/i18n.hpp>

#include <climits>

using avi::File;
using namespace avi::errors;
using avitest::AviRecipe;

namespace {

std::string errorText(File& f, avi::errors::error_T code) {
    f.setError(code);
    return f.getErrorMsg();
}

}  // namespace

class AviParse : public AviFixture {};

TEST_F(AviParse, ErrorTableTextsAreExact) {
    File f;
    const std::pair<int, const char*> table[] = {
        {4, "Seek operation failed"},
        {5, "Fread operation failed"},
        {6, "Fwrite operation failed"},
        {7, "getFilePos operation failed"},
        {8, "setFilePos operation failed"},
        {9, "Number of frames reported in the AVI header does not match number of ##db chunks"},
        {10, "Corrupted file: audio chunks are missing"},
        {11, "Corrupted file: video chunks are missing"},
        {12, "Corrupted file: both audio and video chunks are missing"},
        {13, "Corrupted file: main AVI header information is missing"},
        {14, "Corrupted file: stream list is missing"},
        {15, "Encountered unexpected length of strl chunk"},
        {16, "Corrupted file: stream headers is missing"},
        {17, "Unable to read audio format header"},
        {18, "Unable to read video frame format header"},
        {19, "Unsupported bitmap header found"},
        {20, "Unsupported main header found"},
        {21, "Unsupported audio format header found"},
        {22, "Failed to read AVI colormap"},
        {23, "Cannot set colormap during read"},
        {24, "Colormap required to write this file"},
        {25, "Cannot over-write a non-empty colormap"},
        {26, "Colormap can only have maximum of 256 entries"},
        {27, "Out of memory"},
        {28, "AVI files with more than 8 streams are not supported"},
        {29, "Interleaved AVI files are not supported"},
        {30, "Unsupported audio stream.Audio must be 8 or 16 bits"},
        {31, "AVI files that require use of internal index are not supported"},
        {32, "Compressed video streams are not supported"},
        {33, "Compressed audio streams are not supported"},
        {34, "Unsupported read/write mode"},
        {35, "Invalid Legacy Index"},
        {36, "Error parsing the legacy index"},
        {37, "Unsupported AVI index type"},
        {38, "Invalid AVI index"},
        {39, "Invalid Index Offset Calculated"},
        {40, "Unsupported AVI file"},
        {41, "Invalid number of frames"},
        {42, "Invalid value for Bits Per Pixel"},
        {43, "WAVE files are only supported on Windows platforms."},
        {45, "Read attempted for a video that is not indexed"},
        {0, "Unknown error (0)"},
        {44, "Unknown error (2c)"},
        {46, "Unknown error (2e)"},
        {47, "Unknown error (2f)"},
        {300, "Unknown error (12c)"},
    };
    for (const auto& [code, text] : table) {
        EXPECT_EQ(errorText(f, static_cast<error_T>(code)), text) << code;
        EXPECT_EQ(f.getErrorCode(), code);
    }
    f.clearError();
    EXPECT_EQ(f.getErrorCode(), NO_ERROR);
    EXPECT_STREQ(f.getErrorMsg(), "");
}

TEST_F(AviParse, OpenModesAndMissingFiles) {
    const std::string path = save(rgb24(4, 2, 1));
    {
        File f;
        EXPECT_FALSE(f.open(path.c_str(), "x"));
        EXPECT_EQ(f.getErrorCode(), UNSUPPORTED_MODE);
        EXPECT_STREQ(f.getErrorMsg(), "Unsupported read/write mode");
    }
    {
        File f;
        EXPECT_TRUE(f.open(path.c_str(), "rb"));
        EXPECT_EQ(f.getErrorCode(), NO_ERROR);
        EXPECT_EQ(f.getVideoTotalFrames(), 1u);
    }
    {
        File f;
        const std::string missing = dir.file("caf\xc3\xa9-missing.avi");
        EXPECT_FALSE(f.open(missing.c_str(), "r"));
        EXPECT_EQ(f.getErrorCode(), OPEN_FAILED);
        EXPECT_EQ(std::string(f.getErrorMsg()), "Unable to open AVI file ('" + missing + "')");
    }
    {
        // A UTF-16 name reaches the file system as UTF-8.
        const std::string utf8 = dir.file("\xc3\xa9t\xc3\xa9.avi");
        avitest::writeFile(utf8, avitest::readFile(path));
        std::u16string name = vq::filesystem::codecvt_narrow_string_to_ustring(true).do_convert(utf8.data(), utf8.size());
        File f;
        EXPECT_TRUE(f.openToGetInformation(name));
        EXPECT_EQ(f.getVideoWidth(), 4u);
        f.close();
        f.close();  // a second close does nothing
    }
    {
        File f;
        EXPECT_FALSE(f.open(dir.file("no/such/dir/x.avi").c_str(), "w"));
        EXPECT_EQ(f.getErrorCode(), OPEN_FAILED);
    }
}

TEST_F(AviParse, RiffAndFormErrors) {
    auto code = [&](const std::string& bytes) {
        File f;
        EXPECT_FALSE(f.openToGetInformation(save(bytes).c_str()));
        return f.getErrorCode();
    };
    std::string good = avitest::buildAvi(rgb24(4, 2, 1)).bytes;
    EXPECT_EQ(code(good.substr(0, 11)), FREAD_FAILED);
    EXPECT_EQ(code(""), FREAD_FAILED);
    std::string notRiff = good;
    notRiff.replace(0, 4, "RIFX");
    EXPECT_EQ(code(notRiff), RIFF_CHUNK_MISSING);
    std::string wave = good;
    wave.replace(8, 4, "WAVE");
    EXPECT_EQ(code(wave), WAVE_FILE);
    std::string other = good;
    other.replace(8, 4, "AVIX");
    EXPECT_EQ(code(other), AVI_CHUNK_MISSING);
    File f;
    f.openToGetInformation(save(other).c_str());
    EXPECT_EQ(std::string(f.getErrorMsg()), "'" + dir.file("t.avi") + "' is not a valid AVI file (AVI chunk is missing)");
    // no hdrl list at all: the main header is missing
    std::string noHdrl = good;
    noHdrl.replace(kHdrl + 8, 4, "xxxx");
    EXPECT_EQ(code(noHdrl), MAIN_HEADER_MISSING);
    std::string noAvih = good;
    noAvih.replace(24, 4, "hvai");
    EXPECT_EQ(code(noAvih), MAIN_HEADER_MISSING);
}

TEST_F(AviParse, MainHeaderAndStreamCountLimits) {
    std::string bytes = avitest::buildAvi(rgb24(4, 2, 1)).bytes;
    {
        std::string big = bytes;
        growChunk(big, 24, std::string(2, '\0'), 58, {kHdrl, kRiff});
        File f;
        EXPECT_FALSE(f.openToGetInformation(save(big).c_str()));
        EXPECT_EQ(f.getErrorCode(), UNSUPPORTED_MAIN_HEADER);
    }
    {
        // A short avih leaves the uncovered fields at 0 (streams too: nothing more is read).
        AviRecipe s = rgb24(4, 2, 1);
        std::string shortAvih = avitest::buildAvi(s).bytes;
        File f;
        avitest::put32(shortAvih, 28, 24);  // only up to streams
        EXPECT_TRUE(f.openToGetInformation(save(shortAvih).c_str()));
    }
    for (int streams : {8, 9}) {
        AviRecipe s = rgb24(4, 2, 1);
        s.streamsField = streams;
        File f;
        const bool ok = f.openToGetInformation(save(s).c_str());
        if (streams == 9) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(f.getErrorCode(), TOO_MANY_STREAMS);
            EXPECT_STREQ(f.getErrorMsg(), "AVI files with more than 8 streams are not supported");
        } else {
            // the second list is missing where the count expects one
            EXPECT_FALSE(ok);
            EXPECT_EQ(f.getErrorCode(), STREAM_LIST_MISSING);
        }
    }
}

TEST_F(AviParse, StreamHeaderLengthsAndFrameRectangle) {
    const std::string base = avitest::buildAvi(rgb24(4, 2, 1)).bytes;
    {
        std::string s64 = base;
        // rectangle as 4 x u32: 1, 2, 3, 4 (the builder wrote 4 x u16)
        s64.replace(kFirstStrh + 8 + 48, 8, avitest::u32(1) + avitest::u32(2));
        growChunk(s64, kFirstStrh, avitest::u32(3) + avitest::u32(4), 64, {kFirstStrl, kHdrl, kRiff});
        File f;
        EXPECT_TRUE(f.openToGetInformation(save(s64).c_str()));
        EXPECT_EQ(f.getVideoWidth(), 4u);
        EXPECT_EQ(f.getVideoStreamRate(), 25u);
    }
    {
        std::string s65 = base;
        growChunk(s65, kFirstStrh, std::string(10, '\0'), 65, {kFirstStrl, kHdrl, kRiff});
        File f;
        EXPECT_FALSE(f.openToGetInformation(save(s65).c_str()));
        EXPECT_EQ(f.getErrorCode(), BAD_STRH_LENGTH);
    }
}

TEST_F(AviParse, SubChunksRunningPastTheirListAreCut) {
    // strf claims far more than its list holds: the palette is what is there.
    AviRecipe s = rgb24(4, 2, 1);
    s.bits = 8;
    s.frames = {std::string(8, '\1')};
    s.palette = std::string(8, '\x7f');
    avitest::Built b = avitest::buildAvi(s);
    avitest::put32(b.bytes, b.strfVideoPos + 4, 0x7FFFFFF0u);
    File f;
    EXPECT_TRUE(f.openToGetInformation(save(b.bytes).c_str()));
    EXPECT_EQ(f.getColormap().size(), 2u);
    // A strl list larger than the file is refused before anything is allocated.
    std::string huge = avitest::buildAvi(rgb24(4, 2, 1)).bytes;
    avitest::put32(huge, kFirstStrl + 4, 0xFFFFFFF0u);
    File g;
    EXPECT_FALSE(g.openToGetInformation(save(huge, "h.avi").c_str()));
    EXPECT_EQ(g.getErrorCode(), FREAD_FAILED);
}

TEST_F(AviParse, BitmapHeaderChecks) {
    AviRecipe s = rgb24(4, 2, 1);
    avitest::Built b = avitest::buildAvi(s);
    {
        std::string bad = b.bytes;
        avitest::put32(bad, b.strfVideoPos + 8, 44);
        File f;
        EXPECT_FALSE(f.openToGetInformation(save(bad).c_str()));
        EXPECT_EQ(f.getErrorCode(), UNSUPPORTED_BITMAP_HEADER);
    }
    // Geometry that cannot be a picture of 32-bit size is refused the same way.
    for (std::int32_t w : {-4, 0x7FFFFFFF}) {
        std::string bad = b.bytes;
        avitest::put32(bad, b.strfVideoPos + 12, static_cast<std::uint32_t>(w));
        File f;
        EXPECT_FALSE(f.openToGetInformation(save(bad).c_str())) << w;
        EXPECT_EQ(f.getErrorCode(), UNSUPPORTED_BITMAP_HEADER);
    }
    {
        std::string bad = b.bytes;
        avitest::put32(bad, b.strfVideoPos + 16, static_cast<std::uint32_t>(INT_MIN));
        File f;
        EXPECT_FALSE(f.open(save(bad).c_str(), "r"));
        EXPECT_EQ(f.getErrorCode(), UNSUPPORTED_BITMAP_HEADER);
    }
    {
        AviRecipe td = rgb24(3, -240, 1);
        File f;
        EXPECT_TRUE(f.open(save(td).c_str(), "r"));
        EXPECT_EQ(f.getVideoHeight(), 240u);
    }
}

TEST_F(AviParse, AccessorsDescribeStreams) {
    AviRecipe s = rgb24(6, 3, 2);
    s.rate = 30000;
    s.scale = 1001;
    s.hasAudio = true;
    s.channels = 2;
    s.bitsPerSample = 16;
    s.sampleRate = 44100;
    s.audioChunks = {std::string(400, '\x10'), std::string(400, '\x20')};
    File f;
    ASSERT_TRUE(f.open(save(s).c_str(), "r"));
    EXPECT_TRUE(f.hasVideo());
    EXPECT_TRUE(f.hasAudio());
    EXPECT_EQ(f.getVideoWidth(), 6u);
    EXPECT_EQ(f.getVideoHeight(), 3u);
    EXPECT_EQ(f.getVideoBitsPerPixel(), 24);
    EXPECT_FALSE(f.isVideoCompressed());
    EXPECT_EQ(f.getVideoFourCC(), "");
    EXPECT_DOUBLE_EQ(f.getVideoFrameRate(), 30000.0 / 1001.0);
    EXPECT_EQ(f.getVideoTotalFrames(), 2u);
    EXPECT_EQ(f.getAudioSampleRate(), 44100u);
    EXPECT_EQ(f.getAudioBitsPerSample(), 16);
    EXPECT_EQ(f.getAudioNumberOfChannels(), 2);
    EXPECT_FALSE(f.isAudioCompressed());
    EXPECT_EQ(f.getAudioChunkSize(), 400u);
    EXPECT_EQ(f.getAudioTotalBytes(), 800u);
    EXPECT_EQ(f.getRGB24VideoFrameSize(), 3u * 20u);
    EXPECT_EQ(f.getVideoIndexSource(), avi::IndexSource::Legacy);
    EXPECT_EQ(f.getAudioIndexSource(), avi::IndexSource::Legacy);
}

TEST_F(AviParse, CompressionAndFourCC) {
    for (std::uint32_t c : {1u, 2u, 3u}) {
        AviRecipe s = rgb24(4, 2, 1);
        s.compression = c;
        File f;
        ASSERT_TRUE(f.open(save(s).c_str(), "r"));
        EXPECT_TRUE(f.isVideoCompressed()) << c;
    }
    AviRecipe s = rgb24(4, 2, 1);
    s.compression = avitest::get32("MJPG", 0);
    s.videoTag = "dc";
    File f;
    ASSERT_TRUE(f.open(save(s).c_str(), "r"));
    EXPECT_EQ(f.getVideoFourCC(), "MJPG");
}

TEST_F(AviParse, DefaultPalettes) {
    auto paletteOf = [&](std::uint16_t bits, const std::string& palette) {
        AviRecipe s = rgb24(8, 1, 1);
        s.bits = bits;
        s.palette = palette;
        s.frames = {std::string(8, '\0')};
        File f;
        EXPECT_TRUE(f.open(save(s).c_str(), "r"));
        return f.getColormap();
    };
    auto grey = paletteOf(8, "");
    ASSERT_EQ(grey.size(), 256u);
    EXPECT_EQ(grey[255].red, 255);
    EXPECT_EQ(grey[17].blue, 17);
    EXPECT_EQ(grey[17].reserved, 0);
    auto four = paletteOf(4, "");
    ASSERT_EQ(four.size(), 16u);
    EXPECT_EQ(four[15].green, 15);
    EXPECT_TRUE(paletteOf(1, "").empty());
    auto full = paletteOf(8, avitest::pattern(1024, 3));
    ASSERT_EQ(full.size(), 256u);
    EXPECT_EQ(full[1].blue, static_cast<std::uint8_t>(avitest::pattern(1024, 3)[4]));
    EXPECT_EQ(paletteOf(8, std::string(6, '\1')).size(), 1u);  // whole entries only
}

TEST_F(AviParse, StreamSelection) {
    {
        // video, audio, then a text stream that is never read
        AviRecipe s = rgb24(4, 2, 2);
        s.hasAudio = true;
        s.audioChunks = {std::string(16, '\1')};
        s.textStream = true;
        File f;
        ASSERT_TRUE(f.open(save(s).c_str(), "r"));
        EXPECT_TRUE(f.hasAudio());
        EXPECT_TRUE(f.hasVideo());
    }
    {
        // audio first: audio is stream 0 and video stream 1 (chunk ids 00wb, 01db)
        AviRecipe s = rgb24(4, 2, 2);
        s.hasAudio = true;
        s.audioFirst = true;
        s.audioChunks = {std::string(16, '\1'), std::string(16, '\2')};
        File f;
        ASSERT_TRUE(f.open(save(s).c_str(), "r"));
        EXPECT_EQ(f.getVideoTotalFrames(), 2u);
        std::vector<char> buf(32);
        f.readAudio(buf.data(), 32);
        EXPECT_EQ(buf[0], 1);
        EXPECT_EQ(buf[31], 2);
    }
}

TEST_F(AviParse, SupportChecksOnlyOnOpen) {
    AviRecipe s = rgb24(4, 2, 1);
    s.hasAudio = true;
    s.bitsPerSample = 24;
    s.channels = 1;
    s.audioChunks = {std::string(30, '\1')};
    const std::string path = save(s);
    {
        File f;
        EXPECT_TRUE(f.open(path.c_str(), "r"));
        EXPECT_EQ(f.getErrorCode(), UNSUPPORTED_AUDIO_BITS);
    }
    {
        File f;
        EXPECT_TRUE(f.openToGetInformation(path.c_str()));
    }
    AviRecipe m = rgb24(4, 2, 1);
    m.avihFlags = 0x30;
    const std::string mustUse = save(m, "m.avi");
    {
        File f;
        EXPECT_TRUE(f.open(mustUse.c_str(), "r"));
        EXPECT_EQ(f.getErrorCode(), INTERNAL_INDEX_REQUIRED);
    }
    {
        File f;
        EXPECT_TRUE(f.openToGetInformation(mustUse.c_str()));
        EXPECT_EQ(f.getErrorCode(), NO_ERROR);
    }
}

TEST_F(AviParse, FrameCountPlausibility) {
    AviRecipe s = rgb24(4, 2, 1);
    s.totalFramesField = 1000;
    File f;
    ASSERT_TRUE(f.openToGetInformation(save(s).c_str()));
    // with no index loaded the header's count stands, and is too large for the file
    f.errorIfWrongNumFrameForRGB24();
    EXPECT_EQ(f.getErrorCode(), NO_ERROR);  // the idx1 already fixed the count to 1
    AviRecipe n = rgb24(4, 2, 1);
    n.index = avitest::Index::None;
    n.totalFramesField = 1000;
    File g;
    ASSERT_TRUE(g.openToGetInformation(save(n, "n.avi").c_str()));
    EXPECT_EQ(g.getVideoTotalFrames(), 1000u);
    g.errorIfWrongNumFrameForRGB24();
    EXPECT_EQ(g.getErrorCode(), INVALID_FRAME_COUNT);
}

TEST_F(AviParse, FrameCountPlausibilityOfOpenDMLFiles) {
    // 2048 x 2048 x 3 x 1024 is 3 x 2^32: counted in 32 bits it would be 0.
    AviRecipe big = rgb24(2048, 2048, 0);
    big.index = avitest::Index::None;
    big.totalFramesField = 1024;
    File f;
    ASSERT_TRUE(f.openToGetInformation(save(big).c_str()));
    f.errorIfWrongNumFrameForRGB24();
    EXPECT_EQ(f.getErrorCode(), INVALID_FRAME_COUNT);

    // Four 64 x 64 frames, three of them in an "AVIX" RIFF chunk after the first.
    AviRecipe s = rgb24(64, 64, 1);
    s.index = avitest::Index::None;
    s.totalFramesField = 4;
    std::string bytes = avitest::buildAvi(s).bytes;
    std::string movi;
    for (int i = 0; i < 3; ++i) movi += avitest::chunk("00db", avitest::pattern(64 * 64 * 3, i));
    bytes += "RIFF" + avitest::u32(static_cast<std::uint32_t>(4 + 12 + movi.size())) + "AVIX" +
             avitest::list("movi", movi);
    File g;
    ASSERT_TRUE(g.openToGetInformation(save(bytes, "two-riff.avi").c_str()));
    g.errorIfWrongNumFrameForRGB24();
    EXPECT_EQ(g.getErrorCode(), NO_ERROR);
}

TEST_F(AviParse, OpeningAgainStartsFromScratch) {
    auto openFds = [] {
        int n = 0;
        if (DIR* d = ::opendir("/proc/self/fd")) {
            while (::readdir(d)) ++n;
            ::closedir(d);
        }
        return n;
    };
    AviRecipe big = rgb24(8, -4, 2);  // top-down, larger frames
    big.hasAudio = true;
    big.audioChunks = {"abcdefgh"};
    const std::string first = save(big, "first.avi");
    const std::string second = save(rgb24(4, 2, 3), "second.avi");
    std::string fresh(64, '\0'), reopened(64, '\0');
    {
        File f;
        ASSERT_TRUE(f.open(second.c_str(), "r"));
        f.readRGB24VideoFrame(fresh.data());
    }
    const int fdsBefore = openFds();
    File f;
    ASSERT_TRUE(f.open(first.c_str(), "r"));
    std::string buf(f.getRGB24VideoFrameSize(), '\0');
    f.readRGB24VideoFrame(buf.data());
    ASSERT_TRUE(f.open(second.c_str(), "r"));  // no close in between
    EXPECT_FALSE(f.hasAudio());
    EXPECT_EQ(f.getVideoTotalFrames(), 3u);
    EXPECT_EQ(f.getVideoFramesRead(), 0u);
    f.readRGB24VideoFrame(reopened.data());
    EXPECT_EQ(reopened, fresh);
    f.close();
    EXPECT_EQ(openFds(), fdsBefore);

    // A failed open leaves nothing behind for the next one.
    EXPECT_FALSE(f.open(second.c_str(), "x"));
    EXPECT_EQ(f.getErrorCode(), UNSUPPORTED_MODE);
    EXPECT_TRUE(f.open(second.c_str(), "r"));
    EXPECT_EQ(f.getErrorCode(), NO_ERROR);
    EXPECT_FALSE(f.openToGetInformation(dir.file("missing.avi").c_str()));
    EXPECT_TRUE(f.openToGetInformation(first.c_str()));
    EXPECT_EQ(f.getErrorCode(), NO_ERROR);
    f.close();
    f.close();  // closing twice is harmless
    EXPECT_EQ(f.getErrorCode(), NO_ERROR);
}
