// Files made by FFmpeg and by GStreamer's avimux, read by us and decoded by
// FFmpeg: frames and audio must agree byte for byte.
#include "avi_fixture.hpp"

#include <cstring>
#include <sstream>

using avi::File;
using namespace avi::errors;

namespace {

// Our RGB24 frames as FFmpeg's packed top-down bgr24 rows.
std::string ourFramesAsPackedTopDown(File& f, bool rgb24) {
    const std::size_t w = f.getVideoWidth(), h = f.getVideoHeight();
    const std::size_t row = rgb24 ? 3 * w + f.getRgb24PadLength() : w + f.getIndexedPadLength();
    const std::size_t pixel = rgb24 ? 3 : 1;
    std::vector<char> buf(rgb24 ? f.getRGB24VideoFrameSize() : f.getIndexedVideoFrameSize());
    std::string out;
    for (std::uint32_t k = 0; k < f.getVideoTotalFrames(); ++k) {
        if (rgb24)
            f.readRGB24VideoFrame(buf.data(), static_cast<long>(k));
        else
            f.readIndexedVideoFrame(buf.data(), static_cast<long>(k));
        EXPECT_EQ(f.getErrorCode(), NO_ERROR) << f.getErrorMsg();
        for (std::size_t r = 0; r < h; ++r) out.append(buf.data() + (h - 1 - r) * row, pixel * w);
    }
    return out;
}

std::string ourAudio(File& f) {
    std::string out;
    std::vector<char> buf(3001);  // not a multiple of any chunk size
    while (!f.isEndOfAudio() && f.getErrorCode() == NO_ERROR) {
        const std::uint64_t before = f.getAudioBytesRead();
        f.readAudio(buf.data(), buf.size());
        const std::uint64_t got = f.getAudioBytesRead() - before;
        if (got == 0) break;
        out.append(buf.data(), got);
    }
    EXPECT_EQ(f.getErrorCode(), NO_ERROR) << f.getErrorMsg();
    return out;
}

// The first "idx1" at the top level renamed, so that only the movi walk can find the chunks.
std::string withoutIdx1(std::string bytes) {
    std::size_t pos = 12;
    while (pos + 8 <= bytes.size()) {
        const std::uint32_t size = avitest::get32(bytes, pos + 4);
        if (bytes.compare(pos, 4, "idx1") == 0) {
            bytes.replace(pos, 4, "JUNK");
            break;
        }
        pos += 8 + size + (size & 1);
    }
    return bytes;
}

}  // namespace

