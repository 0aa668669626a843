// Motion JPEG 2000 files written by GStreamer's JPEG 2000 encoder and MJ2
// muxer, in every input format the encoder takes, read through the plugin
// as a host reads them and compared frame by frame with FFmpeg's and
// GStreamer's decodes of the same file; and against OpenJPEG's decode of each
// sample, exactly, across seeks.

#include "common.hpp"
#include "gstfiles.hpp"

#include <host/lib/pluginhost.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <regex>
#include <sstream>

using namespace mj2test;

namespace {

struct Case {
    GstFileKind kind;
    std::size_t channels;
    int bytes;                // per delivered sample
    std::string ffmpegFormat;  // empty: FFmpeg reads this file differently (see below)
    std::string gstFormat;
    // FFmpeg repeats subsampled chroma where GStreamer and this reader
    // interpolate it: on the sharp colour edges of the test card that alone
    // costs about 10 dB. Its decode of subsampled luma/chroma is checked
    // against this lower bound, which a full-range reading (contrast off by
    // 219/255 on every sample) does not reach.
    double ffmpegDb = 35.0;
};

std::ostream& operator<<(std::ostream& os, const Case& c) { return os << c.kind.name(); }

const std::vector<Case> kCases = {
    {{"xRGB", 97, 65, 3, ""}, 3, 1, "rgb24", "RGB"},
    {{"ARGB", 97, 65, 3, ""}, 3, 1, "rgb24", "RGB"},
    {{"ARGB64", 97, 65, 3, ""}, 3, 2, "rgb48le", "ARGB64"},
    {{"GRAY8", 97, 65, 3, ""}, 1, 1, "gray", "GRAY8"},
    {{"GRAY16_LE", 97, 65, 3, ""}, 1, 2, "gray16le", "GRAY16_LE"},
    // GStreamer's 8-bit fast path from luma/chroma to RGB repeats chroma
    // too; its general path (taken for 16-bit RGB) interpolates, and is the
    // reference for these, brought to 8 bits.
    {{"I420", 97, 65, 3, ""}, 3, 1, "rgb24", "ARGB64", 20.0},
    {{"Y42B", 97, 65, 3, ""}, 3, 1, "rgb24", "ARGB64", 20.0},
    {{"Y41B", 97, 65, 3, ""}, 3, 1, "rgb24", "ARGB64", 17.0},
    {{"I420_10LE", 97, 65, 3, ""}, 3, 2, "rgb48le", "ARGB64", 20.0},
    // Without subsampling FFmpeg takes the three components for RGB (it
    // ignores the colour box): GStreamer is the reference.
    {{"Y444", 97, 65, 3, ""}, 3, 1, "", "ARGB64"},
    {{"Y444_10LE", 97, 65, 3, ""}, 3, 2, "", "ARGB64"},
    {{"I420", 33, 17, 3, "num-resolutions=2"}, 3, 1, "rgb24", "ARGB64", 17.0},
    {{"GRAY8", 33, 17, 2, "num-resolutions=2"}, 1, 1, "gray", "GRAY8"},
    {{"xRGB", 1280, 720, 2, ""}, 3, 1, "rgb24", "RGB"},
    // FFmpeg converts untagged HD luma/chroma with the BT.601 matrix, where
    // GStreamer (and this reader) use BT.709: GStreamer is the reference.
    {{"I420", 1280, 720, 2, ""}, 3, 1, "", "ARGB64"},
};

struct Delivered {
    std::vector<std::uint8_t> bytes;  // every frame, row-major interleaved
    std::vector<double> times;
    std::size_t frameBytes = 0;
};

std::shared_ptr<mmhost::Plugin> plugin() {
    static std::shared_ptr<mmhost::Plugin> loaded =
        mmhost::Plugin::load(std::string(std::getenv("MM_BUILD_DIR")) + "/lib/libmj2kplugin.so");
    return loaded;
}

Delivered readThroughHost(const std::string& path, const Case& c) {
    Delivered out;
    auto device = plugin()->createDevice();
    EXPECT_TRUE(device->initialize(u16(path)));
    EXPECT_EQ(device->properties().get<double>("NumColorChannels"), double(c.channels));
    EXPECT_EQ(device->properties().get<double>("BitsPerPixel"), double(c.channels * c.bytes * 8));
    device->start(0.0, true);
    while (device->isDataAvailable()) {
        mmhost::BufferPtr buffer = device->getData();
        if (!buffer) break;
        video::VideoFrame* frame = mmhost::asFrame(buffer);
        out.frameBytes = frame->buffer->sizeInBytes;
        EXPECT_EQ(frame->buffer->sizeInBytes, std::size_t(c.kind.width) * c.kind.height * c.channels * c.bytes);
        EXPECT_EQ(frame->buffer->numChannels, c.channels);
        const auto* data = static_cast<const std::uint8_t*>(frame->buffer->data);
        out.bytes.insert(out.bytes.end(), data, data + frame->buffer->sizeInBytes);
        out.times.push_back(frame->timestamp);
    }
    return out;
}

// GStreamer's 16-bit RGB comes with alpha first: keep the colour, in samples
// of `bytes` bytes (rounded to 8 bits for 1).
std::vector<std::uint8_t> colourOfArgb64(const std::vector<std::uint8_t>& argb, int bytes) {
    std::vector<std::uint8_t> rgb;
    for (std::size_t i = 0; i + 8 <= argb.size(); i += 8)
        for (std::size_t c = 1; c < 4; ++c) {
            const unsigned v = argb[i + 2 * c] | (argb[i + 2 * c + 1] << 8);
            if (bytes == 2) {
                rgb.push_back(static_cast<std::uint8_t>(v & 0xFF));
                rgb.push_back(static_cast<std::uint8_t>(v >> 8));
            } else {
                rgb.push_back(static_cast<std::uint8_t>((v * 255 + 32767) / 65535));
            }
        }
    return rgb;
}

// The worst frame's PSNR against a peer's decode; -1 when the sizes differ.
double worstPsnr(const Delivered& got, const std::vector<std::uint8_t>& want, int bytes) {
    if (want.size() != got.bytes.size() || got.frameBytes == 0) return -1;
    double worst = std::numeric_limits<double>::infinity();
    for (std::size_t at = 0; at < want.size(); at += got.frameBytes)
        worst = std::min(worst, psnr(got.bytes.data() + at, want.data() + at, got.frameBytes / bytes, bytes));
    return worst;
}

class Mj2kGstFiles : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        if (!haveOpenJpegEnc()) GTEST_SKIP() << "GStreamer's openjpegenc or mj2mux is missing";
        if (!runQuiet("ffmpeg -version")) GTEST_SKIP() << "no ffmpeg";
    }
};

