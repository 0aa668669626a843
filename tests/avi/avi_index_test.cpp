// Index loading: idx1 (both offset bases), OpenDML super and standard
// indexes, the movi walk, and indexes that lie about their sizes.
#include "avi_fixture.hpp"

#include <boost/numeric/conversion/cast.hpp>

#include <cstdio>

using avi::File;
using avi::IndexSource;
using namespace avi::errors;
using avitest::AviRecipe;
using avitest::Index;

class AviIndex : public AviFixture {
protected:
    // Frame k read raw, as a string.
    static std::string frame(File& f, long k) {
        std::string buf(f.getRGB24VideoFrameSize(), '\xee');
        f.readVideoFrame(buf.data(), k);
        return buf;
    }
    static std::string appendChunk(std::string file, const std::string& c) {
        file += c;
        avitest::put32(file, 4, static_cast<std::uint32_t>(file.size() - 8));
        return file;
    }
};

TEST_F(AviIndex, LegacyIndexSizes) {
    AviRecipe s = rgb24(4, 2, 3);
    avitest::Built b = avitest::buildAvi(s);
    auto withSize = [&](std::uint32_t size) {
        std::string bytes = b.bytes;
        avitest::put32(bytes, b.idx1Pos + 4, size);
        File f;
        const bool ok = f.openToGetInformation(save(bytes).c_str());
        return std::make_pair(ok ? -1 : static_cast<int>(f.getErrorCode()), f.getVideoTotalFrames());
    };
    EXPECT_EQ(withSize(14).first, INVALID_LEGACY_INDEX);
    EXPECT_EQ(withSize(0).first, INVALID_LEGACY_INDEX);
    EXPECT_EQ(withSize(15), std::make_pair(-1, 1u));
    EXPECT_EQ(withSize(40), std::make_pair(-1, 2u));
    EXPECT_EQ(withSize(48), std::make_pair(-1, 3u));
    // A size beyond the file: the entries that are there, then code 36.
    EXPECT_EQ(withSize(16 * 1000).first, LEGACY_INDEX_PARSE_ERROR);
}

TEST_F(AviIndex, LegacyVideoSizeWithBit31IsNoSize) {
    // idx1 has no key-frame mark in its sizes: bit 31 set is no size at all,
    // the largest size without it is a size like any other.
    avitest::Built b = avitest::buildAvi(rgb24(4, 2, 3));
    auto withSize = [&](std::uint32_t size) {
        std::string bytes = b.bytes;
        avitest::put32(bytes, b.idx1Pos + 8 + 16 + 12, size);  // second entry
        File f;
        f.openToGetInformation(save(bytes).c_str());
        return f.getErrorCode();
    };
    EXPECT_EQ(withSize(0x80000018u), BAD_VIDEO_ENTRY_SIZE);
    EXPECT_EQ(withSize(0x7FFFFFFFu), NO_ERROR);
}

TEST_F(AviIndex, LegacyEntriesGoByStreamAndType) {
    AviRecipe s = rgb24(4, 2, 3);
    s.hasAudio = true;
    s.audioChunks = {"abcd", "efgh", "ijkl"};
    avitest::Built b = avitest::buildAvi(s);
    ASSERT_EQ(b.bytes.substr(b.idx1Pos + 8 + 16, 4), "01wb");
    std::string bytes = b.bytes;
    bytes.replace(b.idx1Pos + 8 + 32, 4, "02db");  // second video entry: no such stream
    bytes.replace(b.idx1Pos + 8 + 80, 4, "rec ");  // third audio entry
    File f;
    ASSERT_TRUE(f.open(save(bytes).c_str(), "r"));
    EXPECT_EQ(f.getVideoTotalFrames(), 2u);
    EXPECT_EQ(frame(f, 1), s.frames[2]);
    std::string audio(8, '\0');
    f.readAudio(audio.data(), 8);
    EXPECT_EQ(audio, "abcdefgh");
}

