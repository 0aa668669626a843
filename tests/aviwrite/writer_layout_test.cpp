// Byte layout of written files: the worked two-frame file in full, and the
// header fields each stream description produces.
#include "aviwrite_support.hpp"

#include <gtest/gtest.h>

using aviwrite::Bytes;
using aviwrite::Recipe;
using aviwrite::readAll;
using aviwrite::scratchFile;
using aviwrite::writeFile;

namespace {

// Builds expected file contents field by field.
struct Expect {
    std::vector<unsigned char> bytes;
    Expect& id(const char* s) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<unsigned char>(s[i]));
        return *this;
    }
    Expect& u8(unsigned v) {
        bytes.push_back(static_cast<unsigned char>(v));
        return *this;
    }
    Expect& u16(unsigned v) { return u8(v & 0xFF).u8(v >> 8 & 0xFF); }
    Expect& u32(std::uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    Expect& u64(std::uint64_t v) { return u32(static_cast<std::uint32_t>(v)).u32(static_cast<std::uint32_t>(v >> 32)); }
    Expect& zeros(std::size_t n) {
        bytes.insert(bytes.end(), n, 0);
        return *this;
    }
    Expect& raw(const std::vector<char>& data) {
        bytes.insert(bytes.end(), data.begin(), data.end());
        return *this;
    }
};

// Offset of the first chunk with this id at or after `from`, walking the
// top-level and list structure; npos when absent.
std::size_t findChunk(const Bytes& b, const std::string& id, std::size_t from = 12) {
    for (std::size_t at = from; at + 8 <= b.size();) {
        const std::string here = b.str(at);
        if (here == id) return at;
        const std::uint32_t size = b.u32(at + 4);
        if (here == "LIST" || here == "RIFF") {
            at += 12;
        } else {
            at += 8 + size + (size & 1);
        }
    }
    return std::string::npos;
}

}  // namespace

TEST(AviWriteLayout, WorkedTwoFrameFileMatchesByteForByte) {
    const std::string path = scratchFile("worked.avi");
    Recipe r;
    r.width = 2;
    r.height = 2;
    r.frames = 2;
    const auto written = writeFile(path, r);
    ASSERT_EQ(written.error, avi::errors::NO_ERROR);

    Expect e;
    e.id("RIFF").u32(65952).id("AVI ");
    e.id("LIST").u32(65792).id("hdrl");
    e.id("avih").u32(56).u32(40000).u32(0).u32(0).u32(0x810).u32(2).u32(0).u32(1).u32(16).u32(2).u32(2).zeros(16);
    e.id("LIST").u32(164).id("strl");
    e.id("strh").u32(56).id("vids").id("DIB ").u32(0).u32(0).u32(0).u32(1000000).u32(25000000).u32(0).u32(2)
        .u32(16).u32(0).u32(0).zeros(8);
    e.id("strf").u32(40).u32(40).u32(2).u32(2).u16(1).u16(24).u32(0).u32(16).u32(0).u32(0).u32(0).u32(0);
    e.id("indx").u32(40).u16(4).u8(0).u8(0).u32(1).id("00db").zeros(12).u64(65872).u32(48).u32(2);
    e.id("LIST").u32(16).id("odml").id("dmlh").u32(4).u32(2);
    ASSERT_EQ(e.bytes.size(), 284u);
    e.id("JUNK").u32(65520).zeros(65520);
    ASSERT_EQ(e.bytes.size(), 65812u);
    e.id("LIST").u32(100).id("movi");
    e.id("00db").u32(16).raw(written.frames[0]);
    e.id("00db").u32(16).raw(written.frames[1]);
    ASSERT_EQ(e.bytes.size(), 65872u);
    e.id("ix00").u32(40).u16(2).u8(0).u8(1).u32(2).id("00db").u64(65820).u32(0).u32(12).u32(16).u32(36).u32(16);
    e.id("idx1").u32(32).id("00db").u32(0).u32(4).u32(16).id("00db").u32(0).u32(28).u32(16);
    ASSERT_EQ(e.bytes.size(), 65960u);

    const Bytes got = readAll(path);
    ASSERT_EQ(got.size(), e.bytes.size());
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got.data[i], e.bytes[i]) << "first difference at " << i;
}