TEST_P(Mj2kGstFiles, EveryFrameAsThePeersDecodeIt) {
    const Case& c = GetParam();
    const std::string path = gstFile(c.kind);
    ASSERT_FALSE(path.empty()) << "GStreamer could not write " << c.kind.name();

    const Delivered got = readThroughHost(path, c);
    ASSERT_EQ(got.times.size(), std::size_t(c.kind.frames));
    const std::vector<double> peerTimes = ffprobeTimes(path);
    ASSERT_EQ(peerTimes.size(), got.times.size());
    for (std::size_t i = 0; i < got.times.size(); ++i) EXPECT_NEAR(got.times[i], peerTimes[i], 1e-6) << "frame " << i;

    if (!c.ffmpegFormat.empty()) {
        const double db = worstPsnr(got, ffmpegFrames(path, c.ffmpegFormat), c.bytes);
        std::printf("  %-22s PSNR vs FFmpeg    %6.1f dB\n", c.kind.name().c_str(), std::min(db, 99.0));
        EXPECT_GE(db, c.ffmpegDb);
    }
    const bool argb64 = c.gstFormat == "ARGB64";
    std::vector<std::uint8_t> gst =
        gstFrames(path, c.gstFormat, std::size_t(c.kind.width) * (argb64 ? 8 : c.channels * c.bytes), c.kind.height);
    if (argb64) gst = colourOfArgb64(gst, c.bytes);
    const double db = worstPsnr(got, gst, c.bytes);
    std::printf("  %-22s PSNR vs GStreamer %6.1f dB\n", c.kind.name().c_str(), std::min(db, 99.0));
    EXPECT_GE(db, 35.0);

    // mmtool, driving the same plugin, lists the same frames at the same times.
    const std::string listing = path + ".frames";
    ASSERT_EQ(std::system((std::string(std::getenv("MM_BUILD_DIR")) + "/bin/mmtool frames " + path + " > " + listing).c_str()), 0);
    std::vector<std::uint8_t> text = readBytes(listing);
    std::istringstream lines(std::string(text.begin(), text.end()));
    const std::regex frameLine(R"(^\s*(\d+)\s+t=(\S+)\s+(\d+)x(\d+)x(\d+))");
    std::size_t listed = 0;
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (!std::regex_search(line, m, frameLine)) continue;
        ASSERT_LT(listed, got.times.size());
        EXPECT_NEAR(std::stod(m[2]), got.times[listed], 1e-6);
        EXPECT_EQ(std::stoul(m[5]), c.channels);
        ++listed;
    }
    EXPECT_EQ(listed, got.times.size());
}

