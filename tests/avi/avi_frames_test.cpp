// Frame reading: raw, palette indexes, RGB24 conversions of every depth,
// the top-down flip, and frames larger or smaller than the picture.
#include "avi_fixture.hpp"

#include <cstring>

using avi::File;
using namespace avi::errors;
using avitest::AviRecipe;

namespace {

std::size_t stride(int w, int bits) { return static_cast<std::size_t>((w * bits + 31) / 32 * 4); }

// The picture of a stored bottom-up frame as blue-green-red rows padded to 4.
std::string expectedRgb24(const std::string& stored, int w, int h, int bits, const std::string& palette) {
    const std::size_t in = stride(w, bits), out = static_cast<std::size_t>(3 * w + 3) / 4 * 4;
    std::string rgb(out * h, '\0');
    for (int r = 0; r < h; ++r)
        for (int x = 0; x < w; ++x) {
            const auto* row = reinterpret_cast<const std::uint8_t*>(stored.data()) + r * in;
            std::uint8_t b = 0, g = 0, red = 0;
            if (bits <= 8) {
                const unsigned bitPos = static_cast<unsigned>(x * bits);
                const unsigned index = (row[bitPos / 8] >> (8 - bits - bitPos % 8)) & ((1u << bits) - 1);
                if (4 * index + 2 < palette.size()) {
                    b = static_cast<std::uint8_t>(palette[4 * index]);
                    g = static_cast<std::uint8_t>(palette[4 * index + 1]);
                    red = static_cast<std::uint8_t>(palette[4 * index + 2]);
                }
            } else if (bits == 16) {
                const unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
                b = static_cast<std::uint8_t>((v & 31) << 3);
                g = static_cast<std::uint8_t>(((v >> 5) & 31) << 3);
                red = static_cast<std::uint8_t>(((v >> 10) & 31) << 3);
            } else {
                const int n = bits / 8;
                b = row[n * x];
                g = row[n * x + 1];
                red = row[n * x + 2];
            }
            rgb[r * out + 3 * x] = static_cast<char>(b);
            rgb[r * out + 3 * x + 1] = static_cast<char>(g);
            rgb[r * out + 3 * x + 2] = static_cast<char>(red);
        }
    return rgb;
}

// Compares only the pixel bytes of each row (pad bytes are left as they were).
void expectSamePixels(const std::string& got, const std::string& want, int w, int h) {
    const std::size_t out = static_cast<std::size_t>(3 * w + 3) / 4 * 4;
    ASSERT_GE(got.size(), out * h);
    for (int r = 0; r < h; ++r)
        ASSERT_EQ(got.substr(r * out, 3 * w), want.substr(r * out, 3 * w)) << "row " << r;
}

}  // namespace

class AviFrames : public AviFixture {
protected:
    AviRecipe depth(int w, int h, int bits, int frames, const std::string& palette = "") {
        AviRecipe s;
        s.width = w;
        s.height = h;
        s.bits = static_cast<std::uint16_t>(bits);
        s.palette = palette;
        for (int i = 0; i < frames; ++i)
            s.frames.push_back(avitest::pattern(stride(w, bits) * static_cast<std::size_t>(h < 0 ? -h : h), i + 1));
        return s;
    }
};

TEST_F(AviFrames, Rgb24ConversionOfEveryDepth) {
    const std::string palette = avitest::pattern(1024, 9);
    struct Case {
        int w, h, bits;
        std::string pal;
    };
    const Case cases[] = {
        {4, 3, 8, palette}, {5, 3, 8, palette}, {7, 2, 8, palette.substr(0, 40)},  // short palette: black
        {4, 2, 16, ""},     {5, 3, 16, ""},     {1, 1, 16, ""},
        {4, 2, 32, ""},     {3, 2, 32, ""},     {5, 4, 32, ""},
        {3, 2, 24, ""},     {4, 2, 24, ""},     {5, 3, 4, palette.substr(0, 64)},
        {9, 2, 4, ""},      {6, 2, 2, palette.substr(0, 16)},
    };
    for (const auto& c : cases) {
        AviRecipe s = depth(c.w, c.h, c.bits, 2, c.pal);
        File f;
        ASSERT_TRUE(f.open(save(s).c_str(), "r")) << c.w << "x" << c.h << "@" << c.bits;
        const std::string pal = c.pal.empty() && c.bits <= 8 ? [&] {
            std::string ramp;
            for (auto q : f.getColormap()) ramp += std::string{char(q.blue), char(q.green), char(q.red), char(0)};
            return ramp;
        }()
                                                             : c.pal;
        // exactly the size the reader asks for, so a sanitizer sees any overrun
        std::vector<char> heap(f.getRGB24VideoFrameSize());
        for (long k = 0; k < 2; ++k) {
            f.readRGB24VideoFrame(heap.data(), k);
            ASSERT_EQ(f.getErrorCode(), NO_ERROR);
            expectSamePixels(std::string(heap.begin(), heap.end()), expectedRgb24(s.frames[k], c.w, c.h, c.bits, pal),
                             c.w, c.h);
        }
    }
}