TEST(AviWriteLayout, VideoDescriptionFields) {
    {
        // 320x240 at 30 fps, defaults: 24 bits, no FourCC.
        const std::string path = scratchFile("desc320.avi");
        avi::File f;
        ASSERT_TRUE(f.open(path.c_str(), "w"));
        f.setVideoInfo(320, 240, 30.0);
        EXPECT_EQ(f.getHeaderLength(), 65792u);
        f.close();
        const Bytes b = readAll(path);
        EXPECT_EQ(b.u32(32), 33333u);             // microseconds per frame
        EXPECT_EQ(b.u32(32 + 28), 230400u);       // suggested buffer: frame size
        EXPECT_EQ(b.u32(100 + 8 + 20), 1000000u); // scale
        EXPECT_EQ(b.u32(100 + 8 + 24), 30000000u);// rate
        EXPECT_EQ(b.u16(164 + 8 + 14), 24u);      // bit count
        EXPECT_EQ(b.u32(164 + 8 + 20), 230400u);  // image size
        EXPECT_EQ(b.str(212 + 16), "00db");
    }
    {
        // An odd width with a FourCC: compression holds it, chunks are ##dc,
        // rows carry width mod 4 padding bytes.
        const std::string path = scratchFile("desc321.avi");
        Recipe r;
        r.width = 321;
        r.height = 10;
        r.fourCC = "ABCD";
        r.frames = 1;
        r.frameBytes = 9640;
        writeFile(path, r);
        const Bytes b = readAll(path);
        EXPECT_EQ(b.str(164 + 8 + 16), "ABCD");
        EXPECT_EQ(b.u32(164 + 8 + 20), 9640u);
        EXPECT_EQ(b.str(212 + 16), "00dc");
        EXPECT_EQ(b.str(65824), "00dc");
        EXPECT_EQ(b.u32(65828), 9640u);
    }
    {
        // A three-character FourCC counts as none; 8 bits need the palette.
        const std::string path = scratchFile("desc8.avi");
        Recipe r;
        r.width = 5;
        r.height = 3;
        r.bitsPerPixel = 8;
        r.fourCC = "ABC";
        r.frames = 1;
        r.colormap = aviwrite::greyPalette(4);
        writeFile(path, r);
        const Bytes b = readAll(path);
        EXPECT_EQ(b.u32(88 + 4), 164u + 16u);     // strl grows by the palette
        EXPECT_EQ(b.u32(164 + 4), 40u + 16u);     // strf: header + 4 entries
        EXPECT_EQ(b.u32(164 + 8 + 16), 0u);       // no compression
        EXPECT_EQ(b.u32(164 + 8 + 20), 24u);      // 3 rows of 5 + 3 padding
        EXPECT_EQ(b.u32(164 + 8 + 32), 4u);       // colours used
        EXPECT_EQ(b.u8(164 + 48 + 4), 1u);        // second entry: blue 1
        EXPECT_EQ(b.u8(164 + 48 + 5), 254u);      // green 254
        EXPECT_EQ(b.str(228 + 16), "00db");
    }
}

TEST(AviWriteLayout, AudioDescriptionFieldsAndOddChunks) {
    const std::string path = scratchFile("audio-odd.avi");
    Recipe r;
    r.audio = true;
    r.bytesPerChunk = 4411;
    r.audioChunks = 3;
    {
        avi::File f;
        ASSERT_TRUE(f.open(path.c_str(), "w"));
        f.setAudioInfo(44100.0, 16, 2, 4410);
        EXPECT_EQ(f.getAudioChunkSize(), 4410u);
        EXPECT_EQ(f.getHeaderLength(), 65880u);
        f.close();
    }
    writeFile(path, r);
    const Bytes b = readAll(path);
    // Audio only: avih from the sample rate, total frames = audio chunks.
    EXPECT_EQ(b.u32(32), 22u);
    EXPECT_EQ(b.u32(32 + 16), 3u);
    EXPECT_EQ(b.u32(32 + 28), 4412u);
    EXPECT_EQ(b.u32(32 + 32), 0u);
    const std::size_t strh = 100;
    EXPECT_EQ(b.str(strh + 8), "auds");
    EXPECT_EQ(b.str(strh + 12), "    ");
    EXPECT_EQ(b.u32(strh + 8 + 20), 97391u);
    EXPECT_EQ(b.u32(strh + 8 + 24), 4294943100u);
    EXPECT_EQ(b.u32(strh + 8 + 32), 4411u * 3 / 4);  // length in samples
    EXPECT_EQ(b.u32(strh + 8 + 36), 4411u);
    EXPECT_EQ(b.u32(strh + 8 + 44), 4u);
    const std::size_t strf = 164;
    EXPECT_EQ(b.str(strf), "strf");
    EXPECT_EQ(b.u32(strf + 4), 128u);
    EXPECT_EQ(b.u16(strf + 8), 1u);
    EXPECT_EQ(b.u16(strf + 10), 2u);
    EXPECT_EQ(b.u32(strf + 12), 44100u);
    EXPECT_EQ(b.u32(strf + 16), 176400u);
    EXPECT_EQ(b.u16(strf + 20), 4u);
    EXPECT_EQ(b.u16(strf + 22), 16u);
    EXPECT_EQ(b.str(300), "indx");
    EXPECT_EQ(b.str(300 + 16), "00wb");
    // Odd chunks: header says 4411, 4412 bytes are stored, so the next chunk
    // starts at an even offset.
    const std::size_t first = 65880 + 32;
    EXPECT_EQ(b.str(first), "00wb");
    EXPECT_EQ(b.u32(first + 4), 4411u);
    EXPECT_EQ(b.str(first + 8 + 4412), "00wb");
    // idx1 of an audio-only file lists only audio chunks.
    const std::size_t idx1 = findChunk(b, "idx1");
    ASSERT_NE(idx1, std::string::npos);
    EXPECT_EQ(b.u32(idx1 + 4), 48u);
    EXPECT_EQ(b.str(idx1 + 8), "00wb");
    EXPECT_EQ(b.u32(idx1 + 8 + 8), 4u);
    EXPECT_EQ(b.u32(idx1 + 8 + 16 + 8), 4u + 8 + 4412);
}

