// Audio as a byte stream across chunk boundaries, its end, and its errors.
#include "avi_fixture.hpp"

using avi::File;
using namespace avi::errors;
using avitest::AviRecipe;

class AviAudio : public AviFixture {
protected:
    static AviRecipe audioFile(std::vector<std::string> chunks, std::uint16_t bits = 16, std::uint16_t channels = 1) {
        AviRecipe s;
        s.hasVideo = false;
        s.hasAudio = true;
        s.bitsPerSample = bits;
        s.channels = channels;
        s.audioChunks = std::move(chunks);
        return s;
    }
};

TEST_F(AviAudio, ReadsCrossChunkBoundaries) {
    // chunks of 4410 bytes read 1000 at a time: the fifth read takes 410 + 590
    std::string all = avitest::pattern(4410 * 3, 4);
    AviRecipe s = audioFile({all.substr(0, 4410), all.substr(4410, 4410), all.substr(8820, 4410)});
    File f;
    ASSERT_TRUE(f.open(save(s).c_str(), "r"));
    EXPECT_EQ(f.getAudioTotalBytes(), 4410u * 3);
    EXPECT_EQ(f.getAudioChunkSize(), 4410u);
    std::string got;
    std::string buf(1000, '\0');
    for (int i = 0; i < 14; ++i) {
        f.readAudio(buf.data(), 1000);
        ASSERT_EQ(f.getErrorCode(), NO_ERROR);
        got += buf;
    }
    EXPECT_TRUE(f.isEndOfAudio());
    EXPECT_EQ(f.getAudioBytesRead(), 13230u);
    // the last read went beyond the stream: completed with zeros
    EXPECT_TRUE(got.substr(0, 13230) == all);
    EXPECT_TRUE(got.substr(13230) == std::string(770, '\0'));
    // at the end nothing is delivered
    std::string untouched(10, 'u');
    f.readAudio(untouched.data(), 10);
    EXPECT_EQ(untouched, std::string(10, 'u'));
    f.resetAudio();
    f.readAudio(buf.data(), 1000);
    EXPECT_TRUE(buf == all.substr(0, 1000));
}

TEST_F(AviAudio, StreamLengthEndsTheStreamInsideAChunk) {
    AviRecipe s = audioFile({"abcdefgh", "ijklmnop"}, 8);
    s.audioLength = 10;
    File f;
    ASSERT_TRUE(f.open(save(s).c_str(), "r"));
    std::string buf(16, 'u');
    f.readAudio(buf.data(), 16);
    EXPECT_EQ(buf, std::string("abcdefghij") + std::string(6, '\0'));
    EXPECT_TRUE(f.isEndOfAudio());
    // a longer header length than the chunks: the chunks end it, with zeros,
    // and a read loop comes to its end
    AviRecipe t = audioFile({"abcd", "efg", ""}, 8);
    t.audioLength = 100;
    File g;
    ASSERT_TRUE(g.open(save(t, "t.avi").c_str(), "r"));
    std::string b2(10, 'u');
    g.readAudio(b2.data(), 5);
    EXPECT_FALSE(g.isEndOfAudio());
    g.readAudio(b2.data() + 5, 5);
    EXPECT_EQ(b2, std::string("abcdefg\0\0\0", 10));
    EXPECT_TRUE(g.isEndOfAudio());
    EXPECT_EQ(g.getAudioBytesRead(), 7u);
}

TEST_F(AviAudio, Errors) {
    AviRecipe s = audioFile({"abcd"});
    s.formatTag = 0x55;
    File f;
    ASSERT_TRUE(f.open(save(s).c_str(), "r"));
    EXPECT_TRUE(f.isAudioCompressed());
    std::string buf(4, 'u');
    f.readAudio(buf.data(), 4);
    EXPECT_EQ(f.getErrorCode(), COMPRESSED_AUDIO);

    // a chunk that the index places beyond the end of the file
    AviRecipe t = audioFile({"abcd", "efgh"});
    avitest::Built b = avitest::buildAvi(t);
    std::string bytes = b.bytes;
    avitest::put32(bytes, b.idx1Pos + 8 + 16 + 8, 0x00100000);
    File g;
    ASSERT_TRUE(g.open(save(bytes, "b.avi").c_str(), "r"));
    std::string b8(8, 'u');
    g.readAudio(b8.data(), 8);
    EXPECT_EQ(g.getErrorCode(), AUDIO_CHUNKS_MISSING);
    EXPECT_EQ(b8.substr(0, 4), "abcd");

    // an audio stream whose index is empty
    AviRecipe v = rgb24(4, 2, 1);
    v.hasAudio = true;
    v.audioLength = 8;
    File h;
    ASSERT_TRUE(h.open(save(v, "c.avi").c_str(), "r"));
    h.readAudio(b8.data(), 8);
    EXPECT_EQ(h.getErrorCode(), AUDIO_CHUNKS_MISSING);
}

TEST_F(AviAudio, ZeroCountAndEmptyChunks) {
    AviRecipe s = audioFile({"", "ab", "", "cd"}, 8);
    s.audioLength = 4;
    File f;
    ASSERT_TRUE(f.open(save(s).c_str(), "r")) << f.getErrorMsg();
    std::string buf(4, 'u');
    f.readAudio(buf.data(), 0);
    EXPECT_EQ(buf, "uuuu");
    f.readAudio(buf.data(), 4);
    EXPECT_EQ(buf, "abcd");
}

TEST_F(AviAudio, AudioOnlyFileKeepsNonKeyMarksAndEmptyChunks) {
    // With no video stream, no audio entry may be judged by video rules.
    AviRecipe s = audioFile({"ab", "cd"}, 8);
    s.index = avitest::Index::OpenDMLStandard;
    avitest::Built b = avitest::buildAvi(s);
    const std::size_t sizeField = b.indxPos[0] + 8 + 24 + 4;
    avitest::put32(b.bytes, sizeField, avitest::get32(b.bytes, sizeField) | 0x80000000u);
    File f;
    EXPECT_TRUE(f.openToGetInformation(save(b.bytes).c_str())) << f.getErrorMsg();
}
