// Files made by FFmpeg and by GStreamer's avimux, read by us and decoded by
// FFmpeg: frames and audio must agree byte for byte.
#include "avi_fixture.hpp"

#include <cstring>

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