TEST(AviWriteLayout, AudioFirstThenVideoOrdersListsAndIdx1) {
    const std::string path = scratchFile("audio-first.avi");
    Recipe r;
    r.audio = true;
    r.audioFirst = true;
    r.audioChunks = 2;
    r.width = 4;
    r.height = 2;
    r.frames = 2;
    ASSERT_EQ(writeFile(path, r).error, avi::errors::NO_ERROR);
    const Bytes b = readAll(path);
    EXPECT_EQ(b.u32(16), 131564u);
    EXPECT_EQ(b.u32(32 + 24), 2u);           // two streams
    EXPECT_EQ(b.u32(32), 40000u);            // frame period from the video
    EXPECT_EQ(b.str(100 + 8), "auds");       // audio list first
    const std::size_t audioList = 88, videoList = audioList + 8 + b.u32(audioList + 4);
    EXPECT_EQ(b.str(videoList + 20), "vids");
    const std::size_t junk = findChunk(b, "JUNK");
    ASSERT_NE(junk, std::string::npos);
    EXPECT_EQ(junk + 8 + b.u32(junk + 4), 20u + 131564u);
    // Writing order is audio, video, audio, video; idx1 lists video first.
    const std::size_t idx1 = findChunk(b, "idx1");
    ASSERT_NE(idx1, std::string::npos);
    EXPECT_EQ(b.u32(idx1 + 4), 64u);
    EXPECT_EQ(b.str(idx1 + 8), "01db");
    EXPECT_EQ(b.str(idx1 + 8 + 16), "01db");
    EXPECT_EQ(b.str(idx1 + 8 + 32), "00wb");
    EXPECT_EQ(b.u32(idx1 + 8 + 32 + 8), 4u);
    // Standard indexes: ix01 (video, stream 1) then ix00 (audio).
    const std::size_t ix01 = findChunk(b, "ix01"), ix00 = findChunk(b, "ix00");
    ASSERT_NE(ix01, std::string::npos);
    ASSERT_NE(ix00, std::string::npos);
    EXPECT_LT(ix01, ix00);
    EXPECT_EQ(b.str(ix00 + 16), "00wb");
    // Super-index durations: frames for video, chunks x sample size for audio.
    const std::size_t audioIndx = findChunk(b, "indx");
    EXPECT_EQ(b.u32(audioIndx + 8 + 36), 2u * 4u);
    EXPECT_EQ(b.u64(audioIndx + 8 + 24), ix00);
    const std::size_t videoIndx = findChunk(b, "indx", audioIndx + 8 + b.u32(audioIndx + 4));
    EXPECT_EQ(b.u32(videoIndx + 8 + 36), 2u);
    EXPECT_EQ(b.u64(videoIndx + 8 + 24), ix01);
}

TEST(AviWriteLayout, SuperIndexFillingTheRegionLeavesEmptyJunk) {
    // One reserved entry and one RIFF chunk: a single-stream header list uses
    // all of its region but the unused stream-list head, 8 bytes, which become
    // a JUNK chunk of size 0.
    const std::string path = scratchFile("full-slots.avi");
    Recipe r;
    r.width = 2;
    r.height = 2;
    r.frames = 1;
    r.superIndexEntries = 1;
    ASSERT_EQ(writeFile(path, r).error, avi::errors::NO_ERROR);
    const Bytes b = readAll(path);
    const std::uint32_t h = b.u32(16);
    EXPECT_EQ(h, 272u);
    const std::size_t junk = findChunk(b, "JUNK");
    ASSERT_EQ(junk, 20u + h - 8);
    EXPECT_EQ(b.u32(junk + 4), 0u);
    EXPECT_EQ(b.str(20 + h), "LIST");
    EXPECT_EQ(b.str(28 + h), "movi");
    EXPECT_EQ(b.str(32 + h), "00db");

    // Both streams with every entry in use: no JUNK at all.
    const std::string path2 = scratchFile("full-slots-av.avi");
    r.audio = true;
    r.audioChunks = 1;
    ASSERT_EQ(writeFile(path2, r).error, avi::errors::NO_ERROR);
    const Bytes b2 = readAll(path2);
    EXPECT_EQ(findChunk(b2, "JUNK"), std::string::npos);
    EXPECT_EQ(b2.str(20 + b2.u32(16) + 8), "movi");
}

