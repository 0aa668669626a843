// Converters keep no state, so one converter may serve several threads at
// once as long as each call has its own arguments.

#include "converterloader.hpp"

#include <common/avbuffer/datatypes.hpp>
#include <converters/audio/databuffer.hpp>
#include <plugins/kit/properties.hpp>
#include <plugins/kit/videoframe.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using namespace multimedia::common::avbuffer;
using asyncioplugin::kit::device::TScalarProperty;
using convtest::own;
using convtest::owned;
using convtest::Plugin;

constexpr int kThreads = 4;
constexpr int kRounds = 200;

TEST(ConverterThreads, OneConverterServesSeveralThreads) {
    Plugin audioPlugin("audioflowconverter");
    Plugin videoPlugin("videoflowconverter");
    ASSERT_TRUE(audioPlugin.ok()) << audioPlugin.error();
    ASSERT_TRUE(videoPlugin.ok()) << videoPlugin.error();
    auto audio = audioPlugin.create();
    auto video = videoPlugin.create();
    std::atomic<int> failures{0};

    auto work = [&](int seed) {
        for (int round = 0; round < kRounds; ++round) {
            const unsigned char mark = static_cast<unsigned char>(seed * 31 + round);

            auto* frame = new video::VideoFrame();
            frame->buffer = new VideoDataBuffer(12, 2, 2, VIDEO_UINT8, 3);
            frame->buffer->data[11] = mark;
            auto frameValues = own(video->toFlowmodelData(frame));
            frame->destroy();
            if (!frameValues) {
                ++failures;
                continue;
            }
            auto* pixels = boost::any_cast<unsigned char*>((*frameValues)[0]);

            std::vector<boost::any> list{pixels, 4ul, 3ul, AUDIO_UINT8};
            auto made = owned(audio->fromFlowmodelData(&list));
            auto* samples = dynamic_cast<audio::DataBuffer*>(made.get());
            if (samples == nullptr || samples->data[11] != mark) ++failures;
            delete[] pixels;

            TScalarProperty<double> rate("FrameRate", seed + round);
            auto value = own(audio->toFlowmodelProperty(&rate));
            if (!value || boost::any_cast<double>(*value) != seed + round) ++failures;
        }
    };

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back(work, t);
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
