// A file while it is written: odd-sized frames stay on the RIFF grid, and a
// recording killed at any moment is a file that our scan and FFmpeg read to
// its last whole frame, and GStreamer up to the last refresh of its header
// region.
#include "aviwrite_support.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>

using aviwrite::Bytes;
using aviwrite::gstFlow;
using aviwrite::pattern;
using aviwrite::probe;
using aviwrite::readAll;
using aviwrite::scratchFile;

namespace {

bool havePeers() {
    return aviwrite::run("command -v ffprobe >/dev/null && command -v gst-launch-1.0 >/dev/null").status == 0;
}

// Hides a finished file's indexes, as if it had none: the super indexes
// count no entry and idx1 becomes a JUNK chunk.
void dropIndexes(const std::string& path) {
    Bytes b = readAll(path);
    for (std::size_t at = 0; at + 8 <= b.size(); ++at) {
        if (b.str(at) == "indx") b.data[at + 8 + 4] = b.data[at + 8 + 5] = b.data[at + 8 + 6] = b.data[at + 8 + 7] = 0;
        if (b.str(at) == "idx1") std::memcpy(&b.data[at], "JUNK", 4);
    }
    FILE* out = std::fopen(path.c_str(), "wb");
    std::fwrite(b.data.data(), 1, b.size(), out);
    std::fclose(out);
}

constexpr unsigned kWidth = 16, kHeight = 8, kFrameBytes = kWidth * kHeight * 3, kAudioBytes = 320;

// The child: 25 frames and 8000 audio bytes a second of media, as fast as it
// can, until it is killed (or has written enough and waits for it).
[[noreturn]] void record(const std::string& path) {
    avi::File f;
    if (!f.open(path.c_str(), "w")) ::_exit(1);
    f.setVideoInfo(kWidth, kHeight, 25.0);
    f.setAudioInfo(8000.0, 8, 1, kAudioBytes);
    for (unsigned i = 0; i < 20000; ++i) {
        std::vector<char> frame = pattern(kFrameBytes, i), audio = pattern(kAudioBytes, 100000 + i);
        f.writeVideoFrame(frame.data());
        f.writeAudio(audio.data());
    }
    for (;;) ::pause();
}

// The whole video chunks in a file, counted by walking its chunks from the
// first "movi" list to the end of the file (whatever the headers say).
std::uint32_t wholeVideoChunks(const std::string& path) {
    const Bytes b = readAll(path);
    std::size_t at = 12;
    while (at + 12 <= b.size() && !(b.str(at) == "LIST" && b.str(at + 8) == "movi")) at += 8 + (b.u32(at + 4) + 1) / 2 * 2;
    std::uint32_t frames = 0;
    for (at += 12; at + 8 <= b.size(); at += 8 + (b.u32(at + 4) + 1) / 2 * 2) {
        if (b.str(at) == "00db" && at + 8 + b.u32(at + 4) <= b.size()) ++frames;
    }
    return frames;
}

std::uint32_t headerFrames(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    unsigned char v[4] = {};
    const bool got = fd >= 0 && ::pread(fd, v, 4, 48) == 4;
    if (fd >= 0) ::close(fd);
    return got ? v[0] | v[1] << 8 | v[2] << 16 | std::uint32_t(v[3]) << 24 : 0;
}

}  // namespace

TEST(AviWriteRecording, OddFramesArePaddedAndFoundWithoutAnIndex) {
    const std::string path = scratchFile("odd-frames.avi");
    const std::vector<unsigned> sizes = {17, 20, 21, 3};
    std::vector<std::vector<char>> frames;
    {
        avi::File f;
        ASSERT_TRUE(f.open(path.c_str(), "w"));
        f.setVideoInfo(8, 8, 25.0, "MJPG");
        for (unsigned k = 0; k < sizes.size(); ++k) {
            frames.push_back(pattern(sizes[k], k));
            f.writeVideoFrame(frames.back().data(), sizes[k]);
        }
        f.close();
        ASSERT_EQ(f.getErrorCode(), avi::errors::NO_ERROR);
    }
    const Bytes b = readAll(path);
    EXPECT_EQ(b.str(65824 + 8 + 17 + 1), "00dc");  // after the pad byte
    dropIndexes(path);
    avi::File back;
    ASSERT_TRUE(back.open(path.c_str(), "r"));
    ASSERT_EQ(back.getVideoTotalFrames(), sizes.size());
    for (unsigned k = 0; k < sizes.size(); ++k) {
        std::vector<char> got(back.getRawVideoFrameSize(k));
        back.readVideoFrame(got.data(), k);
        EXPECT_EQ(got, frames[k]) << k;
    }
    if (!havePeers()) GTEST_SKIP() << "gst-launch-1.0 not installed";
    const auto flow = gstFlow(path, "video_0", "");
    EXPECT_EQ(flow.buffers, int(sizes.size()));
    EXPECT_EQ(flow.bytes, 17u + 20 + 21 + 3);
}

TEST(AviWriteRecording, KilledRecordingIsReadToItsLastWholeFrame) {
    if (!havePeers()) GTEST_SKIP() << "ffprobe or gst-launch-1.0 not installed";
    for (std::uint32_t wait : {30u, 400u}) {
        SCOPED_TRACE(wait);
        const std::string path = scratchFile("killed-" + std::to_string(wait) + ".avi");
        std::remove(path.c_str());
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) record(path);
        // Kill as soon as the header region counts `wait` frames.
        for (int i = 0; i < 20000 && headerFrames(path) < wait; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        const std::uint32_t refreshed = headerFrames(path);
        ASSERT_GE(refreshed, wait);

        // Our reader: no index, so the walk of the movi list finds the chunks,
        // every whole one, also those written after the last refresh.
        avi::File f;
        ASSERT_TRUE(f.open(path.c_str(), "r")) << f.getErrorMsg();
        const std::uint32_t frames = f.getVideoTotalFrames();
        EXPECT_EQ(frames, wholeVideoChunks(path));
        EXPECT_GE(frames, refreshed);
        std::vector<char> frame(kFrameBytes);
        for (std::uint32_t k = 0; k < frames; ++k) {
            f.readVideoFrame(frame.data(), k);
            ASSERT_EQ(frame, pattern(kFrameBytes, k)) << "frame " << k;
        }
        std::vector<char> audio(kAudioBytes);
        std::uint32_t chunks = 0;
        for (; !f.isEndOfAudio() && chunks < 30000; ++chunks) {
            f.readAudio(audio.data(), kAudioBytes);
            ASSERT_EQ(f.getErrorCode(), avi::errors::NO_ERROR);
            if (f.isEndOfAudio() && f.getAudioBytesRead() % kAudioBytes) break;
            ASSERT_EQ(audio, pattern(kAudioBytes, 100000 + chunks)) << "audio chunk " << chunks;
        }
        // The last refresh may fall between a frame and its audio chunk.
        EXPECT_GE(chunks + 1, refreshed);

        // FFmpeg counts the frames; GStreamer's avidemux demuxes them (and
        // does not hang: the run is bounded).
        auto streams = probe(path);
        ASSERT_EQ(streams.size(), 2u);
        EXPECT_EQ(std::stoul(streams[0]["nb_read_frames"]), frames);
        EXPECT_GE(gstFlow(path, "video_0", "").buffers, int(refreshed));
        EXPECT_GE(gstFlow(path, "audio_0", "").bytes, std::uint64_t(refreshed - 1) * kAudioBytes);
        std::remove(path.c_str());
    }
}
