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

struct Kind {
    std::string name;
    Recipe recipe;
};

// Test names and failure messages show the kind's name, not its bytes.
[[maybe_unused]] void PrintTo(const Kind& kind, std::ostream* os) {
    *os << kind.name;
}

Recipe video(unsigned width, unsigned height, unsigned bits, unsigned frames) {
    Recipe r;
    r.width = width;
    r.height = height;
    r.bitsPerPixel = bits;
    r.frames = frames;
    if (bits == 16 || bits == 32) r.frameBytes = height * aviwrite::rowBytes(width, bits);
    return r;
}

std::vector<Kind> everyKind() {
    std::vector<Kind> kinds;
    kinds.push_back({"rgb24-odd", video(33, 17, 24, 6)});
    kinds.push_back({"rgb24-even", video(32, 16, 24, 5)});
    Recipe pal = video(31, 9, 8, 4);
    pal.colormap = aviwrite::greyPalette(256);
    kinds.push_back({"pal8", pal});
    kinds.push_back({"rgb16", video(11, 6, 16, 4)});
    kinds.push_back({"rgb32", video(10, 6, 32, 4)});
    Recipe yuy2 = video(16, 8, 16, 3);
    yuy2.fourCC = "YUY2";
    yuy2.frameBytes = 16 * 8 * 2;
    kinds.push_back({"fourcc-yuy2", yuy2});
    Recipe audioOnly;
    audioOnly.audio = true;
    audioOnly.audioChunks = 5;
    kinds.push_back({"audio-only", audioOnly});
    Recipe both = video(20, 10, 24, 5);
    both.audio = true;
    both.audioFirst = true;
    both.audioChunks = 5;
    both.frameRate = 10.0;
    kinds.push_back({"audio-first-video", both});
    Recipe odd = video(12, 4, 24, 4);
    odd.audio = true;
    odd.bitsPerSample = 8;
    odd.channels = 1;
    odd.bytesPerChunk = 4411;
    odd.audioChunks = 4;
    kinds.push_back({"odd-audio-chunks", odd});
    return kinds;
}

using Fields = std::map<std::string, std::string>;



// One map of key=value per stream, in stream order.
std::vector<Fields> probe(const std::string& path) {
    const auto result = run("ffprobe -v error -count_frames -show_entries "
                            "stream=index,codec_type,width,height,r_frame_rate,nb_read_frames,sample_rate,channels "
                            "-of compact=p=0 '" + path + "'");
    std::vector<Fields> streams;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        Fields fields;
        std::istringstream parts(line);
        for (std::string part; std::getline(parts, part, '|');) {
            const auto eq = part.find('=');
            if (eq != std::string::npos) fields[part.substr(0, eq)] = part.substr(eq + 1);
        }
        if (!fields.empty()) streams.push_back(fields);
    }
    return streams;
}

// Per stream, the md5 of every packet in order.
std::map<int, std::vector<std::string>> frameHashes(const std::string& path, const std::string& options) {
    const auto result = run("ffmpeg -v error -nostdin -i '" + path + "' " + options + " -f framemd5 - 2>/dev/null");
    std::map<int, std::vector<std::string>> hashes;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> cols;
        std::istringstream parts(line);
        for (std::string c; std::getline(parts, c, ',');) cols.push_back(c.substr(c.find_first_not_of(' ')));
        // Packets with side data (a palette) carry further columns after the hash.
        if (cols.size() >= 6) hashes[std::stoi(cols[0])].push_back(cols[5]);
    }
    return hashes;
}

struct Flow {
    int buffers = 0;
    std::uint64_t bytes = 0;
};

// Buffers (and their bytes) that pass a converter after avidemux, for one pad.
Flow gstFlow(const std::string& path, const std::string& pad, const std::string& convert) {
    const std::string chain = convert.empty() ? std::string() : " ! " + convert;
    const auto result = run("gst-launch-1.0 -v filesrc location='" + path + "' ! avidemux name=d d." + pad +
                            " ! queue" + chain + " ! identity silent=false ! fakesink 2>/dev/null");
    Flow flow;
    std::istringstream lines(result.out);
    const std::string mark = "identity0: last-message = chain";
    for (std::string line; std::getline(lines, line);) {
        if (line.find(mark) == std::string::npos) continue;
        ++flow.buffers;
        const auto open = line.find(") (");
        if (open != std::string::npos) flow.bytes += std::stoull(line.substr(open + 3));
    }
    return flow;
}

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