INSTANTIATE_TEST_SUITE_P(AllKinds, Mj2kGstFiles, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.kind.name() == "" ? std::string("x") : [&] {
                             std::string n = info.param.kind.name();
                             for (char& ch : n) if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return n;
                         }(); });

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

// Decoding ahead must not change a byte or the order, in either layout and
// across seeks that throw away the frame decoded ahead.
TEST(Mj2kGstExact, RgbFramesEqualOpenJpegDecodeOfEachSampleAcrossSeeks) {
    if (!haveOpenJpegEnc()) GTEST_SKIP() << "GStreamer's openjpegenc or mj2mux is missing";
    const std::string path = gstFile({"xRGB", 50, 38, 6, "", "ball"});
    ASSERT_FALSE(path.empty());
    std::vector<std::vector<std::uint8_t>> streams = codestreamsIn(readBytes(path));
    ASSERT_EQ(streams.size(), 6u);

    ReaderPtr r = openFile(path);
    EXPECT_EQ(r->getVideoDataType(), multimedia::common::avbuffer::VIDEO_UINT8);
    EXPECT_DOUBLE_EQ(r->getFrameRate(), 30.0);
    EXPECT_DOUBLE_EQ(r->getDuration(), 0.2);
    EXPECT_EQ(r->getVideoCodec(), u"mjp2");
    for (bool rowMajor : {true, false}) {
        r->seekToTime(0.0);
        for (std::size_t i = 0; i < streams.size(); ++i) {
            std::vector<std::uint8_t> got = readOne(*r, rowMajor);
            EXPECT_NEAR(r->getCurrentTime(), i / 30.0, 1e-9);
            Decoded d = decodeJ2k(streams[i].data(), streams[i].size());
            ASSERT_EQ(d.planes.size(), 3u);
            EXPECT_EQ(got, expectedFrame<std::uint8_t>(d, 3, rowMajor)) << "frame " << i;
        }
        readOne(*r, rowMajor);
        EXPECT_TRUE(r->isEndOfStream());
    }
    for (int k : {4, 1, 2, 5, 0, 3}) {
        r->seekToTime(k / 30.0);
        std::vector<std::uint8_t> got = readOne(*r, true);
        Decoded d = decodeJ2k(streams[k].data(), streams[k].size());
        EXPECT_EQ(got, expectedFrame<std::uint8_t>(d, 3, true)) << "seek to frame " << k;
    }
}

}  // namespace
