// avi::File read speed on 640x480 files in the page cache, printed as ratios
// to baselines measured in the same run:
//   raw frame reads (sequential, random)    vs pread() of the same bytes, on
//                                           bottom-up and top-down (negative
//                                           height, FFmpeg's default) files
//   RGB24 conversion of 8/16/32-bit frames  vs memcpy() of the 24-bit output
// Goals: raw reads at least 0.95 of pread; a conversion (its read time taken
// out) at most 3x the memcpy of its output.
#include <avi/avifile.hpp>
#include <bench/support/benchratio.hpp>
#include <support/avibuilder.hpp>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 640, kHeight = 480, kFrames = 300;

struct Sample {
    std::string path;
    std::vector<std::uint64_t> dataPos;  // file position of each frame's data
    std::size_t frameBytes = 0;
};

std::map<int, Sample>& samples() {
    static std::map<int, Sample> s;
    return s;
}

// A sample by depth; a negative key is the same depth with top-down rows.
const Sample& sample(int key) {
    auto& all = samples();
    auto it = all.find(key);
    if (it != all.end()) return it->second;
    const int bits = key < 0 ? -key : key;
    avitest::AviRecipe recipe;
    recipe.width = kWidth;
    recipe.height = key < 0 ? -kHeight : kHeight;
    recipe.bits = static_cast<std::uint16_t>(bits);
    const std::size_t stride = static_cast<std::size_t>((kWidth * bits + 31) / 32 * 4);
    std::mt19937 rng(bits);
    std::string frame(stride * kHeight, '\0');
    for (auto& c : frame) c = static_cast<char>(rng());
    // distinct frames would only slow the set-up; the reads do not care
    recipe.frames.assign(kFrames, frame);
    const avitest::Built built = avitest::buildAvi(recipe);
    Sample s;
    s.path = "/tmp/avi_read_bench." + std::to_string(::getpid()) + "." + std::to_string(key) + ".avi";
    avitest::writeFile(s.path, built.bytes);
    for (auto p : built.videoChunkPos) s.dataPos.push_back(p + 8);
    s.frameBytes = frame.size();
    return all.emplace(key, std::move(s)).first->second;
}

std::vector<long> order(bool random) {
    std::vector<long> v(kFrames);
    for (int i = 0; i < kFrames; ++i) v[i] = i;
    if (random) std::shuffle(v.begin(), v.end(), std::mt19937(7));
    return v;
}

void BM_pread(benchmark::State& state, int bits, bool random) {
    const Sample& s = sample(bits);
    const int fd = ::open(s.path.c_str(), O_RDONLY);
    std::vector<char> buf(s.frameBytes);
    const auto frames = order(random);
    std::size_t i = 0;
    for (auto _ : state) {
        const long k = frames[i++ % frames.size()];
        if (::pread(fd, buf.data(), buf.size(), static_cast<off_t>(s.dataPos[k])) != static_cast<ssize_t>(buf.size()))
            state.SkipWithError("short pread");
        benchmark::DoNotOptimize(buf.data());
    }
    ::close(fd);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * s.frameBytes));
}

void BM_readVideoFrame(benchmark::State& state, int bits, bool random) {
    const Sample& s = sample(bits);
    avi::File f;
    if (!f.open(s.path.c_str(), "r")) state.SkipWithError(f.getErrorMsg());
    std::vector<char> buf(f.getRawVideoFrameSize(0));
    const auto frames = order(random);
    std::size_t i = 0;
    for (auto _ : state) {
        if (random) {
            f.readVideoFrame(buf.data(), frames[i++ % frames.size()]);
        } else {
            if (f.isEndOfVideo()) f.resetVideo();
            f.readVideoFrame(buf.data());
        }
        benchmark::DoNotOptimize(buf.data());
    }
    if (f.getErrorCode()) state.SkipWithError(f.getErrorMsg());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * s.frameBytes));
}