TEST_F(AviFrames, SizesAndPads) {
    File f;
    ASSERT_TRUE(f.open(save(depth(3, 2, 32, 1)).c_str(), "r"));
    EXPECT_EQ(f.getRgb24PadLength(), 3u);
    EXPECT_EQ(f.getRGB24VideoFrameSize(), 24u);  // the stored size, larger than the converted one
    File g;
    ASSERT_TRUE(g.open(save(depth(5, 3, 16, 1), "b.avi").c_str(), "r"));
    EXPECT_EQ(g.getRgb555PadLength(), 2u);
    EXPECT_EQ(g.getRGB24VideoFrameSize(), 3u * 16u);
    EXPECT_EQ(g.getIndexedVideoFrameSize(), 0u);
    EXPECT_EQ(g.getRawVideoFrameSize(0), 36u);
    EXPECT_EQ(g.getRawVideoFrameSize(1), 0u);
    EXPECT_EQ(g.getRawVideoFrameSize(-1), 0u);
    File h;
    ASSERT_TRUE(h.open(save(depth(5, 3, 8, 1), "c.avi").c_str(), "r"));
    EXPECT_EQ(h.getIndexedPadLength(), 3u);
    EXPECT_EQ(h.getIndexedVideoFrameSize(), 24u);
    File none;
    ASSERT_TRUE(none.open(save(depth(4, 2, 12, 1), "d.avi").c_str(), "r"));
    EXPECT_EQ(none.getRGB24VideoFrameSize(), 0u);
}

TEST_F(AviFrames, LyingFirstChunkSizeDoesNotInflateTheFrameSize) {
    for (std::uint16_t bits : {24, 32}) {
        AviRecipe s = depth(16, 16, bits, 1);
        s.index = avitest::Index::None;  // found by the movi walk
        avitest::Built b = avitest::buildAvi(s);
        avitest::put32(b.bytes, b.videoChunkPos[0] + 4, 0xFFFF0013u);  // the chunk's size field
        File f;
        ASSERT_TRUE(f.open(save(b.bytes).c_str(), "r")) << bits;
        EXPECT_EQ(f.getRGB24VideoFrameSize(), 16u * 16u * bits / 8) << bits;
        std::vector<char> heap(f.getRGB24VideoFrameSize());
        f.readRGB24VideoFrame(heap.data(), 0);
        EXPECT_EQ(f.getErrorCode(), NO_ERROR);
        expectSamePixels(std::string(heap.begin(), heap.begin() + 16 * 16 * 3),
                         expectedRgb24(s.frames[0], 16, 16, bits, ""), 16, 16);
    }
}

TEST_F(AviFrames, SixteenBitExtremes) {
    AviRecipe s = depth(2, 1, 16, 1);
    s.frames = {std::string("\xff\x7f\x00\x80", 4)};
    File f;
    ASSERT_TRUE(f.open(save(s).c_str(), "r"));
    std::vector<char> buf(f.getRGB24VideoFrameSize());
    f.readRGB24VideoFrame(buf.data(), 0);
    EXPECT_EQ(std::string(buf.data(), 6), std::string("\xf8\xf8\xf8\x00\x00\x00", 6));
}

TEST_F(AviFrames, TopDownFramesAreDeliveredBottomUp) {
    for (int h : {-3, -4}) {
        AviRecipe s = depth(5, h, 8, 2);
        File f;
        ASSERT_TRUE(f.open(save(s).c_str(), "r"));
        std::vector<char> buf(f.getIndexedVideoFrameSize());
        f.readIndexedVideoFrame(buf.data(), 1);
        ASSERT_EQ(f.getErrorCode(), NO_ERROR);
        const int rows = -h;
        for (int r = 0; r < rows; ++r)
            EXPECT_EQ(std::string(buf.data() + 8 * r, 8), s.frames[1].substr(8 * (rows - 1 - r), 8)) << r;
    }
    AviRecipe s = depth(3, -2, 24, 1);
    File f;
    ASSERT_TRUE(f.open(save(s, "t24.avi").c_str(), "r"));
    std::vector<char> buf(f.getRGB24VideoFrameSize());
    f.readRGB24VideoFrame(buf.data());
    EXPECT_EQ(std::string(buf.data(), 12), s.frames[0].substr(12, 12));
    EXPECT_EQ(std::string(buf.data() + 12, 12), s.frames[0].substr(0, 12));
    // also after openToGetInformation
    File g;
    ASSERT_TRUE(g.openToGetInformation(save(s, "t24b.avi").c_str()));
    std::vector<char> again(g.getRGB24VideoFrameSize());
    g.readRGB24VideoFrame(again.data(), 0);
    EXPECT_EQ(again, buf);
}

TEST_F(AviFrames, SequentialAndDirectReads) {
    AviRecipe s = depth(4, 2, 24, 3);
    File f;
    ASSERT_TRUE(f.open(save(s).c_str(), "r"));
    std::string buf(f.getRGB24VideoFrameSize(), '\0');
    f.readVideoFrame(buf.data(), 2);
    EXPECT_EQ(buf, s.frames[2]);
    EXPECT_EQ(f.getVideoFramesRead(), 0u);
    for (int k = 0; k < 3; ++k) {
        f.readVideoFrame(buf.data());
        EXPECT_EQ(buf, s.frames[k]);
    }
    EXPECT_TRUE(f.isEndOfVideo());
    std::string untouched(buf.size(), 'u');
    f.readVideoFrame(untouched.data());
    f.readVideoFrame(untouched.data(), 3);
    f.readVideoFrame(untouched.data(), -7);
    EXPECT_EQ(untouched, std::string(buf.size(), 'u'));
    EXPECT_EQ(f.getErrorCode(), NO_ERROR);
    f.resetVideo();
    f.readRGB24VideoFrame(buf.data());
    EXPECT_EQ(buf, s.frames[0]);
    EXPECT_EQ(f.getVideoFramesRead(), 1u);
}

TEST_F(AviFrames, IndexedReadsOfOtherDepthsWriteNothing) {
    File f;
    ASSERT_TRUE(f.open(save(depth(4, 2, 24, 1)).c_str(), "r"));
    EXPECT_EQ(f.getIndexedVideoFrameSize(), 0u);
    std::string buf(64, 'u');
    f.readIndexedVideoFrame(buf.data(), 0);
    EXPECT_EQ(f.getErrorCode(), NOT_INDEXED_VIDEO);
    EXPECT_EQ(buf, std::string(64, 'u'));
}

TEST_F(AviFrames, CompressedVideoIsRawOnly) {
    AviRecipe s = depth(4, 2, 24, 0);
    s.compression = avitest::get32("MJPG", 0);
    s.videoTag = "dc";
    s.frames = {"short", "a longer frame", "x"};
    File f;
    ASSERT_TRUE(f.open(save(s).c_str(), "r"));
    for (long k = 0; k < 3; ++k) {
        std::string buf(f.getRawVideoFrameSize(k), '\0');
        f.readVideoFrame(buf.data(), k);
        EXPECT_EQ(buf, s.frames[k]);
    }
    std::string buf(64, '\0');
    f.readRGB24VideoFrame(buf.data(), 0);
    EXPECT_EQ(f.getErrorCode(), COMPRESSED_VIDEO);
    f.readIndexedVideoFrame(buf.data(), 0);
    EXPECT_EQ(f.getErrorCode(), COMPRESSED_VIDEO);
}

