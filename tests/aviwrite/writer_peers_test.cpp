// Files written by the writer as the outside world sees them: FFmpeg's
// demuxer and decoder, and GStreamer's avidemux.
#include "aviwrite_support.hpp"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

using aviwrite::md5;
using aviwrite::Recipe;
using aviwrite::run;
using aviwrite::scratchFile;
using aviwrite::writeFile;
using aviwrite::Written;

namespace {

using aviwrite::everyKind;
using aviwrite::frameHashes;
using aviwrite::gstFlow;
using aviwrite::Kind;
using aviwrite::probe;
using aviwrite::Fields;

std::vector<std::string> hashesOf(const std::vector<std::vector<char>>& chunks) {
    std::vector<std::string> out;
    for (const auto& c : chunks) out.push_back(md5(c.data(), c.size()));
    return out;
}

}  // namespace

class AviWritePeers : public ::testing::TestWithParam<Kind> {};

TEST_P(AviWritePeers, FfmpegReadsEveryFrameAsWritten) {
    const Kind& kind = GetParam();
    const Recipe& r = kind.recipe;
    const std::string path = scratchFile("peer-" + kind.name + ".avi");
    const Written w = writeFile(path, r);
    ASSERT_EQ(w.error, avi::errors::NO_ERROR);

    const auto streams = probe(path);
    ASSERT_EQ(streams.size(), (r.frames ? 1u : 0u) + (r.audio ? 1u : 0u));
    const int videoStream = !r.frames ? -1 : (r.audio && r.audioFirst ? 1 : 0);
    const int audioStream = !r.audio ? -1 : (r.frames && !r.audioFirst ? 1 : 0);
    if (videoStream >= 0) {
        const Fields& v = streams[videoStream];
        EXPECT_EQ(v.at("codec_type"), "video");
        EXPECT_EQ(v.at("width"), std::to_string(r.width));
        EXPECT_EQ(v.at("height"), std::to_string(r.height));
        EXPECT_EQ(v.at("r_frame_rate"), std::to_string(int(r.frameRate)) + "/1");
        EXPECT_EQ(v.at("nb_read_frames"), std::to_string(r.frames));
    }
    if (audioStream >= 0) {
        const Fields& a = streams[audioStream];
        EXPECT_EQ(a.at("codec_type"), "audio");
        EXPECT_EQ(a.at("sample_rate"), std::to_string(int(r.sampleRate)));
        EXPECT_EQ(a.at("channels"), std::to_string(r.channels));
    }

    // Packets unchanged by the demuxer are exactly the chunks written.
    auto packets = frameHashes(path, "-map 0 -c copy");
    if (videoStream >= 0) {
        EXPECT_EQ(packets[videoStream], hashesOf(w.frames));
    }
    if (audioStream >= 0) {
        // The demuxer cuts PCM chunks into packets of its own size: compare
        // the whole stream instead.
        std::vector<char> audio;
        for (const auto& c : w.audio) audio.insert(audio.end(), c.begin(), c.end());
        const auto whole = run("ffmpeg -v error -nostdin -i '" + path + "' -map 0:a -c copy -f md5 - 2>/dev/null");
        EXPECT_EQ(whole.out, "MD5=" + md5(audio.data(), audio.size()) + "\n");
    }

    // Decoded 24-bit pictures: bottom-up rows with padding become top-down
    // rows without it.
    if (videoStream >= 0 && r.bitsPerPixel == 24 && r.fourCC.empty()) {
        std::vector<std::vector<char>> pictures;
        const std::size_t stride = aviwrite::rowBytes(r.width, 24), row = 3 * r.width;
        for (const auto& f : w.frames) {
            std::vector<char> p;
            for (std::size_t y = r.height; y-- > 0;) p.insert(p.end(), &f[y * stride], &f[y * stride + row]);
            pictures.push_back(p);
        }
        auto decoded = frameHashes(path, "-map 0:v -pix_fmt bgr24");
        EXPECT_EQ(decoded[0], hashesOf(pictures));
    }
}

TEST_P(AviWritePeers, GstreamerDemuxesAndConvertsEveryFrame) {
    const Kind& kind = GetParam();
    const Recipe& r = kind.recipe;
    const std::string path = scratchFile("gst-" + kind.name + ".avi");
    const Written w = writeFile(path, r);
    ASSERT_EQ(w.error, avi::errors::NO_ERROR);
    if (r.frames) {
        // GStreamer maps 16-bit RGB DIBs to no raw format: those are checked
        // through the demuxer alone.
        const bool decodable = !(r.bitsPerPixel == 16 && r.fourCC.empty());
        EXPECT_EQ(gstFlow(path, "video_0", decodable ? "videoconvert" : "").buffers, int(r.frames));
    }
    if (r.audio) {
        std::uint64_t bytes = 0;
        for (const auto& c : w.audio) bytes += c.size();
        EXPECT_EQ(gstFlow(path, "audio_0", "audioconvert").bytes, bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryKind, AviWritePeers, ::testing::ValuesIn(everyKind()),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });
