// avi::File write speed: 300 frames of 640x480 24-bit video interleaved with
// 44.1 kHz 16-bit stereo audio (1/25 s per chunk), printed as ratios to
// baselines measured in the same run on the same file system:
//   writing the AVI          vs fwrite() of the same chunks (goal >= 0.9)
//   whole process: raw files -> AVI with avi::File vs ffmpeg -c:v rawvideo
// The files go to $AVI_WRITE_BENCH_DIR, or /tmp.
#include <avi/avifile.hpp>
#include <bench/support/benchratio.hpp>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr unsigned kWidth = 640, kHeight = 480, kFrames = 300;
constexpr unsigned kFrameBytes = kWidth * kHeight * 3;
constexpr unsigned kAudioBytes = 1764 * 4;

std::string dir() {
    const char* d = std::getenv("AVI_WRITE_BENCH_DIR");
    return d && *d ? d : "/tmp";
}

std::string scratch(const std::string& name) {
    return dir() + "/avi_write_bench." + std::to_string(::getpid()) + "." + name;
}

struct Media {
    std::vector<std::vector<char>> frames;
    std::vector<char> audio;
};

const Media& media() {
    static const Media m = [] {
        Media out;
        std::uint32_t x = 12345;
        out.frames.resize(8);  // a few distinct frames, cycled
        for (auto& f : out.frames) {
            f.resize(kFrameBytes);
            for (auto& c : f) c = static_cast<char>(x = x * 1664525u + 1013904223u);
        }
        out.audio.resize(kAudioBytes);
        for (auto& c : out.audio) c = static_cast<char>(x = x * 1664525u + 1013904223u);
        return out;
    }();
    return m;
}

void BM_fwrite(benchmark::State& state) {
    const Media& m = media();
    const std::string path = scratch("fwrite.bin");
    const char head[8] = {};
    for (auto _ : state) {
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) {
            state.SkipWithError("fopen failed");
            break;
        }
        for (unsigned i = 0; i < kFrames; ++i) {
            std::fwrite(head, 1, 8, f);
            std::fwrite(m.audio.data(), 1, m.audio.size(), f);
            std::fwrite(head, 1, 8, f);
            std::fwrite(m.frames[i % m.frames.size()].data(), 1, kFrameBytes, f);
        }
        std::fclose(f);
    }
    std::remove(path.c_str());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kFrames * (kFrameBytes + kAudioBytes));
}

void BM_aviWrite(benchmark::State& state) {
    const Media& m = media();
    const std::string path = scratch("avi.avi");
    std::vector<char> audio(m.audio);
    std::vector<std::vector<char>> frames(m.frames);
    for (auto _ : state) {
        avi::File f;
        if (!f.open(path.c_str(), "w")) {
            state.SkipWithError(f.getErrorMsg());
            break;
        }
        f.setVideoInfo(kWidth, kHeight, 25.0);
        f.setAudioInfo(44100.0, 16, 2, kAudioBytes);
        for (unsigned i = 0; i < kFrames; ++i) {
            f.writeAudio(audio.data());
            f.writeVideoFrame(frames[i % frames.size()].data());
        }
        f.close();
        if (f.getErrorCode()) {
            state.SkipWithError(f.getErrorMsg());
            break;
        }
    }
    std::remove(path.c_str());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kFrames * (kFrameBytes + kAudioBytes));
}

// The process that the whole-process comparison times: raw video and raw
// audio files in, an AVI out.
int mux(const char* videoPath, const char* audioPath, const char* outPath) {
    FILE* video = std::fopen(videoPath, "rb");
    FILE* audio = std::fopen(audioPath, "rb");
    if (!video || !audio) return 1;
    avi::File f;
    if (!f.open(outPath, "w")) return 1;
    f.setVideoInfo(kWidth, kHeight, 25.0);
    f.setAudioInfo(44100.0, 16, 2, kAudioBytes);
    std::vector<char> frame(kFrameBytes), chunk(kAudioBytes);
    while (std::fread(frame.data(), 1, frame.size(), video) == frame.size()) {
        if (std::fread(chunk.data(), 1, chunk.size(), audio) == chunk.size()) f.writeAudio(chunk.data());
        f.writeVideoFrame(frame.data());
    }
    f.close();
    std::fclose(video);
    std::fclose(audio);
    return f.getErrorCode() ? 1 : 0;
}

// Wall-clock seconds of one run of a command, or a negative value on failure.
double timeProcess(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    const auto end = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return std::chrono::duration<double>(end - start).count();
}

double bestOf(int runs, const std::vector<std::string>& args) {
    double best = -1;
    for (int i = 0; i < runs; ++i) {
        const double t = timeProcess(args);
        if (t < 0) return -1;
        best = best < 0 ? t : std::min(best, t);
    }
    return best;
}

// avi::File time / ffmpeg time for the whole process, or -1.
double wholeProcessComparison() {
    const Media& m = media();
    const std::string video = scratch("video.raw"), audio = scratch("audio.raw");
    const std::string ours = scratch("ours.avi"), theirs = scratch("ffmpeg.avi");
    FILE* v = std::fopen(video.c_str(), "wb");
    FILE* a = std::fopen(audio.c_str(), "wb");
    if (!v || !a) return -1;
    for (unsigned i = 0; i < kFrames; ++i) {
        std::fwrite(m.frames[i % m.frames.size()].data(), 1, kFrameBytes, v);
        std::fwrite(m.audio.data(), 1, kAudioBytes, a);
    }
    std::fclose(v);
    std::fclose(a);
    const double tOurs = bestOf(3, {"/proc/self/exe", "--mux", video, audio, ours});
    const double tFfmpeg =
        bestOf(3, {"ffmpeg", "-y", "-v", "error", "-nostdin", "-f", "rawvideo", "-pix_fmt", "bgr24", "-s", "640x480",
                   "-r", "25", "-i", video, "-f", "s16le", "-ar", "44100", "-ac", "2", "-i", audio, "-c:v",
                   "rawvideo", "-c:a", "pcm_s16le", theirs});
    std::printf("whole process, raw files -> AVI (best of 3): avi::File %.3f s, ffmpeg %.3f s\n", tOurs, tFfmpeg);
    for (const auto& p : {video, audio, ours, theirs}) std::remove(p.c_str());
    return tOurs > 0 && tFfmpeg > 0 ? tOurs / tFfmpeg : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--mux") == 0) return mux(argv[2], argv[3], argv[4]);
    // Real time: writing to the page cache is mostly kernel work.
    benchmark::RegisterBenchmark("fwrite", BM_fwrite)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
    benchmark::RegisterBenchmark("aviWrite", BM_aviWrite)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
    benchratio::Session session("avi_write", argc, argv);
    session.run();
    std::printf("\nfiles in %s\n", dir().c_str());
    session.speed("avi::File write speed / fwrite of the same chunks", "aviWrite", "fwrite", 0.9);
    session.value("whole process time, raw files -> AVI: avi::File / ffmpeg", wholeProcessComparison(),
                  benchratio::kNoGoal, true);
    return session.finish();
}