TEST_F(AviFrames, ChunksLargerOrSmallerThanThePicture) {
    // The first chunk is far larger than an 8-bit 4x2 picture: no read may
    // write past the sizes the reader reports.
    AviRecipe s = depth(4, 2, 8, 3);
    s.frames[0] = avitest::pattern(4096, 5);
    s.frames[1] = "tiny";  // shorter than the picture
    File f;
    ASSERT_TRUE(f.open(save(s).c_str(), "r"));
    // the raw size query tells what a raw read writes
    EXPECT_EQ(f.getRawVideoFrameSize(0), 8u);
    EXPECT_EQ(f.getRawVideoFrameSize(1), 8u);
    {
        std::vector<char> raw(f.getRawVideoFrameSize(0));
        f.readVideoFrame(raw.data(), 0);
        EXPECT_EQ(std::string(raw.begin(), raw.end()), s.frames[0].substr(0, 8));
    }
    {
        std::vector<char> exact(f.getIndexedVideoFrameSize());
        f.readIndexedVideoFrame(exact.data(), 0);
        EXPECT_EQ(std::string(exact.begin(), exact.end()), s.frames[0].substr(0, 8));
        f.readIndexedVideoFrame(exact.data(), 1);
        EXPECT_EQ(f.getErrorCode(), NO_ERROR);
        // completed with zeros, never with the next chunk's bytes
        EXPECT_EQ(std::string(exact.begin(), exact.end()), std::string("tiny\0\0\0\0", 8));
    }
    {
        std::vector<char> exact(f.getRGB24VideoFrameSize());
        f.readRGB24VideoFrame(exact.data(), 0);
        f.readVideoFrame(exact.data(), 2);
        EXPECT_EQ(f.getErrorCode(), NO_ERROR);
    }
    // The same for 32 bits, whose RGB24 size is the first chunk's size.
    AviRecipe t = depth(3, 2, 32, 2);
    t.frames[0] = avitest::pattern(10, 1);  // first chunk shorter than the picture
    File g;
    ASSERT_TRUE(g.open(save(t, "t.avi").c_str(), "r"));
    std::vector<char> exact(g.getRGB24VideoFrameSize());
    ASSERT_EQ(exact.size(), 10u);
    g.readRGB24VideoFrame(exact.data(), 1);
    EXPECT_EQ(g.getErrorCode(), NO_ERROR);
    EXPECT_EQ(std::string(exact.data(), 6), t.frames[1].substr(0, 3) + t.frames[1].substr(4, 3));
    // A short top-down chunk: its row turned over, the missing row zeros.
    AviRecipe u = depth(4, -2, 8, 2);
    u.frames[1] = "tiny";
    File h;
    ASSERT_TRUE(h.open(save(u, "u.avi").c_str(), "r"));
    std::vector<char> flipped(h.getIndexedVideoFrameSize());
    h.readIndexedVideoFrame(flipped.data(), 1);
    EXPECT_EQ(h.getErrorCode(), NO_ERROR);
    EXPECT_EQ(std::string(flipped.begin(), flipped.end()), std::string("\0\0\0\0tiny", 8));
}

TEST_F(AviFrames, MissingVideoIndexAndTruncatedData) {
    AviRecipe s = depth(4, 2, 24, 2);
    s.hasAudio = true;
    s.audioChunks = {"abcd"};
    avitest::Built b = avitest::buildAvi(s);
    // drop both video entries from idx1
    std::string bytes = b.bytes;
    bytes.replace(b.idx1Pos + 8, 4, "00xx");
    bytes.replace(b.idx1Pos + 8 + 32, 4, "00xx");
    File f;
    ASSERT_TRUE(f.openToGetInformation(save(bytes).c_str()));
    std::string buf(64, '\0');
    f.readVideoFrame(buf.data(), 0);
    EXPECT_EQ(f.getErrorCode(), VIDEO_CHUNKS_MISSING);
    EXPECT_EQ(f.getRawVideoFrameSize(0), 0u);
    EXPECT_EQ(f.getErrorCode(), VIDEO_CHUNKS_MISSING);
    // a file cut in the middle of the last frame: the walk keeps the whole
    // frames and reports the cut movi list
    const std::string cut = b.bytes.substr(0, b.videoChunkPos[1] + 8 + 10);
    File g;
    ASSERT_TRUE(g.open(save(cut, "cut.avi").c_str(), "r"));
    EXPECT_EQ(g.getErrorCode(), VIDEO_CHUNKS_MISSING);
    ASSERT_EQ(g.getVideoTotalFrames(), 1u);
    g.readVideoFrame(buf.data(), 0);
    EXPECT_EQ(g.getErrorCode(), NO_ERROR);
    EXPECT_EQ(buf.substr(0, s.frames[0].size()), s.frames[0]);
    g.close();
}

TEST_F(AviFrames, PublicConversionsWorkInPlace) {
    AviRecipe s = depth(5, 2, 16, 1);
    File f;
    ASSERT_TRUE(f.open(save(s).c_str(), "r"));
    std::string buf(f.getRGB24VideoFrameSize(), '\0');
    buf.replace(0, s.frames[0].size(), s.frames[0]);
    f.rgb555ToRgb24WPad(buf.data());
    expectSamePixels(buf, expectedRgb24(s.frames[0], 5, 2, 16, ""), 5, 2);
}

TEST_F(AviFrames, DepthsWithoutRgb24FormReadNothing) {
    // getRGB24VideoFrameSize() is 0 for such a depth: a buffer sized by it has no room.
    File f;
    ASSERT_TRUE(f.open(save(depth(4, 2, 12, 1)).c_str(), "r"));
    ASSERT_EQ(f.getRGB24VideoFrameSize(), 0u);
    std::vector<char> none;
    f.readRGB24VideoFrame(none.data(), 0);
    EXPECT_EQ(f.getErrorCode(), INVALID_BITS_PER_PIXEL);
    std::string raw(f.getRawVideoFrameSize(0), '\0');
    f.readVideoFrame(raw.data(), 0);
    EXPECT_EQ(f.getErrorCode(), NO_ERROR);
}
