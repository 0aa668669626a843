// Cost of handing a 1920 x 1080 RGB frame to the flow model through
// videoflowconverter, against two baselines measured in the same run: making
// and releasing the frame alone (what a no-copy hand-over adds nothing to),
// and the same with one copy of its pixels (what a copying converter costs).
//
//   build/bench/flow_convert [--benchmark_min_time=...]

#include <bench/support/benchratio.hpp>
#include <common/avbuffer/avbuffer.hpp>
#include <converters/iconverter.hpp>
#include <plugins/kit/videoframe.hpp>

#include <benchmark/benchmark.h>

#include <algorithm>
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
    benchratio::Session session("flow_convert", argc, argv);
    session.run();
    const double alone = session.reporter().seconds("BM_FrameAlone");
    const double withCopy = session.reporter().seconds("BM_FrameWithCopy");
    const double through = session.reporter().seconds("BM_FrameThroughConverter");
    double ratio = -1;
    if (alone > 0 && withCopy > alone && through > 0) {
        // The converter's own cost is what it adds to making and releasing a
        // frame; a copying hand-over would add the copy instead.
        const double added = through - alone;
        const double copy = withCopy - alone;
        std::printf("added per frame: converter %.3f us, one pixel copy %.1f us\n", 1e6 * added, 1e6 * copy);
        ratio = std::max(0.0, added / copy);
    }
    // The hand-over must not grow with the frame: far below one copy.
    session.value("converter added time / one 1920x1080 pixel copy", ratio, 0.05, true);
    const int status = session.finish();
    gConverter->destroy();
    dlclose(handle);
    return status;
}
