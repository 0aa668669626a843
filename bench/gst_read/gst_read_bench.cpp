// Reading speed of GstReader against GStreamer decoding the same file on its
// own, and framekit's default-layout copy against memcpy.
//
//   gst_read [--frames=N] [google benchmark flags]
//
// Goals: GstReader at 1.2x the frame rate of gst-launch-1.0 in both layouts;
// the default-layout copy of a 1920x1080 frame at half the speed of memcpy,
// measured by BM_CopyPair: the two take turns on the same warm source and
// destination and each is timed by the thread's CPU clock (the separate
// loops below are informational: there memcpy's working set sits in cache
// undisturbed while the other loop runs in a different cache state).
// Also printed: each copy path of framekit, and 3840x2160 (beyond one core's
// cache, where the streaming path takes over) against memcpy; and, when
// FFmpeg is at hand, GstReader on an MPEG-4 Part 2 AVI with B-pictures (the
// reader numbers those pictures itself from the chunks it watches) against
// gst-launch-1.0 decoding the same file.

#include <bench/support/benchratio.hpp>
#include <platform/services/framekit/copypaths.hpp>
#include <platform/services/framekit/framekit.hpp>
#include <videoreader/gstreader.hpp>

#include <benchmark/benchmark.h>
#include <gst/gst.h>

#include <sys/resource.h>
#include <time.h>
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
std::string aviPath;  // empty without FFmpeg
fs::path scratchFolder;

void makeTheora() {
    scratchFolder = fs::temp_directory_path() / ("gst-read-bench-" + std::to_string(::getpid()));
    fs::create_directories(scratchFolder);
    mediaPath = (scratchFolder / "bench.ogv").string();
    const std::string description =
        "videotestsrc num-buffers=" + std::to_string(frameCount) +
        " pattern=ball ! video/x-raw,width=640,height=480,framerate=30/1 ! theoraenc ! oggmux ! "
        "filesink location=\"" + mediaPath + "\"";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (error != nullptr) {
        throw std::runtime_error(error->message);
    }
    gst_object_ref_sink(pipeline);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, 300 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ok = message != nullptr && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
    if (message != nullptr) gst_message_unref(message);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    if (!ok) {
        throw std::runtime_error("could not make the benchmark file");
    }
}

void makeAvi() {
    const std::string path = (scratchFolder / "bench.avi").string();
    const std::string command = "ffmpeg -nostdin -y -v error -f lavfi -i testsrc2=size=640x480:rate=30 -frames:v " +
                                std::to_string(frameCount) + " -c:v mpeg4 -vtag XVID -bf 2 -g 30 \"" + path +
                                "\" >/dev/null 2>&1";
    if (std::system(command.c_str()) == 0) aviPath = path;
}

void BM_GstLaunchAvi(benchmark::State& state) {
    if (aviPath.empty()) {
        state.SkipWithError("no ffmpeg to make the AVI");
        return;
    }
    const std::string command = "gst-launch-1.0 -q filesrc location=\"" + aviPath +
                                "\" ! avidemux ! avdec_mpeg4 ! videoconvert ! video/x-raw,format=RGB ! fakesink sync=false";
    benchratio::runCommand(state, "BM_GstLaunchAvi", command);
}

void BM_GstLaunch(benchmark::State& state) {
    const std::string command =
        "gst-launch-1.0 -q filesrc location=\"" + mediaPath +
        "\" ! oggdemux ! theoradec ! videoconvert ! video/x-raw,format=RGB ! fakesink sync=false";
    if (!benchratio::runCommand(state, "BM_GstLaunch", command)) return;
    state.counters["fps"] = benchmark::Counter(static_cast<double>(frameCount),
                                               benchmark::Counter::kIsIterationInvariantRate);
}

