// Files beyond one RIFF chunk: OpenDML segmentation into "AVIX" chunks read
// back through our reader and FFmpeg, and the refusal of a RIFF chunk that
// has no super-index entry left. Several gigabytes each; labelled "large".
#include "aviwrite_support.hpp"

#include <gtest/gtest.h>

#include <sys/statvfs.h>

#include <cstring>
#include <filesystem>

using aviwrite::Bytes;
using aviwrite::run;
using aviwrite::scratchDir;
using aviwrite::scratchFile;
namespace errors = avi::errors;

namespace {

constexpr unsigned WIDTH = 640, HEIGHT = 480;
constexpr unsigned FRAME_BYTES = WIDTH * HEIGHT * 3;
constexpr unsigned AUDIO_BYTES = 1764 * 4;  // 1/25 s of 44.1 kHz 16-bit stereo

// Frames and audio chunks share one base pattern, stamped with their number
// at both ends so that a misplaced chunk shows.
std::vector<char> stamped(const std::vector<char>& base, std::uint64_t n) {
    std::vector<char> out(base);
    std::memcpy(out.data(), &n, sizeof n);
    std::memcpy(out.data() + out.size() - sizeof n, &n, sizeof n);
    return out;
}

std::uint64_t freeBytes(const std::string& dir) {
    struct statvfs s {};
    if (::statvfs(dir.c_str(), &s) != 0) return 0;
    return std::uint64_t(s.f_bavail) * s.f_frsize;
}

std::string probeCount(const std::string& path, const std::string& stream) {
    const auto r = run("ffprobe -v error -count_packets -select_streams " + stream +
                       " -show_entries stream=nb_read_packets -of csv=p=0 '" + path + "'");
    return r.out.substr(0, r.out.find_first_of("\n,"));
}

// Top-level RIFF chunks of the file: (form type, size field).
std::vector<std::pair<std::string, std::uint64_t>> riffChunks(const std::string& path) {
    std::vector<std::pair<std::string, std::uint64_t>> out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    unsigned char head[12];
    for (std::uint64_t at = 0; fseeko(f, static_cast<off_t>(at), SEEK_SET) == 0 && std::fread(head, 1, 12, f) == 12;) {
        if (std::memcmp(head, "RIFF", 4) != 0) break;
        const std::uint64_t size = head[4] | head[5] << 8 | head[6] << 16 | std::uint64_t(head[7]) << 24;
        out.emplace_back(std::string(reinterpret_cast<char*>(head) + 8, 4), size);
        at += 8 + size;
    }
    std::fclose(f);
    return out;
}

}  // namespace