TEST(AviWriteLayout, NoStreamLeavesEmptyFile) {
    const std::string path = scratchFile("empty.avi");
    avi::File f;
    ASSERT_TRUE(f.open(path.c_str(), "w"));
    f.close();
    EXPECT_EQ(readAll(path).size(), 0u);
    EXPECT_EQ(f.getErrorCode(), avi::errors::NO_ERROR);
}

TEST(AviWriteLayout, DestructorFinishesAnUnclosedFile) {
    const std::string path = scratchFile("destructor.avi");
    {
        avi::File f;
        ASSERT_TRUE(f.open(path.c_str(), "w"));
        f.setVideoInfo(2, 2, 25.0);
        std::vector<char> frame = aviwrite::pattern(16, 0);
        f.writeVideoFrame(frame.data());
        f.writeVideoFrame(frame.data());
    }
    EXPECT_EQ(readAll(path).size(), 65960u);
}

TEST(AviWriteLayout, PredictedSizesMatchWhatIsWritten) {
    std::vector<aviwrite::Kind> kinds = aviwrite::everyKind();
    Recipe worked;
    worked.width = 2;
    worked.height = 2;
    worked.frames = 2;
    kinds.push_back({"worked", worked});
    Recipe slot = worked;
    slot.superIndexEntries = 1;
    slot.audio = true;
    slot.audioChunks = 1;
    kinds.push_back({"one-slot", slot});
    Recipe odd = aviwrite::video(4, 4, 24, 3);
    odd.fourCC = "MJPG";
    odd.frameBytes = 17;
    kinds.push_back({"odd-frames", odd});
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.name);
        const Recipe& r = kind.recipe;
        const std::string path = scratchFile("predicted-" + kind.name + ".avi");
        std::uint32_t header = 0, movi = 0, idx1 = 0, riff = 0, strlVideo = 0, strlAudio = 0, ixVideo = 0, ixAudio = 0,
                      indx = 0;
        const bool video = r.frames > 0;
        ASSERT_EQ(writeFile(path, r,
                            [&](avi::File& f) {
                                header = f.getHeaderLength();
                                movi = f.getMoviLength();
                                idx1 = f.getLegacyIndexLength();
                                riff = f.getCurRiffChunkSize();
                                const unsigned palette = r.bitsPerPixel == 8 ? 4 * unsigned(r.colormap.size()) : 0;
                                strlVideo = f.getStrlLength(video, 116 + palette, 1);
                                strlAudio = f.getStrlLength(r.audio, 204, 1);
                                ixVideo = f.getOpenDMLStandardIndexLength(r.frames);
                                ixAudio = f.getOpenDMLStandardIndexLength(r.audioChunks);
                                indx = f.getOpenDMLSuperIndexLength(1);
                            })
                      .error,
                  avi::errors::NO_ERROR);
        const Bytes b = readAll(path);
        EXPECT_EQ(b.u32(16), header);
        EXPECT_EQ(b.str(20 + header + 8), "movi");
        EXPECT_EQ(b.u32(20 + header + 4), movi);
        const std::size_t idx = findChunk(b, "idx1");
        ASSERT_NE(idx, std::string::npos);
        EXPECT_EQ(b.u32(idx + 4), idx1);
        std::uint64_t indexes = 0;
        if (video) indexes += 8 + ixVideo;
        if (r.audio) indexes += 8 + ixAudio;
        EXPECT_EQ(b.u32(4) + 8ull, riff + indexes + 8 + idx1);
        EXPECT_EQ(b.size(), b.u32(4) + 8ull);
        for (std::size_t list = 88; b.str(list) == "LIST" && b.str(list + 8) == "strl";
             list += 8 + b.u32(list + 4)) {
            const bool isVideo = b.str(list + 20) == "vids";
            EXPECT_EQ(b.u32(list + 4), isVideo ? strlVideo : strlAudio);
            const std::size_t super = findChunk(b, "indx", list + 12);
            EXPECT_EQ(b.u32(super + 4), indx);
            const std::size_t ix = findChunk(b, isVideo ? "ix0" + std::to_string(r.audioFirst ? 1 : 0)
                                                        : "ix0" + std::to_string(video && !r.audioFirst ? 1 : 0));
            ASSERT_NE(ix, std::string::npos);
            EXPECT_EQ(b.u32(ix + 4), isVideo ? ixVideo : ixAudio);
        }
    }
}