// The same pipeline as the gst-launch-1.0 run, in this process: the
// baseline without process start-up and plugin registry loading.
void BM_InProcessPipeline(benchmark::State& state) {
    const std::string description =
        "filesrc location=\"" + mediaPath +
        "\" ! oggdemux ! theoradec ! videoconvert ! video/x-raw,format=RGB ! fakesink sync=false";
    for (auto _ : state) {
        GError* error = nullptr;
        GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
        if (error != nullptr) {
            g_error_free(error);
            state.SkipWithError("cannot build the pipeline");
            return;
        }
        gst_object_ref_sink(pipeline);
        gst_element_set_state(pipeline, GST_STATE_PLAYING);
        GstBus* bus = gst_element_get_bus(pipeline);
        GstMessage* message = gst_bus_timed_pop_filtered(
            bus, 300 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        if (message != nullptr) gst_message_unref(message);
        gst_object_unref(bus);
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(frameCount),
                                               benchmark::Counter::kIsIterationInvariantRate);
}

void readWhole(benchmark::State& state, const char* name, bool interleaved, const std::string& path) {
    if (path.empty()) {
        state.SkipWithError("no file");
        return;
    }
    std::vector<std::uint8_t> frame(640 * 480 * 3);
    std::size_t frames = 0;
    const double before = benchratio::cpuSeconds(RUSAGE_SELF);
    for (auto _ : state) {
        std::unique_ptr<qsVideoReader::IVideoReader> reader(qsVideoReader::createGstReaderInstance());
        std::u16string name(path.begin(), path.end());
        reader->open(name, false);
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
    benchratio::Session::noteCpu(state, name, benchratio::cpuSeconds(RUSAGE_SELF) - before);
    if (frames != static_cast<std::size_t>(frameCount)) {
        state.SkipWithError("reader did not deliver every frame");
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(frameCount),
                                               benchmark::Counter::kIsIterationInvariantRate);
}

void BM_ReaderInterleaved(benchmark::State& state) { readWhole(state, "BM_ReaderInterleaved", true, mediaPath); }
void BM_ReaderDefaultLayout(benchmark::State& state) {
    readWhole(state, "BM_ReaderDefaultLayout", false, mediaPath);
}
void BM_ReaderAvi(benchmark::State& state) { readWhole(state, "BM_ReaderAvi", true, aviPath); }

std::vector<std::uint8_t> testFrame(std::size_t bytes) {
    std::vector<std::uint8_t> v(bytes);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<std::uint8_t>(i * 2654435761u >> 24);
    return v;
}

// Frames of width x height (range arguments), 3 channels.
void BM_Memcpy(benchmark::State& state) {
    const std::size_t bytes = static_cast<std::size_t>(state.range(0) * state.range(1) * 3);
    const auto src = testFrame(bytes);
    std::vector<std::uint8_t> dst(bytes);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// The frame object's copy, as GstReader calls it.
void BM_DefaultLayout(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    const auto src = testFrame(static_cast<std::size_t>(w) * h * 3);
    std::vector<std::uint8_t> dst(src.size());
    auto frame = pixcapframekit::frameFactory(pixcapframekit::frametypes::FRAMETYPE_RGB8, w, h);
    const std::vector<void*> destinations{dst.data()};
    for (auto _ : state) {
        frame->copy(destinations, src.data(), false);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * src.size()));
}

double threadCpuMicroseconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

double median(std::vector<double> v) {
    if (v.empty()) return -1.0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// memcpy / default-layout copy, by the medians of BM_CopyPair, per frame size.
std::map<std::string, double> pairRatios;

// Like with like: memcpy and the frame object's copy take turns on the same
// source and the same destination, both touched before the first timing, so
// both run warm with the same page and cache state. Each is timed on its
// own by this thread's CPU clock, which time spent waiting for a core on a
// loaded machine does not stretch; the ratio is of the two medians.
void BM_CopyPair(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    const auto src = testFrame(static_cast<std::size_t>(w) * h * 3);
    std::vector<std::uint8_t> dst(src.size(), 1);
    auto frame = pixcapframekit::frameFactory(pixcapframekit::frametypes::FRAMETYPE_RGB8, w, h);
    const std::vector<void*> destinations{dst.data()};
    std::vector<double> copyTimes, memcpyTimes;
    for (auto _ : state) {
        double start = threadCpuMicroseconds();
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::ClobberMemory();
        memcpyTimes.push_back(threadCpuMicroseconds() - start);
        start = threadCpuMicroseconds();
        frame->copy(destinations, src.data(), false);
        benchmark::ClobberMemory();
        copyTimes.push_back(threadCpuMicroseconds() - start);
    }
    const double m = median(memcpyTimes), c = median(copyTimes);
    state.counters["memcpy_us"] = m;
    state.counters["layout_us"] = c;
    pairRatios[std::to_string(w) + "x" + std::to_string(h)] = c > 0.0 ? m / c : -1.0;
}

void copyPath(benchmark::State& state, pixcapframekit::CopyPath path) {
    const std::size_t w = 1920, h = 1080;
    const auto src = testFrame(w * h * 3);
    std::vector<std::uint8_t> dst(src.size());
    std::uint8_t* planes[3] = {dst.data(), dst.data() + w * h, dst.data() + 2 * w * h};
    if (!pixcapframekit::copyPathAvailable(path)) {
        state.SkipWithError("path not available on this machine");
        return;
    }
    for (auto _ : state) {
        pixcapframekit::transposeWith(path, src.data(), planes, w, h, 3);
        benchmark::ClobberMemory();
    }
}
void BM_Sse2Layout1080p(benchmark::State& state) { copyPath(state, pixcapframekit::CopyPath::Sse2); }
void BM_Avx2Layout1080p(benchmark::State& state) { copyPath(state, pixcapframekit::CopyPath::Avx2); }
void BM_StreamingLayout1080p(benchmark::State& state) { copyPath(state, pixcapframekit::CopyPath::Streaming); }

constexpr int HD_W = 1920;
constexpr int HD_H = 1080;

// The naive strided loop, for comparison only.
void BM_NaiveLayout1080p(benchmark::State& state) {
    const auto src = testFrame(static_cast<std::size_t>(HD_W) * HD_H * 3);
    std::vector<std::uint8_t> dst(src.size());
    const std::size_t w = HD_W, h = HD_H;
    for (auto _ : state) {
        for (std::size_t y = 0; y < h; ++y)
            for (std::size_t x = 0; x < w; ++x)
                for (std::size_t c = 0; c < 3; ++c)
                    dst[c * h * w + x * h + y] = src[(y * w + x) * 3 + c];
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * src.size()));
}

// Whole-file runs are few and long; three repetitions each, compared by
// their medians, keep one disturbed run from deciding a ratio.
BENCHMARK(BM_GstLaunch)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_InProcessPipeline)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_ReaderInterleaved)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_ReaderDefaultLayout)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_GstLaunchAvi)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_ReaderAvi)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_Memcpy)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMicrosecond)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_DefaultLayout)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMicrosecond)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_CopyPair)->Args({1920, 1080})->Args({640, 480})->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(BM_Sse2Layout1080p)->Unit(benchmark::kMicrosecond)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_Avx2Layout1080p)->Unit(benchmark::kMicrosecond)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_StreamingLayout1080p)->Unit(benchmark::kMicrosecond)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_NaiveLayout1080p)->Unit(benchmark::kMicrosecond)->Repetitions(3)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--frames=", 9) == 0) {
            frameCount = std::max(1, std::atoi(argv[i] + 9));
        }
    }
    gst_init(nullptr, nullptr);
    benchratio::Session session("gst_read", argc, argv);
    try {
        makeTheora();
        makeAvi();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "gst_read: %s\n", e.what());
        return 1;
    }
    session.run();
    // Same work per iteration on both sides: speed ratio = inverse time ratio.
    session.speed("GstReader interleaved fps / gst-launch-1.0 fps", "BM_ReaderInterleaved", "BM_GstLaunch", 1.2);
    session.speed("GstReader default layout fps / gst-launch-1.0 fps", "BM_ReaderDefaultLayout", "BM_GstLaunch", 1.2);
    session.speed("GstReader interleaved fps / same pipeline in-process", "BM_ReaderInterleaved",
                  "BM_InProcessPipeline");
    session.cpu("CPU per frame: GstReader interleaved / gst-launch-1.0", "BM_ReaderInterleaved", "BM_GstLaunch");
    session.cpu("CPU per frame: GstReader default layout / gst-launch-1.0", "BM_ReaderDefaultLayout",
                "BM_GstLaunch");
    session.speed("GstReader interleaved fps / gst-launch-1.0 fps, MPEG-4 AVI with B-frames", "BM_ReaderAvi",
                  "BM_GstLaunchAvi");
    const auto pair = [](const char* size) {
        const auto it = pairRatios.find(size);
        return it == pairRatios.end() ? -1.0 : it->second;
    };
    session.value("default-layout copy 1920x1080 / memcpy (alternating, both warm, CPU medians)",
                  pair("1920x1080"), 0.5);
    session.value("default-layout copy 640x480 / memcpy (alternating, both warm, CPU medians)",
                  pair("640x480"));
    session.speed("default-layout copy 1920x1080 / memcpy (separate loops, wall clock)",
                  "BM_DefaultLayout/1920/1080", "BM_Memcpy/1920/1080");
    session.speed("default-layout copy 3840x2160 / memcpy (separate loops, wall clock)",
                  "BM_DefaultLayout/3840/2160", "BM_Memcpy/3840/2160");
    session.speed("  SSE2 path 1920x1080 / memcpy", "BM_Sse2Layout1080p", "BM_Memcpy/1920/1080");
    session.speed("  AVX2 path 1920x1080 / memcpy", "BM_Avx2Layout1080p", "BM_Memcpy/1920/1080");
    session.speed("  streaming path 1920x1080 / memcpy", "BM_StreamingLayout1080p", "BM_Memcpy/1920/1080");
    session.speed("  naive strided loop 1920x1080 / memcpy", "BM_NaiveLayout1080p", "BM_Memcpy/1920/1080");
    std::error_code ignored;
    fs::remove_all(scratchFolder, ignored);
    return session.finish();
}
