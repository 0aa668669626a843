// Decoding ahead: whatever the caller does between reads (seeks, changes of
// layout, close, destruction, a stop from another thread), every frame is the one a plain sequential read
// gives, and the worker never outlives the reader.

#include "mjpegfixtures.hpp"

#include <host/lib/pluginhost.hpp>
#include <platform/decoders/mjpegavidecoder/mjpegavidecoder.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

using namespace mjpegtest;

namespace {

class MjpegAhead : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The frames of a reader that decodes everything on one thread.
        file = gstreamerFile(160, 120, 12, 25, false);
        std::unique_ptr<qsVideoReader::IVideoReader> reader(
            mjpegavidecoder::createReaderWithoutDecodeAhead());
        reader->open(std::u16string(file.path.begin(), file.path.end()), false);
        reader->startFromBeginning();
        sequential = new Frames(readAll(*reader));
        ASSERT_EQ(sequential->pixels.size(), 12u);
    }
    static void TearDownTestSuite() { delete sequential; }
    static Bytes expected(std::size_t frame, bool interleaved) {
        const Bytes& packed = sequential->pixels[frame];
        return interleaved ? packed : toColumnMajorPlanes(packed, 160, 120);
    }
    static PeerFile file;
    static Frames* sequential;
};

PeerFile MjpegAhead::file;
Frames* MjpegAhead::sequential = nullptr;

// Each step reads one frame after an optional seek, in the layout given:
// a seek away from the frame ahead, onto it, a change of layout between the
// frame decoded here and the one ahead, and runs long enough to alternate.
TEST_F(MjpegAhead, FramesAreTheSequentialOnesWhateverComesBetweenReads) {
    struct Step {
        double seek;  // < 0: none
        bool interleaved;
        std::size_t frame;
    } steps[] = {{0.0, true, 0},  {-1, true, 1},  {-1, true, 2},  {-1, false, 3}, {-1, true, 4},
                 {0.2, true, 5},  {0.24, true, 6}, {-1, false, 7}, {-1, false, 8}, {0.08, false, 2},
                 {-1, true, 3},   {0.0, false, 0}, {-1, false, 1}, {0.4, false, 10}, {-1, false, 11}};
    auto reader = openReader(file.path);
    for (const Step& step : steps) {
        if (step.seek >= 0) reader->seekToTime(step.seek);
        const Bytes frame = readOne(*reader, step.interleaved);
        ASSERT_DOUBLE_EQ(reader->getCurrentTime(), sequential->times[step.frame]) << step.frame;
        ASSERT_TRUE(frame == expected(step.frame, step.interleaved))
            << "frame " << step.frame << (step.interleaved ? " interleaved" : " planar");
    }
    readOne(*reader);
    EXPECT_TRUE(reader->isEndOfStream());
    // Past the end and back: startFromBeginning drops nothing it needs.
    reader->startFromBeginning();
    EXPECT_TRUE(readAll(*reader).pixels == sequential->pixels);
}

// Close, reopen and destruction with a frame in the worker's hands (asked
// for right before): the reader starts again from scratch, and the sanitizer
// runs see no thread, memory or race left behind.
TEST_F(MjpegAhead, CloseAndDestructionWithAFrameAhead) {
    auto reader = openReader(file.path);
    readOne(*reader);
    reader->close();
    readOne(*reader);
    EXPECT_TRUE(reader->isEndOfStream());
    reader->open(std::u16string(file.path.begin(), file.path.end()), false);
    reader->startFromBeginning();
    EXPECT_TRUE(readOne(*reader) == expected(0, true));
    readOne(*reader, false);  // frame 1 from the worker; frame 2 goes ahead next
    EXPECT_TRUE(readOne(*reader, false) == expected(2, false));
    reader.reset();
    for (int i = 0; i < 20; ++i) {
        auto brief = openReader(file.path);
        readOne(*brief, i % 2 == 0);
    }
}

// stop from another thread while the host polls, with a frame being decoded
// ahead: delivery ends, every frame delivered is right, and destroying the
// device ends the reader's worker (the sanitizer runs watch the threads).
TEST(MjpegAheadPlugin, StopFromAnotherThreadEndsDelivery) {
    const PeerFile file = gstreamerFile(160, 120, 40, 25, false);
    auto reader = openReader(file.path);
    reader->startFromBeginning();
    const Frames expected = readAll(*reader);
    const char* dir = std::getenv("MM_BUILD_DIR");
    auto plugin = mmhost::Plugin::load(std::string(dir != nullptr ? dir : ".") + "/lib/libmjpegaviplugin.so");
    auto device = plugin->createDevice();
    ASSERT_TRUE(device->initialize(mmhost::toUtf16(file.path)));
    device->start(0.0, true);
    std::atomic<int> delivered{0};
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        while (delivered.load() < 3) std::this_thread::yield();
        device->stop();
        stopped.store(true);
    });
    std::vector<mmhost::BufferPtr> buffers;
    while (device->isDataAvailable()) {
        mmhost::BufferPtr buffer = device->getData();
        if (!buffer) break;
        buffers.push_back(std::move(buffer));
        delivered.store(static_cast<int>(buffers.size()));
        while (buffers.size() == 3 && !stopped.load()) std::this_thread::yield();
    }
    stopper.join();
    EXPECT_EQ(buffers.size(), 3u);
    for (std::size_t i = 0; i < buffers.size(); ++i) {
        const auto* frame = mmhost::asFrame(buffers[i]);
        EXPECT_TRUE(Bytes(frame->buffer->data, frame->buffer->data + frame->buffer->sizeInBytes) ==
                    expected.pixels[i])
            << "frame " << i;
    }
    device.reset();
}

}  // namespace
