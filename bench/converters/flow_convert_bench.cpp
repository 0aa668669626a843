// Cost of handing a 1920 x 1080 RGB frame to the flow model through
// videoflowconverter, against two baselines measured in the same run: making
// and releasing the frame alone (what a no-copy hand-over adds nothing to),
// and the same with one copy of its pixels (what a copying converter costs).
//
//   build/bench/flow_convert [--benchmark_min_time=...]

#include <common/avbuffer/avbuffer.hpp>
#include <converters/iconverter.hpp>
#include <plugins/kit/videoframe.hpp>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <dlfcn.h>
#include <unistd.h>

namespace {

using multimedia::common::avbuffer::VideoDataBuffer;
using multimedia::common::avbuffer::VIDEO_UINT8;

constexpr unsigned long kHeight = 1080;
constexpr unsigned long kWidth = 1920;
constexpr unsigned long kBytes = kHeight * kWidth * 3;

asyncioplugin::interfaces::converter::IConverter* gConverter = nullptr;
// Real time per frame of each benchmark: alone, with a copy, through the converter.
double gBest[3] = {0, 0, 0};

video::VideoFrame* makeFrame() {
    auto* frame = new video::VideoFrame();
    frame->buffer = new VideoDataBuffer(kBytes, kHeight, kWidth, VIDEO_UINT8, 3);
    frame->buffer->data[0] = 1;  // touch the block as a reader would start to
    return frame;
}

template <int Which>
void BM_Deliver(benchmark::State& state) {
    std::unique_ptr<unsigned char[]> target(Which == 1 ? new unsigned char[kBytes] : nullptr);
    for (auto _ : state) {
        video::VideoFrame* frame = makeFrame();
        if (Which == 0) {
            frame->destroy();
        } else if (Which == 1) {
            std::memcpy(target.get(), frame->buffer->data, kBytes);
            benchmark::DoNotOptimize(target.get());
            frame->destroy();
        } else {
            std::unique_ptr<std::vector<boost::any>> values(gConverter->toFlowmodelData(frame));
            frame->destroy();
            delete[] boost::any_cast<unsigned char*>(values->at(0));
        }
    }
}

void BM_FrameAlone(benchmark::State& state) { BM_Deliver<0>(state); }
void BM_FrameWithCopy(benchmark::State& state) { BM_Deliver<1>(state); }
void BM_FrameThroughConverter(benchmark::State& state) { BM_Deliver<2>(state); }

BENCHMARK(BM_FrameAlone)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FrameWithCopy)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FrameThroughConverter)->Unit(benchmark::kMicrosecond);

// Keeps the real time per iteration of each run, to print ratios at the end.
class Ratios : public benchmark::ConsoleReporter {
public:
    Ratios() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_None) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const double perIteration = run.GetAdjustedRealTime();
            const std::string name = run.benchmark_name();
            const int which = name.find("Alone") != std::string::npos      ? 0
                              : name.find("WithCopy") != std::string::npos ? 1
                                                                           : 2;
            gBest[which] = perIteration;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

std::string libraryDir() {
    if (const char* build = std::getenv("MM_BUILD_DIR"); build != nullptr && *build != '\0') {
        return std::string(build) + "/lib";
    }
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "lib";
    const std::string exe(self, static_cast<std::size_t>(n));
    const std::string dir = exe.substr(0, exe.find_last_of('/'));
    return dir.substr(0, dir.find_last_of('/')) + "/lib";
}

}  // namespace

int main(int argc, char** argv) {
    const std::string path = libraryDir() + "/libvideoflowconverter.so";
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto create = handle != nullptr
                      ? reinterpret_cast<asyncioplugin::interfaces::converter::CreateConverterFn>(
                            dlsym(handle, "createConverter"))
                      : nullptr;
    if (create == nullptr || create(&gConverter) != 1) {
        std::fprintf(stderr, "cannot load %s\n", path.c_str());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    Ratios reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (gBest[0] > 0 && gBest[1] > gBest[0]) {
        // The converter's own cost is what it adds to making and releasing a
        // frame; a copying hand-over would add the copy instead.
        const double added = gBest[2] - gBest[0];
        const double copy = gBest[1] - gBest[0];
        std::printf("added per frame: converter %.3f us, one pixel copy %.1f us\n", added, copy);
        std::printf("converter / copy: %.5f  (the hand-over must not grow with the frame: far below 1)\n",
                    added / copy);
    }
    gConverter->destroy();
    dlclose(handle);
    return 0;
}