// A video chunk of no bytes is a dropped frame: it keeps its place and time
// and shows the picture before it; one before the first picture shows that
// first picture. Whichever index finds the chunks, whatever the row order.
TEST_F(AviIndex, DroppedFramesShowThePictureBeforeThem) {
    for (Index kind : {Index::Idx1, Index::OpenDMLSuper, Index::None}) {
        for (int height : {2, -2}) {
            SCOPED_TRACE(testing::Message() << "index " << int(kind) << " height " << height);
            AviRecipe s = rgb24(4, height, 3);
            const std::string a = s.frames[1], b = s.frames[2];
            s.frames = {"", a, "", "", b, ""};
            s.index = kind;
            File f;
            ASSERT_TRUE(f.open(save(s).c_str(), "r")) << f.getErrorMsg();
            ASSERT_EQ(f.getVideoTotalFrames(), 6u);
            const std::vector<std::string> shows = {a, a, a, a, b, b};
            for (long k = 0; k < 6; ++k) {
                EXPECT_EQ(f.getRawVideoFrameSize(k), a.size()) << k;
                EXPECT_EQ(f.isVideoFrameDropped(k), s.frames[k].empty()) << k;
                std::string raw = frame(f, k), rgb(f.getRGB24VideoFrameSize(), '\xee');
                f.readRGB24VideoFrame(rgb.data(), k);
                EXPECT_EQ(f.getErrorCode(), NO_ERROR);
                std::string stored = shows[k];
                if (height < 0) stored = stored.substr(12) + stored.substr(0, 12);  // delivered bottom-up
                EXPECT_EQ(raw, stored) << k;
                EXPECT_EQ(rgb, stored) << k;
            }
            // In sequence too, to the end.
            std::string buf(a.size(), '\0');
            for (int k = 0; k < 6; ++k) f.readVideoFrame(buf.data());
            EXPECT_TRUE(f.isEndOfVideo());
            EXPECT_EQ(f.getErrorCode(), NO_ERROR);
        }
    }
    // Compressed frames: each dropped one is the chunk before it, at its size.
    AviRecipe mj = rgb24(4, 2, 0);
    mj.compression = 0x47504A4D;  // MJPG
    mj.videoTag = "dc";
    mj.frames = {"", "jpeg-one", "", "jpeg-two!"};
    File f;
    ASSERT_TRUE(f.open(save(mj, "mj.avi").c_str(), "r")) << f.getErrorMsg();
    const std::vector<std::string> shows = {"jpeg-one", "jpeg-one", "jpeg-one", "jpeg-two!"};
    for (long k = 0; k < 4; ++k) {
        std::string got(f.getRawVideoFrameSize(k), '\0');
        f.readVideoFrame(got.data(), k);
        EXPECT_EQ(got, shows[k]) << k;
    }
    // A stream of dropped frames only holds no picture at all.
    AviRecipe none = rgb24(4, 2, 0);
    none.frames = {"", ""};
    File g;
    ASSERT_TRUE(g.open(save(none, "none.avi").c_str(), "r"));
    EXPECT_EQ(g.getVideoTotalFrames(), 2u);
    EXPECT_EQ(g.getRawVideoFrameSize(1), 0u);
    std::string buf(24, '\0');
    g.readVideoFrame(buf.data(), 1);
    EXPECT_EQ(g.getErrorCode(), VIDEO_CHUNKS_MISSING);
}

TEST_F(AviIndex, LegacyOffsetsFromFileStartAreRecognised) {
    for (Index kind : {Index::Idx1, Index::Idx1FromFileStart}) {
        AviRecipe s = rgb24(5, 3, 3);
        s.hasAudio = true;
        s.bitsPerSample = 8;
        s.audioChunks = {"12345", "678", "9ab"};
        File f;
        ASSERT_TRUE(f.open(save(s, kind == Index::Idx1 ? "rel.avi" : "abs.avi").c_str(), "r"));
        for (long k = 0; k < 3; ++k) EXPECT_EQ(frame(f, k), s.frames[k]) << k;
        std::string audio(11, '\0');
        f.readAudio(audio.data(), 11);
        EXPECT_EQ(audio, "123456789ab");
    }
}

TEST_F(AviIndex, LegacyBaseStaysAtMoviWhenNeitherBaseMatches) {
    // The first entry names "00dc" for a chunk stored as "00db": its id is
    // found at neither base, and the usual base (the movi list) is kept.
    AviRecipe s = rgb24(4, 2, 3);
    avitest::Built b = avitest::buildAvi(s);
    std::string bytes = b.bytes;
    bytes.replace(b.idx1Pos + 8, 4, "00dc");
    File f;
    ASSERT_TRUE(f.open(save(bytes).c_str(), "r"));
    ASSERT_EQ(f.getVideoTotalFrames(), 3u);
    for (long k = 0; k < 3; ++k) EXPECT_EQ(frame(f, k), s.frames[k]) << k;
}

