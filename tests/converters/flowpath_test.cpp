// The whole way to the flow model: a reader plugin delivers frames through
// the reference host, which passes each through videoflowconverter and reads
// the pixels from the converter's list, as the block-diagram environment does.

#include "converterloader.hpp"

#include <converters/audio/databuffer.hpp>
#include <host/lib/flowconvert.hpp>
#include <host/lib/pluginhost.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using mmhost::BufferPtr;
using mmhost::FlowConverter;
using mmhost::FlowFrame;

// A scratch folder of this test process, removed at the end.
class Scratch {
public:
    Scratch() {
        std::string pattern = "/tmp/mm-flowpath-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~Scratch() {
        if (!path_.empty() && std::system(("rm -rf '" + path_ + "'").c_str()) != 0) {
            // Left behind in /tmp; nothing more to do.
        }
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// The folder the test binaries are built into.
std::string testBinaryDir() {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return ".";
    const std::string exe(self, static_cast<std::size_t>(n));
    return exe.substr(0, exe.find_last_of('/'));
}

struct Delivered {
    FlowFrame frame;
    unsigned char* devicePixels;  // the block the device allocated for the frame
};

// Polls the device as a host does and converts every frame on arrival.
std::vector<Delivered> collect(mmhost::Device& device, FlowConverter& converter, std::size_t limit = 1000) {
    std::vector<Delivered> delivered;
    while (device.isDataAvailable() && delivered.size() < limit) {
        BufferPtr buffer = device.getData();
        if (!buffer) break;
        const video::VideoFrame* frame = mmhost::asFrame(buffer);
        unsigned char* pixels = frame != nullptr && frame->buffer != nullptr ? frame->buffer->data : nullptr;
        std::optional<FlowFrame> converted = converter.convert(std::move(buffer));
        if (!converted) {
            ADD_FAILURE() << "the converter refused a delivered frame";
            break;
        }
        delivered.push_back({std::move(*converted), pixels});
    }
    return delivered;
}

class FlowPath : public ::testing::Test {
protected:
    void SetUp() override { converter_ = FlowConverter::load(convtest::libraryDir()); }
    std::unique_ptr<FlowConverter> converter_;
};

// An 8-frame 64 x 48 Theora clip made with GStreamer in `folder`; "" on failure.
std::string makeClip(const std::string& folder) {
    const std::string clip = folder + "/ball.ogv";
    const std::string make =
        "timeout 60 gst-launch-1.0 -q videotestsrc num-buffers=8 pattern=ball ! "
        "video/x-raw,width=64,height=48,framerate=10/1 ! theoraenc ! oggmux ! filesink location=" +
        clip + " >/dev/null 2>&1";
    return !folder.empty() && std::system(make.c_str()) == 0 ? clip : std::string();
}

TEST_F(FlowPath, GstreamerFramesReachTheFlowModelUncopied) {
    Scratch scratch;
    const std::string clip = makeClip(scratch.path());
    ASSERT_FALSE(clip.empty()) << "could not make the test clip";

    auto plugin = mmhost::Plugin::load(convtest::libraryDir() + "/libgstplugin.so");
    auto device = plugin->createDevice();
    ASSERT_TRUE(device->initialize(mmhost::toUtf16(clip)));
    ASSERT_EQ(device->properties().get<double>("Height"), 48.0);
    ASSERT_EQ(device->properties().get<double>("Width"), 64.0);
    device->start(std::nullopt, true);

    const std::vector<Delivered> frames = collect(*device, *converter_);
    ASSERT_EQ(frames.size(), 8u);
    double previous = -1.0;
    for (const Delivered& d : frames) {
        const FlowFrame& f = d.frame;
        // The very block the device filled: only the pointer moved.
        ASSERT_NE(d.devicePixels, nullptr);
        EXPECT_EQ(f.pixels.get(), d.devicePixels);
        EXPECT_FALSE(f.failed);
        EXPECT_EQ(f.height, 48u);
        EXPECT_EQ(f.width, 64u);
        EXPECT_EQ(f.channels, 3u);
        EXPECT_EQ(f.dataType, multimedia::common::avbuffer::VIDEO_UINT8);
        EXPECT_EQ(f.blockBytes, 48u * 64u * 3u);
        EXPECT_GT(f.timestamp, previous);
        previous = f.timestamp;
    }
    // The test pattern's background is not black: real pixels arrived.
    unsigned long sum = 0;
    for (std::uint64_t i = 0; i < frames[0].frame.blockBytes; ++i) sum += frames[0].frame.pixels[i];
    EXPECT_GT(sum, 0u);
    EXPECT_TRUE(device->messages().messages().empty());
}

TEST(MmtoolFrames, ReportsTheFiveValuesOfEachFramesList) {
    Scratch scratch;
    const std::string clip = makeClip(scratch.path());
    ASSERT_FALSE(clip.empty()) << "could not make the test clip";
    const std::string libs = convtest::libraryDir();
    const std::string tool = libs.substr(0, libs.find_last_of('/')) + "/bin/mmtool";
    std::FILE* pipe = popen((tool + " frames '" + clip + "' 2>/dev/null").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, n);
    ASSERT_EQ(pclose(pipe), 0) << out;

    int lists = 0;
    std::size_t at = 0;
    for (std::size_t next; (next = out.find('\n', at)) != std::string::npos; at = next + 1) {
        const std::string line = out.substr(at, next - at);
        if (line.find("list: block=0x") == std::string::npos) continue;
        ++lists;
        EXPECT_NE(line.find("height=48 width=64 channels=3 type=3"), std::string::npos) << line;
    }
    EXPECT_EQ(lists, 8) << out;
}

TEST_F(FlowPath, AFailedReadArrivesMarkedAndEndsDelivery) {
    auto plugin = mmhost::Plugin::load(MMTEST_FAILING_PLUGIN);
    auto device = plugin->createDevice();
    ASSERT_TRUE(device->initialize(u"any.fail"));
    device->start(std::nullopt, true);

    const std::vector<Delivered> frames = collect(*device, *converter_);
    ASSERT_EQ(frames.size(), 3u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_FALSE(frames[i].frame.failed);
        EXPECT_EQ(frames[i].frame.height, 3u);
        EXPECT_EQ(frames[i].frame.pixels[0], 0x40 + i);
    }
    const FlowFrame& failed = frames[2].frame;
    EXPECT_TRUE(failed.failed);
    EXPECT_EQ(failed.height, 0u);
    EXPECT_NE(failed.describe().find("height=(int)0"), std::string::npos) << failed.describe();
    // The rest of the list is as for a good frame, and the block still moves.
    EXPECT_EQ(failed.width, 5u);
    EXPECT_EQ(failed.channels, 3u);
    EXPECT_EQ(failed.pixels.get(), frames[2].devicePixels);
    EXPECT_FALSE(device->isDataAvailable());
}

TEST_F(FlowPath, BuffersThatAreNoFramesAreReleasedAndRefused) {
    auto* samples = new audio::DataBuffer();
    samples->data = new unsigned char[8];
    samples->count = 8;
    samples->numChannels = 1;
    samples->dataType = multimedia::common::avbuffer::AUDIO_UINT8;
    EXPECT_FALSE(converter_->convert(BufferPtr(samples)).has_value());
    EXPECT_FALSE(converter_->convert(BufferPtr(new video::VideoFrame())).has_value());
    EXPECT_FALSE(converter_->convert(BufferPtr()).has_value());
}

TEST(FlowConverterLoad, AMissingConverterIsAHostError) {
    EXPECT_THROW(FlowConverter::load("/nonexistent-folder"), mmhost::HostError);
    // A library without createConverter is refused as well.
    EXPECT_THROW(FlowConverter::load(testBinaryDir() + "/no-such"), mmhost::HostError);
}

}  // namespace
