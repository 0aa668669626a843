// Decoding speed of Motion-JPEG AVI through the plugin (loaded with dlopen by
// the reference host, one fresh frame buffer per frame as a host gets it) and
// through the bare reader, against GStreamer and FFmpeg decoding the same
// file in the same run.
//
//   mjpeg_read [--frames=N] [google benchmark flags]
//
// Prints, after the benchmark table:
//   plugin fps / gst-launch-1.0 fps      (goal >= 1.0)
//   plugin fps / ffmpeg fps              (goal >= 1.0)
// and the same for the default layout and for the bare reader; each ratio
// also by the CPU time (user + system) that each contender needed, which a
// loaded machine does not distort.

#include <host/pluginhost.hpp>
#include <platform/i18n/i18n.hpp>
#include <platform/mjpegavidecoder/mjpegavidecoder.hpp>

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

int frameCount = 300;
std::string mediaPath;
std::string pluginPath;
fs::path scratchFolder;

void makeMedia() {
    scratchFolder = fs::temp_directory_path() / ("mjpeg-read-bench-" + std::to_string(::getpid()));
    fs::create_directories(scratchFolder);
    mediaPath = (scratchFolder / "bench.avi").string();
    // A moving test card at jpegenc's default quality (85), as a camera
    // would deliver it.
    const std::string command = "gst-launch-1.0 -q videotestsrc num-buffers=" + std::to_string(frameCount) +
                                " pattern=smpte horizontal-speed=4 ! video/x-raw,width=640,height=480,"
                                "framerate=30/1 ! jpegenc ! avimux ! filesink location=\"" +
                                mediaPath + "\"";
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("could not make the benchmark file");
    }
}

// CPU seconds (user + system) used so far by this process or by its
// finished children. On a shared machine the wall clock of every contender
// stretches with the load; the CPU time each one needs does not.
double cpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::map<std::string, double> cpuPerIteration;

void noteCpu(benchmark::State& state, const char* name, double seconds) {
    if (state.iterations() > 0) {
        cpuPerIteration[name] = seconds / static_cast<double>(state.iterations());
        state.counters["cpu_ms"] = 1e3 * cpuPerIteration[name];
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(frameCount), benchmark::Counter::kIsIterationInvariantRate);
}

void runCommand(benchmark::State& state, const char* name, const std::string& command) {
    const double before = cpuSeconds(RUSAGE_CHILDREN);
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError(("failed: " + command).c_str());
            return;
        }
    }
    noteCpu(state, name, cpuSeconds(RUSAGE_CHILDREN) - before);
}

void BM_GstLaunch(benchmark::State& state) {
    runCommand(state, "BM_GstLaunch", "gst-launch-1.0 -q filesrc location=\"" + mediaPath +
                          "\" ! avidemux ! jpegdec ! fakesink sync=false");
}

void BM_Ffmpeg(benchmark::State& state) {
    runCommand(state, "BM_Ffmpeg", "ffmpeg -nostdin -v error -i \"" + mediaPath + "\" -f null -");
}

