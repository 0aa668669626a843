// Decoding speed of Motion-JPEG AVI through the plugin (loaded with dlopen by
// the reference host, one fresh frame buffer per frame as a host gets it) and
// through the bare reader, against GStreamer (avidemux ! jpegdec) and FFmpeg
// (one thread) decoding the same file in the same run, with the CPU time
// (user + system) each contender used: the children's for the peers, this
// process's for ours.
//
//   mjpeg_read [--frames=N] [google benchmark flags]
//
// Goals: the plugin at 1.3x gst-launch-1.0 interleaved and 1.2x in the
// default layout, 2x ffmpeg -threads 1; decoding ahead on the second core
// costs at most 10% more CPU per frame than decoding on one thread.

#include <bench/support/benchratio.hpp>
#include <host/lib/pluginhost.hpp>
#include <platform/services/i18n/i18n.hpp>
#include <platform/decoders/mjpegavidecoder/mjpegavidecoder.hpp>

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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

using benchratio::cpuSeconds;

void noteCpu(benchmark::State& state, const char* name, double seconds) {
    benchratio::Session::noteCpu(state, name, seconds);
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(frameCount), benchmark::Counter::kIsIterationInvariantRate);
}

void runCommand(benchmark::State& state, const char* name, const std::string& command) {
    if (benchratio::runCommand(state, name, command))
        state.counters["fps"] = benchmark::Counter(static_cast<double>(frameCount), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_GstLaunch(benchmark::State& state) {
    runCommand(state, "BM_GstLaunch", "gst-launch-1.0 -q filesrc location=\"" + mediaPath +
                          "\" ! avidemux ! jpegdec ! fakesink sync=false");
}

void BM_Ffmpeg(benchmark::State& state) {
    runCommand(state, "BM_Ffmpeg", "ffmpeg -nostdin -v error -threads 1 -i \"" + mediaPath + "\" -threads 1 -f null -");
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

void reader(benchmark::State& state, const char* name, bool interleaved, bool decodeAhead) {
    std::vector<std::uint8_t> frame(640 * 480 * 3);
    int frames = 0;
    const double before = cpuSeconds(RUSAGE_SELF);
    for (auto _ : state) {
        std::unique_ptr<qsVideoReader::IVideoReader> reader(
            decodeAhead ? qsVideoReader::createMjpegAviReaderInstance()
                        : mjpegavidecoder::createReaderWithoutDecodeAhead());
        reader->open(vq::i18n::to_ustring(mediaPath.c_str()), false);
        reader->startFromBeginning();
        frames = 0;
        for (;;) {
            reader->readFrame(interleaved, frame.data());
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
    noteCpu(state, name, used);
}

void BM_ReaderInterleaved(benchmark::State& state) { reader(state, "BM_ReaderInterleaved", true, true); }
void BM_ReaderOneThread(benchmark::State& state) { reader(state, "BM_ReaderOneThread", true, false); }
void BM_ReaderDefaultLayout(benchmark::State& state) { reader(state, "BM_ReaderDefaultLayout", false, true); }
void BM_ReaderDefaultLayoutOneThread(benchmark::State& state) {
    reader(state, "BM_ReaderDefaultLayoutOneThread", false, false);
}

// Whole-file runs are few and long; three repetitions each, compared by
// their medians, keep one disturbed run from deciding a ratio.
#define MJPEG_RUN(fn) BENCHMARK(fn)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3)->UseRealTime()
MJPEG_RUN(BM_GstLaunch);
MJPEG_RUN(BM_Ffmpeg);
MJPEG_RUN(BM_PluginInterleaved);
MJPEG_RUN(BM_PluginDefaultLayout);
MJPEG_RUN(BM_ReaderInterleaved);
MJPEG_RUN(BM_ReaderOneThread);
MJPEG_RUN(BM_ReaderDefaultLayout);
MJPEG_RUN(BM_ReaderDefaultLayoutOneThread);

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
    benchratio::Session session("mjpeg_read", argc, argv);
    try {
        makeMedia();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mjpeg_read: %s\n", e.what());
        return 1;
    }
    session.run();
    // Every contender decodes the same frames per iteration: the speed ratio
    // is the inverse of the time ratio. 640x480 Motion JPEG, frameCount frames.
    session.speed("plugin interleaved fps / gst-launch-1.0 jpegdec fps", "BM_PluginInterleaved", "BM_GstLaunch", 1.3);
    session.speed("plugin default layout fps / gst-launch-1.0 jpegdec fps", "BM_PluginDefaultLayout",
                  "BM_GstLaunch", 1.2);
    session.speed("plugin interleaved fps / ffmpeg -threads 1 fps", "BM_PluginInterleaved", "BM_Ffmpeg", 2.0);
    session.speed("plugin default layout fps / ffmpeg -threads 1 fps", "BM_PluginDefaultLayout", "BM_Ffmpeg", 2.0);
    session.speed("reader decoding ahead / on one thread, interleaved", "BM_ReaderInterleaved", "BM_ReaderOneThread");
    session.speed("reader decoding ahead / on one thread, default layout", "BM_ReaderDefaultLayout",
                  "BM_ReaderDefaultLayoutOneThread");
    session.cpu("CPU per frame: decoding ahead / one thread, interleaved", "BM_ReaderInterleaved",
                "BM_ReaderOneThread", 1.10);
    session.cpu("CPU per frame: decoding ahead / one thread, default layout", "BM_ReaderDefaultLayout",
                "BM_ReaderDefaultLayoutOneThread", 1.10);
    session.cpu("CPU per frame: plugin interleaved / gst-launch-1.0", "BM_PluginInterleaved", "BM_GstLaunch");
    session.cpu("CPU per frame: plugin default layout / gst-launch-1.0", "BM_PluginDefaultLayout", "BM_GstLaunch");
    session.cpu("CPU per frame: plugin interleaved / ffmpeg -threads 1", "BM_PluginInterleaved", "BM_Ffmpeg");
    std::error_code ignored;
    fs::remove_all(scratchFolder, ignored);
    return session.finish();
}