TEST_F(AviIndex, OpenDMLIndexesWinOverIdx1) {
    AviRecipe s = rgb24(4, 2, 3);
    s.hasAudio = true;
    s.audioChunks = {"abc", "de", "fgh"};
    s.index = Index::OpenDMLSuper;
    avitest::Built b = avitest::buildAvi(s);
    // an idx1 whose entries point at nonsense
    std::string idx1;
    for (int i = 0; i < 3; ++i) idx1 += "00db" + avitest::u32(0) + avitest::u32(4) + avitest::u32(6);
    const std::string bytes = appendChunk(b.bytes, avitest::chunk("idx1", idx1));
    File f;
    ASSERT_TRUE(f.open(save(bytes).c_str(), "r"));
    EXPECT_EQ(f.getVideoIndexSource(), IndexSource::OpenDML);
    EXPECT_EQ(f.getAudioIndexSource(), IndexSource::OpenDML);
    EXPECT_EQ(f.getVideoTotalFrames(), 3u);
    for (long k = 0; k < 3; ++k) EXPECT_EQ(frame(f, k), s.frames[k]);
    std::string audio(8, '\0');
    f.readAudio(audio.data(), 8);
    EXPECT_EQ(audio, "abcdefgh");
}

TEST_F(AviIndex, StandardIndexInStreamList) {
    AviRecipe s = rgb24(4, 2, 2);
    s.index = Index::OpenDMLStandard;
    s.totalFramesField = 77;
    File f;
    ASSERT_TRUE(f.open(save(s).c_str(), "r"));
    EXPECT_EQ(f.getVideoTotalFrames(), 2u);  // the index decides, not the header
    EXPECT_EQ(frame(f, 1), s.frames[1]);
}

TEST_F(AviIndex, IndexTypesAndSubtypes) {
    AviRecipe s = rgb24(4, 2, 2);
    s.index = Index::OpenDMLStandard;
    avitest::Built b = avitest::buildAvi(s);
    ASSERT_EQ(b.indxPos.size(), 1u);
    auto codeWith = [&](std::size_t byte, char value) {
        std::string bytes = b.bytes;
        bytes[b.indxPos[0] + 8 + byte] = value;
        File f;
        f.openToGetInformation(save(bytes).c_str());
        return f.getErrorCode();
    };
    EXPECT_EQ(codeWith(2, 1), UNSUPPORTED_INDEX_TYPE);           // subtype 1
    EXPECT_EQ(codeWith(3, '\x80'), UNSUPPORTED_INDEX_TYPE);      // index is data
    EXPECT_EQ(codeWith(3, 2), INVALID_INDEX);
    EXPECT_EQ(codeWith(3, 1), NO_ERROR);
}

// Bit 31 of a standard index entry's size marks a frame that is not a key
// frame: the size is the rest, for video and audio alike.
TEST_F(AviIndex, NonKeyFramesInStandardIndex) {
    AviRecipe s = rgb24(4, 2, 2);
    s.hasAudio = true;
    s.audioChunks = {"ab", "cd"};
    s.index = Index::OpenDMLStandard;
    avitest::Built b = avitest::buildAvi(s);
    ASSERT_EQ(b.indxPos.size(), 2u);
    std::string bytes = b.bytes;
    for (std::size_t sizeField : {b.indxPos[0] + 8 + 24 + 8 + 4, b.indxPos[1] + 8 + 24 + 4})  // video 1, audio 0
        avitest::put32(bytes, sizeField, avitest::get32(bytes, sizeField) | 0x80000000u);
    File f;
    ASSERT_TRUE(f.open(save(bytes).c_str(), "r")) << f.getErrorMsg();
    EXPECT_EQ(f.getErrorCode(), NO_ERROR);
    ASSERT_EQ(f.getVideoTotalFrames(), 2u);
    EXPECT_TRUE(f.isVideoKeyFrame(0));
    EXPECT_FALSE(f.isVideoKeyFrame(1));
    EXPECT_FALSE(f.isVideoKeyFrame(2));  // no such frame
    EXPECT_EQ(frame(f, 1), s.frames[1]);
    std::string audio(4, '\0');
    f.readAudio(audio.data(), 4);
    EXPECT_EQ(audio, "abcd");
}

TEST_F(AviIndex, MoviWalkWithoutIndex) {
    AviRecipe s = rgb24(4, 2, 3);
    s.hasAudio = true;
    s.bitsPerSample = 8;
    s.audioChunks = {"abcde", "f", "ghi"};  // odd sizes: the pad bytes are not audio
    s.index = Index::None;
    s.totalFramesField = 9;
    const std::string path = save(s);
    {
        File f;
        ASSERT_TRUE(f.openToGetInformation(path.c_str()));
        EXPECT_EQ(f.getVideoTotalFrames(), 9u);
        EXPECT_EQ(f.getVideoIndexSource(), IndexSource::None);
    }
    File f;
    ASSERT_TRUE(f.open(path.c_str(), "r"));
    EXPECT_EQ(f.getVideoIndexSource(), IndexSource::Scan);
    EXPECT_EQ(f.getVideoTotalFrames(), 3u);
    for (long k = 0; k < 3; ++k) EXPECT_EQ(frame(f, k), s.frames[k]);
    std::string audio(9, '\0');
    f.readAudio(audio.data(), 9);
    EXPECT_EQ(audio, "abcdefghi");
    EXPECT_EQ(f.getErrorCode(), NO_ERROR);
}