void plugin(benchmark::State& state, const char* name, bool interleaved) {
    std::shared_ptr<mmhost::Plugin> loaded;
    try {
        loaded = mmhost::Plugin::load(pluginPath);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    int frames = 0;
    const double before = cpuSeconds(RUSAGE_SELF);
    for (auto _ : state) {
        auto device = loaded->createDevice();
        if (!device->initialize(mmhost::toUtf16(mediaPath))) {
            state.SkipWithError("the plugin did not open the file");
            return;
        }
        device->start(0.0, interleaved);
        frames = 0;
        while (device->isDataAvailable()) {
            mmhost::BufferPtr buffer = device->getData();
            if (!buffer) break;
            benchmark::DoNotOptimize(buffer.get());
            ++frames;
        }
    }
    const double used = cpuSeconds(RUSAGE_SELF) - before;
    if (frames != frameCount) {
        state.SkipWithError("the plugin did not deliver every frame");
    }
    noteCpu(state, name, used);
}

void BM_PluginInterleaved(benchmark::State& state) { plugin(state, "BM_PluginInterleaved", true); }
void BM_PluginDefaultLayout(benchmark::State& state) { plugin(state, "BM_PluginDefaultLayout", false); }

void BM_ReaderInterleaved(benchmark::State& state) {
    std::vector<std::uint8_t> frame(640 * 480 * 3);
    int frames = 0;
    const double before = cpuSeconds(RUSAGE_SELF);
    for (auto _ : state) {
        std::unique_ptr<qsVideoReader::IVideoReader> reader(qsVideoReader::createMjpegAviReaderInstance());
        reader->open(vq::i18n::to_ustring(mediaPath.c_str()), false);
        reader->startFromBeginning();
        frames = 0;
        for (;;) {
            reader->readFrame(true, frame.data());
            if (reader->isEndOfStream()) break;
            ++frames;
        }
        reader->close();
        benchmark::DoNotOptimize(frame.data());
    }
    const double used = cpuSeconds(RUSAGE_SELF) - before;
    if (frames != frameCount) {
        state.SkipWithError("the reader did not deliver every frame");
    }
    noteCpu(state, "BM_ReaderInterleaved", used);
}

BENCHMARK(BM_GstLaunch)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_Ffmpeg)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_PluginInterleaved)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_PluginDefaultLayout)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_ReaderInterleaved)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// Keeps each benchmark's real time per iteration, to print the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (!run.error_occurred) {
                const std::string name = run.benchmark_name();
                times[name.substr(0, name.find('/'))] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

void printRatio(const RatioReporter& r, const char* label, const std::string& subject,
                const std::string& baseline, double goal) {
    const auto s = r.times.find(subject);
    const auto b = r.times.find(baseline);
    if (s == r.times.end() || b == r.times.end() || s->second <= 0.0) {
        std::printf("%-52s n/a\n", label);
        return;
    }
    // Every benchmark decodes the same frames per iteration: the speed ratio
    // is the inverse of the time ratio.
    std::printf("%-52s %.3f (goal >= %.2f)", label, b->second / s->second, goal);
    const auto sc = cpuPerIteration.find(subject);
    const auto bc = cpuPerIteration.find(baseline);
    if (sc != cpuPerIteration.end() && bc != cpuPerIteration.end() && sc->second > 0.0) {
        std::printf("   by CPU time %.3f", bc->second / sc->second);
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--frames=", 9) == 0) {
            frameCount = std::max(1, std::atoi(argv[i] + 9));
        }
    }
    const char* buildDir = std::getenv("MM_BUILD_DIR");
    pluginPath = (buildDir != nullptr ? fs::path(buildDir) / "lib"
                                      : fs::path(argv[0]).parent_path() / ".." / "lib") /
                 "libmjpegaviplugin.so";
    benchmark::Initialize(&argc, argv);
    try {
        makeMedia();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mjpeg_read: %s\n", e.what());
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nRatios (speed of subject / speed of baseline, same run, %d frames 640x480 Motion JPEG):\n",
                frameCount);
    printRatio(reporter, "plugin interleaved fps / gst-launch-1.0 fps", "BM_PluginInterleaved", "BM_GstLaunch", 1.0);
    printRatio(reporter, "plugin interleaved fps / ffmpeg fps", "BM_PluginInterleaved", "BM_Ffmpeg", 1.0);
    printRatio(reporter, "plugin default layout fps / gst-launch-1.0 fps", "BM_PluginDefaultLayout", "BM_GstLaunch",
               1.0);
    printRatio(reporter, "plugin default layout fps / ffmpeg fps", "BM_PluginDefaultLayout", "BM_Ffmpeg", 1.0);
    printRatio(reporter, "reader interleaved fps / gst-launch-1.0 fps", "BM_ReaderInterleaved", "BM_GstLaunch", 1.0);
    printRatio(reporter, "reader interleaved fps / ffmpeg fps", "BM_ReaderInterleaved", "BM_Ffmpeg", 1.0);
    std::error_code ignored;
    fs::remove_all(scratchFolder, ignored);
    return 0;
}