TEST(AviWriteLarge, SeveralAvixChunksWithAudioReadBackEverywhere) {
    const std::uint64_t frames = 4800;  // about 4.5 GB: three RIFF chunks
    if (freeBytes(scratchDir()) < 8ull << 30) GTEST_SKIP() << "needs 8 GB free in " << scratchDir();
    const std::string path = scratchFile("large.avi");
    const std::vector<char> frameBase = aviwrite::pattern(FRAME_BYTES, 1);
    const std::vector<char> audioBase = aviwrite::pattern(AUDIO_BYTES, 2);
    {
        avi::File f;
        ASSERT_TRUE(f.open(path.c_str(), "w"));
        f.setVideoInfo(WIDTH, HEIGHT, 25.0);
        f.setAudioInfo(44100.0, 16, 2, AUDIO_BYTES);
        for (std::uint64_t i = 0; i < frames; ++i) {
            std::vector<char> a = stamped(audioBase, i), v = stamped(frameBase, i);
            f.writeAudio(a.data());
            f.writeVideoFrame(v.data());
            ASSERT_EQ(f.getErrorCode(), errors::NO_ERROR) << "chunk " << i << ": " << f.getErrorMsg();
        }
        f.close();
        ASSERT_EQ(f.getErrorCode(), errors::NO_ERROR) << f.getErrorMsg();
    }

    const auto riffs = riffChunks(path);
    ASSERT_GE(riffs.size(), 3u);
    EXPECT_EQ(riffs[0].first, "AVI ");
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < riffs.size(); ++i) {
        if (i > 0) {
            EXPECT_EQ(riffs[i].first, "AVIX");
            EXPECT_LE(riffs[i].second, 0x7FFFFFFFu);
        }
        total += 8 + riffs[i].second;
    }
    EXPECT_EQ(total, std::filesystem::file_size(path));

    {
        avi::File f;
        ASSERT_TRUE(f.open(path.c_str(), "r")) << f.getErrorMsg();
        EXPECT_EQ(f.getErrorCode(), errors::NO_ERROR) << f.getErrorMsg();
        EXPECT_EQ(f.getVideoIndexSource(), avi::IndexSource::OpenDML);
        ASSERT_EQ(f.getVideoTotalFrames(), frames);
        std::vector<char> frame(FRAME_BYTES);
        for (std::uint64_t i = 0; i < frames; ++i) {
            f.readVideoFrame(frame.data(), static_cast<long>(i));
            ASSERT_TRUE(frame == stamped(frameBase, i)) << "frame " << i;
        }
        // The audio of every RIFF chunk counts, not only the first one's.
        ASSERT_EQ(f.getAudioTotalBytes(), frames * AUDIO_BYTES);
        std::vector<char> chunk(AUDIO_BYTES);
        for (std::uint64_t i = 0; i < frames; ++i) {
            f.readAudio(chunk.data(), chunk.size());
            ASSERT_TRUE(chunk == stamped(audioBase, i)) << "audio chunk " << i;
        }
        EXPECT_TRUE(f.isEndOfAudio());
    }
    EXPECT_EQ(probeCount(path, "v:0"), std::to_string(frames));
    std::filesystem::remove(path);
}

TEST(AviWriteLarge, RiffChunkWithoutSuperIndexEntryIsRefused) {
    if (freeBytes(scratchDir()) < 4ull << 30) GTEST_SKIP() << "needs 4 GB free in " << scratchDir();
    const std::string path = scratchFile("one-slot.avi");
    const std::vector<char> frameBase = aviwrite::pattern(FRAME_BYTES, 3);
    std::uint64_t accepted = 0;
    {
        avi::File f;
        ASSERT_TRUE(f.open(path.c_str(), "w"));
        f.setNumSuperIndexEntries(1);
        f.setVideoInfo(WIDTH, HEIGHT, 25.0);
        for (std::uint64_t i = 0; i < 3000; ++i) {
            std::vector<char> v = stamped(frameBase, i);
            f.writeVideoFrame(v.data());
            if (f.getErrorCode() != errors::NO_ERROR) break;
            ++accepted;
        }
        EXPECT_EQ(f.getErrorCode(), errors::INVALID_INDEX_OFFSET);
        EXPECT_GT(accepted, 2000u);
        EXPECT_LT(accepted, 2400u);
        // Later frames are refused the same way; the file stays one RIFF chunk.
        f.clearError();
        std::vector<char> v = stamped(frameBase, 9999);
        f.writeVideoFrame(v.data());
        EXPECT_EQ(f.getErrorCode(), errors::INVALID_INDEX_OFFSET);
        f.clearError();
        f.close();
        EXPECT_EQ(f.getErrorCode(), errors::NO_ERROR) << f.getErrorMsg();
    }
    const auto riffs = riffChunks(path);
    ASSERT_EQ(riffs.size(), 1u);
    EXPECT_EQ(8 + riffs[0].second, std::filesystem::file_size(path));
    {
        avi::File f;
        ASSERT_TRUE(f.open(path.c_str(), "r")) << f.getErrorMsg();
        ASSERT_EQ(f.getVideoTotalFrames(), accepted);
        std::vector<char> frame(FRAME_BYTES);
        for (std::uint64_t i = 0; i < accepted; i += 97) {
            f.readVideoFrame(frame.data(), static_cast<long>(i));
            ASSERT_TRUE(frame == stamped(frameBase, i)) << "frame " << i;
        }
        f.readVideoFrame(frame.data(), static_cast<long>(accepted - 1));
        EXPECT_TRUE(frame == stamped(frameBase, accepted - 1));
    }
    EXPECT_EQ(probeCount(path, "v:0"), std::to_string(accepted));
    std::filesystem::remove(path);
}
