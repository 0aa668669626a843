// Motion JPEG 2000 files written by GStreamer (JPEG 2000 encoder into the MJ2
// muxer): what the reader delivers against OpenJPEG's decode of each sample
// and against FFmpeg's decode of the whole file.

#include "common.hpp"

#include <cstdio>
#include <cstdlib>
#include <limits>

using namespace mj2test;

namespace {

bool run(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

bool haveGstElements() {
    static const bool ok = run("gst-inspect-1.0 avenc_jpeg2000") && run("gst-inspect-1.0 mj2mux") &&
                           run("gst-inspect-1.0 capssetter");
    return ok;
}

// Writes `frames` frames of a test pattern through the encoder and muxer.
std::string gstMovie(const std::string& name, const std::string& format, std::uint32_t w, std::uint32_t h,
                     int frames, const std::string& pattern) {
    std::string path = writeTemp(name, {});
    bool rgb = format != "I420";
    std::string caps = rgb ? "image/x-j2c,colorspace=sRGB,num-components=3" : "image/x-j2c,colorspace=sYUV,num-components=3";
    std::string cmd = "gst-launch-1.0 -q videotestsrc num-buffers=" + std::to_string(frames) + " pattern=" + pattern +
                      " ! video/x-raw,format=" + format + ",width=" + std::to_string(w) + ",height=" + std::to_string(h) +
                      ",framerate=10/1 ! videoconvert ! video/x-raw,format=" + (rgb ? "RGB" : "I420") +
                      " ! avenc_jpeg2000 ! capssetter caps=\"" + caps + "\" ! mj2mux ! filesink location=" + path;
    EXPECT_TRUE(run(cmd)) << cmd;
    return path;
}

// Each codestream in the file, from its start-of-codestream and size markers
// to its end marker; neither marker pair occurs inside coded data.
std::vector<std::vector<std::uint8_t>> codestreamsIn(const std::vector<std::uint8_t>& file) {
    std::vector<std::vector<std::uint8_t>> out;
    for (std::size_t i = 0; i + 4 <= file.size(); ++i) {
        if (file[i] != 0xFF || file[i + 1] != 0x4F || file[i + 2] != 0xFF || file[i + 3] != 0x51) continue;
        std::size_t j = i + 4;
        while (j + 2 <= file.size() && !(file[j] == 0xFF && file[j + 1] == 0xD9)) ++j;
        out.emplace_back(file.begin() + static_cast<long>(i), file.begin() + static_cast<long>(std::min(j + 2, file.size())));
        i = j;
    }
    return out;
}

class Mj2kPeer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveGstElements()) GTEST_SKIP() << "GStreamer's JPEG 2000 encoder or MJ2 muxer is missing";
    }
};

TEST_F(Mj2kPeer, GstreamerRgbFramesEqualOpenJpegDecodeOfEachSample) {
    std::string path = gstMovie("gst-rgb.mj2", "xRGB", 50, 38, 6, "smpte");
    std::vector<std::vector<std::uint8_t>> streams = codestreamsIn(readAll(path));
    ASSERT_EQ(streams.size(), 6u);

    ReaderPtr r = openFile(path);
    EXPECT_EQ(r->getWidth(), 50u);
    EXPECT_EQ(r->getHeight(), 38u);
    EXPECT_EQ(r->getNumColorChannels(), 3u);
    EXPECT_EQ(r->getVideoDataType(), multimedia::common::avbuffer::VIDEO_UINT8);
    EXPECT_EQ(r->getBitsPerPixel(), 24u);
    EXPECT_DOUBLE_EQ(r->getFrameRate(), 10.0);
    EXPECT_DOUBLE_EQ(r->getDuration(), 0.6);
    EXPECT_EQ(r->getVideoCodec(), u"mjp2");
    EXPECT_FALSE(r->hasAudio());

    for (bool rowMajor : {true, false}) {
        r->seekToTime(0.0);
        for (std::size_t i = 0; i < streams.size(); ++i) {
            std::vector<std::uint8_t> got = readOne(*r, rowMajor);
            EXPECT_DOUBLE_EQ(r->getCurrentTime(), 0.1 * i);
            Decoded d = decodeJ2k(streams[i].data(), streams[i].size());
            ASSERT_EQ(d.planes.size(), 3u);
            EXPECT_EQ(got, expectedFrame<std::uint8_t>(d, 3, rowMajor)) << "frame " << i;
        }
        readOne(*r, rowMajor);
        EXPECT_TRUE(r->isEndOfStream());
    }
    // Seeks land on the frame shown at that time.
    for (int k : {4, 1, 5, 0}) {
        r->seekToTime(k / 10.0);
        std::vector<std::uint8_t> got = readOne(*r, true);
        Decoded d = decodeJ2k(streams[k].data(), streams[k].size());
        EXPECT_EQ(got, expectedFrame<std::uint8_t>(d, 3, true)) << "seek to frame " << k;
    }
}

// From I420 input the samples hold luma and half-size chroma: the reader
// converts them to RGB as FFmpeg does when told the planes are full range.
TEST_F(Mj2kPeer, GstreamerI420FramesMatchFfmpegRgb) {
    if (!run("ffmpeg -version")) GTEST_SKIP() << "no ffmpeg";
    const std::uint32_t w = 64, h = 48;
    std::string path = gstMovie("gst-i420.mj2", "I420", w, h, 4, "smpte");
    std::string raw = path + ".rgb";
    ASSERT_TRUE(run("ffmpeg -y -v error -i " + path +
                    " -vf scale=in_range=full:out_range=full:flags=neighbor,format=rgb24 -f rawvideo " + raw));
    std::vector<std::uint8_t> want = readAll(raw);
    ASSERT_EQ(want.size(), std::size_t(w) * h * 3 * 4);

    ReaderPtr r = openFile(path);
    ASSERT_EQ(r->getWidth(), w);
    ASSERT_EQ(r->getNumColorChannels(), 3u);
    r->seekToTime(0.0);
    for (int f = 0; f < 4; ++f) {
        std::vector<std::uint8_t> got = readOne(*r, true);
        ASSERT_NE(r->getCurrentTime(), std::numeric_limits<double>::infinity());
        double sum = 0;
        int worst = 0;
        for (std::size_t i = 0; i < got.size(); ++i) {
            int diff = std::abs(int(got[i]) - int(want[std::size_t(f) * got.size() + i]));
            sum += diff;
            worst = std::max(worst, diff);
        }
        // The two round the conversion differently; the gap stays within a few levels.
        EXPECT_LT(sum / got.size(), 1.0) << "frame " << f;
        EXPECT_LE(worst, 4) << "frame " << f;
    }
}

}  // namespace