TEST_F(AviIndex, MoviWalkFindsDcChunksAndRecGroups) {
    AviRecipe s = rgb24(4, 2, 3);
    s.videoTag = "dc";
    s.index = Index::None;
    {
        File f;
        ASSERT_TRUE(f.open(save(s, "dc.avi").c_str(), "r"));
        ASSERT_EQ(f.getVideoTotalFrames(), 3u);
        EXPECT_EQ(frame(f, 2), s.frames[2]);
    }
    s.recLists = true;
    s.hasAudio = true;
    s.audioChunks = {"ab", "cd", "ef"};
    for (Index kind : {Index::None, Index::Idx1}) {
        s.index = kind;
        File f;
        ASSERT_TRUE(f.open(save(s, "rec.avi").c_str(), "r"));
        ASSERT_EQ(f.getVideoTotalFrames(), 3u);
        EXPECT_EQ(frame(f, 1), s.frames[1]);
        std::string audio(6, '\0');
        f.readAudio(audio.data(), 6);
        EXPECT_EQ(audio, "abcdef");
    }
}

TEST_F(AviIndex, MoviWalkStopsAtBrokenChunks) {
    AviRecipe s = rgb24(4, 2, 2);
    s.index = Index::None;
    avitest::Built b = avitest::buildAvi(s);
    {
        // A recording cut short: the movi list claims more than the file
        // holds and the file ends inside a chunk. Every whole video and audio
        // chunk is delivered; the walk reports the cut with code 11.
        AviRecipe c = rgb24(4, 2, 3);
        c.index = Index::None;
        c.hasAudio = true;
        c.bitsPerSample = 8;
        c.audioChunks = {"abc", "defg", "hijk"};
        avitest::Built cb = avitest::buildAvi(c);
        std::string bytes = cb.bytes.substr(0, cb.audioChunkPos[2] + 8 + 2);
        avitest::put32(bytes, cb.moviPos - 4, 0x10000);
        File f;
        EXPECT_TRUE(f.open(save(bytes).c_str(), "r"));
        EXPECT_EQ(f.getErrorCode(), VIDEO_CHUNKS_MISSING);
        ASSERT_EQ(f.getVideoTotalFrames(), 3u);
        for (long k = 0; k < 3; ++k) EXPECT_EQ(frame(f, k), c.frames[k]);
        std::string audio(8, 'u');
        f.readAudio(audio.data(), 8);
        EXPECT_EQ(f.getErrorCode(), NO_ERROR);
        EXPECT_EQ(audio, std::string("abcdefg\0", 8));
        EXPECT_TRUE(f.isEndOfAudio());
    }
    {
        // a chunk whose size points past the end of the file
        std::string bytes = b.bytes;
        avitest::put32(bytes, b.videoChunkPos[1] + 4, 0x7FFFFFF0u);
        File f;
        EXPECT_TRUE(f.open(save(bytes, "b.avi").c_str(), "r"));
        ASSERT_EQ(f.getVideoTotalFrames(), 2u);
        EXPECT_EQ(frame(f, 0), s.frames[0]);
        std::string buf(f.getRGB24VideoFrameSize(), '\0');
        f.readVideoFrame(buf.data(), 1);
        EXPECT_EQ(f.getErrorCode(), NO_ERROR);  // the frame's first bytes are there
    }
}

TEST_F(AviIndex, OpenDMLCountsAndSizesAreBoundedByTheFile) {
    AviRecipe s = rgb24(4, 2, 2);
    s.index = Index::OpenDMLSuper;
    avitest::Built b = avitest::buildAvi(s);
    ASSERT_EQ(b.indxPos.size(), 1u);
    const std::size_t head = b.indxPos[0] + 8;
    {
        // entriesInUse far beyond the chunk: only the entries it holds
        std::string bytes = b.bytes;
        avitest::put32(bytes, head + 4, 0xFFFFFFFFu);
        File f;
        EXPECT_TRUE(f.open(save(bytes).c_str(), "r"));
        EXPECT_EQ(f.getVideoTotalFrames(), 2u);
    }
    {
        // a standard index chunk larger than the file
        std::string bytes = b.bytes;
        avitest::put32(bytes, head + 24 + 8, 0xFFFFFFF0u);
        File f;
        EXPECT_FALSE(f.openToGetInformation(save(bytes, "b.avi").c_str()));
        EXPECT_EQ(f.getErrorCode(), FREAD_FAILED);
    }
    {
        // a super index pointing at itself is not followed down
        std::string bytes = b.bytes;
        bytes.replace(head + 24, 8, avitest::u64(b.indxPos[0]));
        avitest::put32(bytes, head + 32, 8 + avitest::get32(bytes, b.indxPos[0] + 4));
        File f;
        EXPECT_FALSE(f.openToGetInformation(save(bytes, "c.avi").c_str()));
        EXPECT_EQ(f.getErrorCode(), INVALID_INDEX);
    }
}