class AviPeer : public AviFixture {
protected:
    void SetUp() override {
        if (!avitest::haveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    }
    std::string ffmpeg(const std::string& args) {
        int rc = 0;
        std::string out = avitest::run("ffmpeg -nostdin -v error " + args, &rc);
        EXPECT_EQ(rc, 0) << args;
        return out;
    }
    std::string decode(const std::string& path, const std::string& pixFmt) {
        return ffmpeg("-i '" + path + "' -map 0:v -f rawvideo -pix_fmt " + pixFmt + " -");
    }
    std::string decodeAudio(const std::string& path, const std::string& fmt) {
        return ffmpeg("-i '" + path + "' -map 0:a -c:a copy -f " + fmt + " -");
    }
    // Checks every frame and all the audio of one file against FFmpeg.
    void compare(const std::string& path, const std::string& storedFmt, const std::string& audioFmt) {
        File f;
        ASSERT_TRUE(f.open(path.c_str(), "r")) << f.getErrorMsg();
        ASSERT_EQ(f.getErrorCode(), NO_ERROR) << f.getErrorMsg();
        ASSERT_GT(f.getVideoTotalFrames(), 0u);
        std::string theirs = decode(path, "bgr24");
        const std::string ours = ourFramesAsPackedTopDown(f, true);
        ASSERT_EQ(ours.size(), theirs.size());
        if (storedFmt == "rgb555le") {
            // FFmpeg widens 5 bits by repeating the high ones; we leave the low three 0
            for (char& c : theirs) c = static_cast<char>(c & 0xF8);
        }
        EXPECT_TRUE(ours == theirs) << path << " frames differ";
        if (storedFmt == "pal8") {
            const std::string indexes = ourFramesAsPackedTopDown(f, false);
            const std::string theirIndexes = decode(path, "gray");  // not the palette, but the size
            EXPECT_EQ(indexes.size(), theirIndexes.size());
        }
        if (!audioFmt.empty()) {
            ASSERT_TRUE(f.hasAudio());
            const std::string theirAudio = decodeAudio(path, audioFmt);
            const std::string mine = ourAudio(f);
            // The stream ends where its header's length says; FFmpeg delivers
            // every chunk. GStreamer's avimux states one sample fewer than it writes.
            EXPECT_EQ(mine.size(), f.getAudioTotalBytes());
            ASSERT_LE(mine.size(), theirAudio.size());
            EXPECT_LE(theirAudio.size() - mine.size(), 4u);
            EXPECT_TRUE(mine == theirAudio.substr(0, mine.size())) << path << " audio differs";
        }
    }
};

TEST_F(AviPeer, FFmpegRawVideoAndPcm) {
    struct Case {
        const char* pixFmt;
        int w, h;
        const char* audioCodec;
        const char* audioFmt;
    };
    const Case cases[] = {
        {"bgr24", 64, 48, "pcm_s16le", "s16le"}, {"bgr24", 33, 17, "pcm_u8", "u8"},
        {"pal8", 31, 9, "pcm_s16le", "s16le"},   {"rgb555le", 21, 10, "pcm_u8", "u8"},
        {"bgra", 19, 7, "pcm_s16le", "s16le"},   {"rgb555le", 16, 8, "", ""},
    };
    for (const auto& c : cases) {
        const std::string path = dir.file(std::string(c.pixFmt) + "-" + std::to_string(c.w) + ".avi");
        std::string args = "-f lavfi -i testsrc=s=" + std::to_string(c.w) + "x" + std::to_string(c.h) + ":d=0.5:r=10 ";
        if (*c.audioCodec) args += "-f lavfi -i sine=f=440:d=0.5:r=11025 -ac 2 -c:a " + std::string(c.audioCodec) + " ";
        args += "-c:v rawvideo -pix_fmt " + std::string(c.pixFmt) + " -y '" + path + "'";
        ffmpeg(args);
        SCOPED_TRACE(path);
        compare(path, c.pixFmt, c.audioFmt);
        // the same file without its idx1: FFmpeg tags the frames "00dc"
        const std::string bare = dir.file("bare-" + std::string(c.pixFmt) + ".avi");
        avitest::writeFile(bare, withoutIdx1(avitest::readFile(path)));
        File f;
        ASSERT_TRUE(f.open(bare.c_str(), "r"));
        EXPECT_EQ(f.getVideoIndexSource(), avi::IndexSource::Scan);
        compare(bare, c.pixFmt, c.audioFmt);
    }
}

TEST_F(AviPeer, FFmpegOddSizedAudioChunks) {
    // 8-bit mono at a rate that gives odd chunk sizes: pad bytes are not audio.
    const std::string path = dir.file("odd.avi");
    ffmpeg("-f lavfi -i testsrc=s=16x8:d=1:r=7 -f lavfi -i sine=d=1:r=8001 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_u8 -y '" +
           path + "'");
    compare(path, "bgr24", "u8");
    const std::string bare = dir.file("odd-bare.avi");
    avitest::writeFile(bare, withoutIdx1(avitest::readFile(path)));
    compare(bare, "bgr24", "u8");
}

TEST_F(AviPeer, GStreamerAvimux) {
    if (!avitest::haveTool("gst-launch-1.0")) GTEST_SKIP() << "gst-launch-1.0 not installed";
    for (const char* size : {"width=32,height=16", "width=35,height=18"}) {
        const std::string path = dir.file(std::string("gst-") + size[6] + size[7] + ".avi");
        int rc = 0;
        avitest::run("gst-launch-1.0 -q videotestsrc num-buffers=6 pattern=smpte ! video/x-raw,format=BGR," +
                         std::string(size) + ",framerate=10/1 ! queue ! mux. audiotestsrc num-buffers=5 samplesperbuffer=1001"
                         " ! audio/x-raw,format=S16LE,rate=22050,channels=1 ! queue ! mux. avimux name=mux ! filesink location='" +
                         path + "' 2>&1",
                     &rc);
        ASSERT_EQ(rc, 0);
        SCOPED_TRACE(path);
        compare(path, "bgr24", "s16le");
    }
}

// FFmpeg marks the frames a stream skips (gaps in the frame times, audio
// that outlasts the video) with empty chunks. Each frame FFmpeg decodes is
// our frame of the same number (its time in frame periods); a dropped frame
// shows the picture before it.
TEST_F(AviPeer, FFmpegDroppedFrames) {
    const std::string path = dir.file("dropped.avi");
    ffmpeg("-f lavfi -i testsrc=s=32x16:r=25 -f lavfi -i sine=d=1.5:r=8000 -frames:v 25 "
           "-vf \"select='not(eq(n\\,5)+eq(n\\,17))'\" -fps_mode passthrough -c:v rawvideo -pix_fmt bgr24 "
           "-c:a pcm_s16le -y '" + path + "'");
    const std::string bare = dir.file("dropped-bare.avi");
    avitest::writeFile(bare, withoutIdx1(avitest::readFile(path)));
    const std::string theirs = ffmpeg("-i '" + path + "' -map 0:v -fps_mode passthrough -f rawvideo -pix_fmt bgr24 -");
    std::vector<long> numbers;  // of the frames FFmpeg decodes
    std::istringstream pts(avitest::run("ffprobe -v error -select_streams v -show_entries packet=pts -of csv=p=0 '" +
                                        path + "'"));
    for (long p; pts >> p;) numbers.push_back(p);
    const std::size_t frameBytes = 32 * 16 * 3;
    ASSERT_EQ(numbers.size(), 25u);
    ASSERT_EQ(theirs.size(), 25 * frameBytes);
    for (const std::string& file : {path, bare}) {
        SCOPED_TRACE(file);
        File f;
        ASSERT_TRUE(f.open(file.c_str(), "r")) << f.getErrorMsg();
        ASSERT_EQ(f.getVideoTotalFrames(), 27u);
        const std::string ours = ourFramesAsPackedTopDown(f, true);
        for (std::size_t j = 0; j < numbers.size(); ++j)
            EXPECT_TRUE(ours.compare(numbers[j] * frameBytes, frameBytes, theirs, j * frameBytes, frameBytes) == 0)
                << "frame " << numbers[j];
        for (long k : {5, 17}) {
            EXPECT_TRUE(f.isVideoFrameDropped(k));
            EXPECT_TRUE(ours.compare(k * frameBytes, frameBytes, ours, (k - 1) * frameBytes, frameBytes) == 0) << k;
        }
        EXPECT_FALSE(f.isVideoFrameDropped(6));
        const std::string audio = ourAudio(f);
        EXPECT_TRUE(audio == decodeAudio(file, "s16le"));
    }
}

// 16- and 32-bit RGB stored as BI_BITFIELDS with the masks of plain RGB (as
// capture tools write it): read as RGB, the masks not taken for a palette.
TEST_F(AviPeer, BitFieldRgb) {
    struct Case {
        int bits;
        std::uint32_t red, green, blue;
        const char* name;
    };
    const Case cases[] = {{16, 0xF800, 0x07E0, 0x001F, "565"},
                          {16, 0x7C00, 0x03E0, 0x001F, "555"},
                          {32, 0xFF0000, 0x00FF00, 0x0000FF, "888"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        avitest::AviRecipe s;
        s.width = 5;
        s.height = 3;
        s.bits = static_cast<std::uint16_t>(c.bits);
        s.compression = 3;
        s.palette = avitest::u32(c.red) + avitest::u32(c.green) + avitest::u32(c.blue);
        const std::size_t stride = (5 * c.bits + 31) / 32 * 4;
        for (int k = 0; k < 3; ++k) s.frames.push_back(avitest::pattern(stride * 3, k + 1));
        const std::string path = save(s, std::string("bitfields-") + c.name + ".avi");
        File f;
        ASSERT_TRUE(f.open(path.c_str(), "r")) << f.getErrorMsg();
        EXPECT_FALSE(f.isVideoCompressed());
        EXPECT_TRUE(f.getColormap().empty());
        const std::string ours = ourFramesAsPackedTopDown(f, true);
        // Ours from the masks: each component's own bits, the bits below 0.
        std::string want;
        for (int k = 0; k < 3; ++k)
            for (int r = 2; r >= 0; --r)
                for (int x = 0; x < 5; ++x) {
                    const auto* p = reinterpret_cast<const std::uint8_t*>(s.frames[k].data()) + r * stride;
                    std::uint32_t v = 0;
                    for (int b = c.bits / 8; b-- > 0;) v = v << 8 | p[c.bits / 8 * x + b];
                    for (std::uint32_t mask : {c.blue, c.green, c.red}) {
                        int shift = 0, width = 0;
                        while (!(mask >> shift & 1)) ++shift;
                        while (mask >> (shift + width) & 1) ++width;
                        want.push_back(static_cast<char>(((v & mask) >> shift) << (8 - width)));
                    }
                }
        EXPECT_TRUE(ours == want);
        // FFmpeg reads every bit-field file as 5-6-5 (whatever its masks say);
        // on those it agrees once its widened low bits are dropped.
        if (std::string(c.name) != "565") continue;
        std::string theirs = decode(path, "bgr24");
        ASSERT_EQ(theirs.size(), ours.size());
        for (std::size_t i = 0; i < theirs.size(); ++i) {
            const std::uint32_t mask = i % 3 == 0 ? c.blue : i % 3 == 1 ? c.green : c.red;
            int width = 0;
            for (std::uint32_t m = mask; m; m >>= 1) width += m & 1;
            theirs[i] = static_cast<char>(theirs[i] & (0xFF << (8 - width)));
        }
        EXPECT_TRUE(ours == theirs);
    }
}
