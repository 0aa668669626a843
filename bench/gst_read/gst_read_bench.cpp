// Reading speed of GstReader against GStreamer decoding the same file on its
// own, and the default-layout copy against memcpy.
//
//   gst_read [--frames=N] [google benchmark flags]
//
// Prints, after the benchmark table:
//   interleaved fps / gst-launch fps   (goal >= 0.95)
//   default layout fps / gst-launch fps
//   interleaved fps / the gst-launch pipeline run inside this process
//   default-layout copy 1920x1080 / memcpy of the same bytes, as a speed ratio (goal >= 0.4)

#include <platform/framekit/framekit.hpp>
#include <videoreader/gstreader.hpp>

#include <benchmark/benchmark.h>
#include <gst/gst.h>

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

void BM_GstLaunch(benchmark::State& state) {
    const std::string command =
        "gst-launch-1.0 -q filesrc location=\"" + mediaPath +
        "\" ! oggdemux ! theoradec ! videoconvert ! video/x-raw,format=RGB ! fakesink sync=false";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("gst-launch-1.0 failed");
            return;
        }
    }
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

void readWhole(benchmark::State& state, bool interleaved) {
    std::vector<std::uint8_t> frame(640 * 480 * 3);
    std::size_t frames = 0;
    for (auto _ : state) {
        std::unique_ptr<qsVideoReader::IVideoReader> reader(qsVideoReader::createGstReaderInstance());
        std::u16string name(mediaPath.begin(), mediaPath.end());
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
    if (frames != static_cast<std::size_t>(frameCount)) {
        state.SkipWithError("reader did not deliver every frame");
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(frameCount),
                                               benchmark::Counter::kIsIterationInvariantRate);
}

void BM_ReaderInterleaved(benchmark::State& state) { readWhole(state, true); }
void BM_ReaderDefaultLayout(benchmark::State& state) { readWhole(state, false); }

constexpr int HD_W = 1920;
constexpr int HD_H = 1080;

std::vector<std::uint8_t> hdFrame() {
    std::vector<std::uint8_t> v(static_cast<std::size_t>(HD_W) * HD_H * 3);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<std::uint8_t>(i * 2654435761u >> 24);
    return v;
}

void BM_Memcpy1080p(benchmark::State& state) {
    const auto src = hdFrame();
    std::vector<std::uint8_t> dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * src.size()));
}

void BM_DefaultLayout1080p(benchmark::State& state) {
    const auto src = hdFrame();
    std::vector<std::uint8_t> dst(src.size());
    auto frame = pixcapframekit::frameFactory(pixcapframekit::frametypes::FRAMETYPE_RGB8, HD_W, HD_H);
    const std::vector<void*> destinations{dst.data()};
    for (auto _ : state) {
        frame->copy(destinations, src.data(), false);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * src.size()));
}

// The naive strided loop, for comparison only.
void BM_NaiveLayout1080p(benchmark::State& state) {
    const auto src = hdFrame();
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
BENCHMARK(BM_Memcpy1080p)->Unit(benchmark::kMicrosecond)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_DefaultLayout1080p)->Unit(benchmark::kMicrosecond)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_NaiveLayout1080p)->Unit(benchmark::kMicrosecond)->Repetitions(3)->UseRealTime();

// Keeps each benchmark's median real time per iteration (or its only run's
// when it was not repeated), to print the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (run.error_occurred) {
                continue;
            }
            const std::string name = run.run_name.function_name;
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name == "median") {
                    times[name] = run.GetAdjustedRealTime();
                    medians[name] = true;
                }
            } else if (!medians[name]) {
                times[name] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
    std::map<std::string, bool> medians;
};

void printRatio(const RatioReporter& r, const char* label, const std::string& subject,
                const std::string& baseline, double goal) {
    const auto s = r.times.find(subject);
    const auto b = r.times.find(baseline);
    if (s == r.times.end() || b == r.times.end() || s->second <= 0.0) {
        std::printf("%-52s n/a\n", label);
        return;
    }
    // Both run the same work per iteration: the speed ratio is the inverse
    // of the time ratio.
    const double ratio = b->second / s->second;
    std::printf("%-52s %.3f (goal >= %.2f)\n", label, ratio, goal);
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--frames=", 9) == 0) {
            frameCount = std::max(1, std::atoi(argv[i] + 9));
        }
    }
    gst_init(nullptr, nullptr);
    benchmark::Initialize(&argc, argv);
    try {
        makeTheora();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "gst_read: %s\n", e.what());
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nRatios (speed of subject / speed of baseline, same run, %d frames 640x480 Theora):\n",
                frameCount);
    printRatio(reporter, "GstReader interleaved fps / gst-launch-1.0 fps", "BM_ReaderInterleaved",
               "BM_GstLaunch", 0.95);
    printRatio(reporter, "GstReader default layout fps / gst-launch-1.0 fps", "BM_ReaderDefaultLayout",
               "BM_GstLaunch", 0.95);
    printRatio(reporter, "GstReader interleaved fps / same pipeline in-process", "BM_ReaderInterleaved",
               "BM_InProcessPipeline", 0.95);
    printRatio(reporter, "default-layout copy 1920x1080 / memcpy", "BM_DefaultLayout1080p",
               "BM_Memcpy1080p", 0.4);
    printRatio(reporter, "naive strided loop 1920x1080 / memcpy", "BM_NaiveLayout1080p",
               "BM_Memcpy1080p", 0.0);
    std::error_code ignored;
    fs::remove_all(scratchFolder, ignored);
    return 0;
}
