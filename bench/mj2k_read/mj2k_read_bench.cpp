// Decoding speed of Motion JPEG 2000 through the plugin (loaded by the
// reference host, frames to interleaved RGB) against FFmpeg and GStreamer
// decoding the same file to RGB in the same run: a 1280x720, 30-frame zone
// plate written by GStreamer's JPEG 2000 encoder at its defaults.
//
//   mj2k_read [google benchmark flags]
//
// Prints plugin fps / ffmpeg fps (goal >= 1.3), plugin fps / gst-launch-1.0
// fps and the CPU time (user + system) each contender used per pass.

#include <bench/support/benchratio.hpp>
#include <host/lib/pluginhost.hpp>

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kFrames = 30;
std::string mediaPath;
std::string pluginPath;
fs::path scratchFolder;

void makeMedia() {
    scratchFolder = fs::temp_directory_path() / ("mj2-read-bench-" + std::to_string(::getpid()));
    fs::create_directories(scratchFolder);
    mediaPath = (scratchFolder / "zoneplate.mj2").string();
    const std::string command = "gst-launch-1.0 -q videotestsrc num-buffers=" + std::to_string(kFrames) +
                                " pattern=zone-plate kx2=20 ky2=20 kt=1 ! video/x-raw,width=1280,height=720 "
                                "! openjpegenc ! mj2mux ! filesink location=\"" + mediaPath + "\"";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("could not make the benchmark file");
}

using benchratio::cpuSeconds;

void noteCpu(benchmark::State& state, const char* name, double seconds) {
    benchratio::Session::noteCpu(state, name, seconds);
    state.counters["fps"] = benchmark::Counter(kFrames, benchmark::Counter::kIsIterationInvariantRate);
}

void runCommand(benchmark::State& state, const char* name, const std::string& command) {
    if (benchratio::runCommand(state, name, command))
        state.counters["fps"] = benchmark::Counter(kFrames, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Ffmpeg(benchmark::State& state) {
    runCommand(state, "BM_Ffmpeg",
               "ffmpeg -nostdin -v error -i \"" + mediaPath + "\" -f rawvideo -pix_fmt rgb24 -y /dev/null");
}

void BM_GstLaunch(benchmark::State& state) {
    runCommand(state, "BM_GstLaunch", "gst-launch-1.0 -q filesrc location=\"" + mediaPath +
                                          "\" ! decodebin ! videoconvert ! video/x-raw,format=RGB ! fakesink");
}

void BM_Plugin(benchmark::State& state) {
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
        device->start(0.0, true);
        frames = 0;
        while (device->isDataAvailable()) {
            mmhost::BufferPtr buffer = device->getData();
            if (!buffer) break;
            benchmark::DoNotOptimize(buffer.get());
            ++frames;
        }
    }
    const double used = cpuSeconds(RUSAGE_SELF) - before;
    if (frames != kFrames) state.SkipWithError("the plugin did not deliver every frame");
    noteCpu(state, "BM_Plugin", used);
}

BENCHMARK(BM_Ffmpeg)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_GstLaunch)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_Plugin)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    const char* buildDir = std::getenv("MM_BUILD_DIR");
    pluginPath = (buildDir != nullptr ? fs::path(buildDir) / "lib" : fs::path(argv[0]).parent_path() / ".." / "lib") /
                 "libmj2kplugin.so";
    benchratio::Session session("mj2k_read", argc, argv);
    try {
        makeMedia();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mj2k_read: %s\n", e.what());
        return 1;
    }
    session.run();
    session.speed("plugin fps / ffmpeg fps (30 frames 1280x720 to RGB)", "BM_Plugin", "BM_Ffmpeg", 1.3);
    session.speed("plugin fps / gst-launch-1.0 decodebin fps", "BM_Plugin", "BM_GstLaunch");
    session.cpu("CPU per pass: plugin / ffmpeg", "BM_Plugin", "BM_Ffmpeg");
    session.cpu("CPU per pass: plugin / gst-launch-1.0", "BM_Plugin", "BM_GstLaunch");
    std::error_code ignored;
    fs::remove_all(scratchFolder, ignored);
    return session.finish();
}