void BM_readRGB24VideoFrame(benchmark::State& state, int bits) {
    const Sample& s = sample(bits);
    avi::File f;
    if (!f.open(s.path.c_str(), "r")) state.SkipWithError(f.getErrorMsg());
    std::vector<char> buf(f.getRGB24VideoFrameSize());
    for (auto _ : state) {
        if (f.isEndOfVideo()) f.resetVideo();
        f.readRGB24VideoFrame(buf.data());
        benchmark::DoNotOptimize(buf.data());
    }
    if (f.getErrorCode()) state.SkipWithError(f.getErrorMsg());
}

void BM_memcpyRgb24(benchmark::State& state) {
    const std::size_t bytes = static_cast<std::size_t>(kHeight) * kWidth * 3;
    std::vector<char> from(bytes, 1), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
}

void registerAll() {
    auto reg = [](const std::string& name, auto fn) {
        benchmark::RegisterBenchmark(name.c_str(), fn)->Unit(benchmark::kMicrosecond)->MinTime(0.5);
    };
    reg("pread/seq/24", [](benchmark::State& s) { BM_pread(s, 24, false); });
    reg("pread/random/24", [](benchmark::State& s) { BM_pread(s, 24, true); });
    reg("readVideoFrame/seq/24", [](benchmark::State& s) { BM_readVideoFrame(s, 24, false); });
    reg("readVideoFrame/random/24", [](benchmark::State& s) { BM_readVideoFrame(s, 24, true); });
    reg("pread/seq/24td", [](benchmark::State& s) { BM_pread(s, -24, false); });
    reg("pread/random/24td", [](benchmark::State& s) { BM_pread(s, -24, true); });
    reg("readVideoFrame/seq/24td", [](benchmark::State& s) { BM_readVideoFrame(s, -24, false); });
    reg("readVideoFrame/random/24td", [](benchmark::State& s) { BM_readVideoFrame(s, -24, true); });
    reg("memcpy/rgb24", BM_memcpyRgb24);
    for (int bits : {8, 16, 32}) {
        const std::string b = std::to_string(bits);
        reg("pread/seq/" + b, [bits](benchmark::State& s) { BM_pread(s, bits, false); });
        reg("readVideoFrame/seq/" + b, [bits](benchmark::State& s) { BM_readVideoFrame(s, bits, false); });
        reg("readRGB24VideoFrame/seq/" + b, [bits](benchmark::State& s) { BM_readRGB24VideoFrame(s, bits); });
    }
}

}  // namespace

int main(int argc, char** argv) {
    registerAll();
    benchratio::Session session("avi_read", argc, argv);
    session.run();
    // Process CPU time per frame: the machine may be shared.
    auto t = [&](const std::string& n) { return session.reporter().seconds(n, benchratio::Reporter::Timer::Cpu); };
    constexpr auto cpu = benchratio::Reporter::Timer::Cpu;
    session.speed("readVideoFrame sequential 24-bit / pread", "readVideoFrame/seq/24", "pread/seq/24", 0.95, cpu);
    session.speed("readVideoFrame random 24-bit / pread", "readVideoFrame/random/24", "pread/random/24", 0.95, cpu);
    session.speed("readVideoFrame sequential 24-bit top-down / pread", "readVideoFrame/seq/24td", "pread/seq/24td", 0.95,
                  cpu);
    session.speed("readVideoFrame random 24-bit top-down / pread", "readVideoFrame/random/24td", "pread/random/24td",
                  0.95, cpu);
    for (int bits : {8, 16, 32}) {
        const std::string b = std::to_string(bits);
        const double total = t("readRGB24VideoFrame/seq/" + b);
        const double read = t("readVideoFrame/seq/" + b);
        const double copy = t("memcpy/rgb24");
        // The conversion alone: the read of the stored frame taken out.
        const double ratio = total > 0 && read > 0 && copy > 0 ? (total - read) / copy : -1.0;
        session.value("readRGB24VideoFrame " + b + "-bit conversion time / memcpy of output", ratio, 3.0, true);
    }
    for (auto& [bits, s] : samples()) std::remove(s.path.c_str());
    return session.finish();
}