TEST_F(AviIndex, RepeatedStandardIndexCannotExhaustMemory) {
    // A super index that names the same standard index many times adds
    // entries only while the file could hold that many chunks.
    AviRecipe s = rgb24(1, 1, 50);
    s.index = Index::OpenDMLSuper;
    avitest::Built b = avitest::buildAvi(s);
    const std::size_t head = b.indxPos[0] + 8;
    const std::uint64_t ix = avitest::get32(b.bytes, head + 24) | (std::uint64_t(avitest::get32(b.bytes, head + 28)) << 32);
    const std::uint32_t ixSize = avitest::get32(b.bytes, head + 32);
    std::string super = avitest::u16(4) + std::string(2, '\0') + avitest::u32(200) + "00db" + std::string(12, '\0');
    for (int i = 0; i < 200; ++i) super += avitest::u64(ix) + avitest::u32(ixSize) + avitest::u32(50);
    // replace the indx chunk with the long one and fix the list sizes
    std::string bytes = b.bytes;
    const std::uint32_t oldData = avitest::get32(bytes, b.indxPos[0] + 4);
    bytes.replace(b.indxPos[0], 8 + oldData, avitest::chunk("indx", super));
    const std::uint32_t grow = static_cast<std::uint32_t>(super.size() - oldData);
    for (std::size_t p : {kFirstStrl, kHdrl, kRiff}) avitest::put32(bytes, p + 4, avitest::get32(bytes, p + 4) + grow);
    // the standard index moved with the growth
    for (int i = 0; i < 200; ++i) {
        const std::size_t at = b.indxPos[0] + 8 + 24 + 16 * i;
        bytes.replace(at, 8, avitest::u64(ix + grow));
    }
    // its base offset moved too
    bytes.replace(ix + grow + 8 + 12, 8, avitest::u64(b.moviPos + grow));
    File f;
    EXPECT_FALSE(f.openToGetInformation(save(bytes).c_str()));
    EXPECT_EQ(f.getErrorCode(), INVALID_INDEX);
    EXPECT_LE(f.getVideoTotalFrames(), bytes.size() / 8 + 1);
}

TEST_F(AviIndex, BothStreamsWithoutEntriesAreRefused) {
    AviRecipe s = rgb24(4, 2, 0);
    s.hasAudio = true;
    s.index = Index::None;
    File f;
    EXPECT_FALSE(f.open(save(s).c_str(), "r"));
    EXPECT_EQ(f.getErrorCode(), ALL_CHUNKS_MISSING);
}

TEST_F(AviIndex, ScannedChunkBeyond32BitOffsetThrowsOverflow) {
    // A sparse file whose movi list holds a 4 GiB JUNK chunk and then a frame
    // whose data lies more than 2^32 - 1 bytes past the movi type code.
    AviRecipe s = rgb24(4, 2, 0);
    s.index = Index::None;
    avitest::Built b = avitest::buildAvi(s);
    std::string bytes = b.bytes;
    avitest::put32(bytes, b.moviPos - 4, 0xFFFFFFFEu);
    bytes += "JUNK" + avitest::u32(0xFFFFFFF0u);
    const std::string path = save(bytes);
    const std::uint64_t frameAt = b.moviPos + 0x100000000ull - 4;
    const std::string frame = "00db" + avitest::u32(24) + std::string(24, '\1');
    {
        FILE* out = std::fopen(path.c_str(), "r+b");
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(fseeko(out, static_cast<off_t>(frameAt), SEEK_SET), 0);
        ASSERT_EQ(std::fwrite(frame.data(), 1, frame.size(), out), frame.size());
        std::fclose(out);
    }
    File f;
    try {
        f.open(path.c_str(), "r");
        ADD_FAILURE() << "no overflow";
    } catch (const boost::numeric::positive_overflow& e) {
        EXPECT_STREQ(e.what(), "bad numeric conversion: positive overflow");
    }
    f.close();
}
