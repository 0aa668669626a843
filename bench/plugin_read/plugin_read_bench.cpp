// Frames per second of the whole plugin path (host -> device -> frame) on a
// 640 x 480 Theora clip of 300 frames, against the GStreamer reader alone and
// against a gst-launch-1.0 decode of the same file, all in this run.
//
//   build/bench/plugin_read_bench [--benchmark_min_time=...]

#include <bench/support/benchratio.hpp>
#include <host/lib/pluginhost.hpp>
#include <videoreader/gstreader.hpp>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

constexpr int kFrames = 300;
constexpr int kWidth = 640;
constexpr int kHeight = 480;

std::string gClip;
std::string gLibDir;

// Seconds per frame of every pass, by path.
std::vector<double> gPluginPasses;
std::vector<double> gReaderPasses;
std::vector<double> gLaunchPasses;

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// One pass through the whole plugin path: load, create, initialize, start, poll every frame, destroy.
int pluginPass(const std::shared_ptr<mmhost::Plugin>& plugin) {
    auto device = plugin->createDevice();
    if (!device->initialize(mmhost::toUtf16(gClip))) return -1;
    device->start(std::nullopt, true);
    int frames = 0;
    while (device->isDataAvailable()) {
        mmhost::BufferPtr frame = device->getData();
        if (frame) ++frames;
        benchmark::DoNotOptimize(frame.get());
    }
    return frames;
}

// The same through the reader alone, into one reused buffer.
int readerPass(std::vector<unsigned char>& pixels) {
    std::shared_ptr<qsVideoReader::IVideoReader> reader(qsVideoReader::createGstReaderInstance());
    reader->open(mmhost::toUtf16(gClip), false);
    reader->startFromBeginning();
    int frames = 0;
    for (;;) {
        reader->readFrame(true, pixels.data());
        if (reader->isEndOfStream()) break;
        benchmark::DoNotOptimize(reader->getCurrentTime());
        ++frames;
    }
    reader->close();
    return frames;
}

// Plugin path and reader alone in alternation, so that both see the same machine load.
void BM_PluginPathAgainstReader(benchmark::State& state) {
    auto plugin = mmhost::Plugin::load(gLibDir + "/libgstplugin.so");
    std::vector<unsigned char> pixels(static_cast<std::size_t>(kWidth) * kHeight * 3);
    int frames = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        frames = readerPass(pixels);
        if (frames <= 0) {
            state.SkipWithError("the reader read nothing");
            return;
        }
        gReaderPasses.push_back(since(start) / frames);
        start = Clock::now();
        frames = pluginPass(plugin);
        if (frames <= 0) {
            state.SkipWithError("the plugin delivered nothing");
            return;
        }
        gPluginPasses.push_back(since(start) / frames);
    }
    state.counters["frames"] = frames;
}

void BM_GstLaunchDecode(benchmark::State& state) {
    const std::string command = "gst-launch-1.0 -q filesrc location='" + gClip +
                                "' ! decodebin ! videoconvert ! video/x-raw,format=RGB ! fakesink sync=false "
                                ">/dev/null 2>&1";
    for (auto _ : state) {
        const auto start = Clock::now();
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("gst-launch-1.0 failed");
            return;
        }
        gLaunchPasses.push_back(since(start) / kFrames);
    }
    state.counters["fps"] =
        benchmark::Counter(kFrames * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_PluginPathAgainstReader)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(11);
BENCHMARK(BM_GstLaunchDecode)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(11);

std::string libDir(const char* argv0) {
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path = length > 0 ? std::string(self, static_cast<std::size_t>(length)) : std::string(argv0);
    path.erase(path.find_last_of('/'));                  // <build>/bench
    return path.substr(0, path.find_last_of('/')) + "/lib";
}

bool makeClip() {
    gClip = "/tmp/mm-plugin-read-bench-" + std::to_string(kWidth) + "x" + std::to_string(kHeight) + "-" +
            std::to_string(kFrames) + ".ogv";
    if (access(gClip.c_str(), R_OK) == 0) return true;
    const std::string command = "gst-launch-1.0 -q videotestsrc num-buffers=" + std::to_string(kFrames) +
                                " pattern=ball ! video/x-raw,width=" + std::to_string(kWidth) +
                                ",height=" + std::to_string(kHeight) +
                                ",framerate=30/1 ! theoraenc ! oggmux ! filesink location='" + gClip +
                                "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    gLibDir = libDir(argv[0]);
    if (!makeClip()) {
        std::fprintf(stderr, "cannot make the Theora clip with gst-launch-1.0\n");
        return 1;
    }
    benchratio::Session session("plugin_read", argc, argv);
    session.run();
    const double plugin = median(gPluginPasses);
    const double reader = median(gReaderPasses);
    const double launch = median(gLaunchPasses);
    if (plugin > 0 && reader > 0 && launch > 0) {
        std::printf("\nmedian of %zu passes, %dx%d Theora, %d frames\n", gPluginPasses.size(), kWidth, kHeight, kFrames);
        std::printf("plugin path   %8.1f fps (host -> device -> frame, open and close included)\n", 1.0 / plugin);
        std::printf("reader alone  %8.1f fps (GstReader into one buffer, open and close included)\n", 1.0 / reader);
        std::printf("gst-launch    %8.1f fps (decode to RGB, process start included)\n", 1.0 / launch);
    }
    // Medians of passes taken in alternation; speed ratio = inverse time ratio.
    session.value("gstplugin path fps / GstReader alone fps", plugin > 0 && reader > 0 ? reader / plugin : -1, 0.95);
    session.value("gstplugin path fps / gst-launch-1.0 fps", plugin > 0 && launch > 0 ? launch / plugin : -1);
    return session.finish();
}
