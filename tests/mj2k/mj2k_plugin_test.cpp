// The Motion JPEG 2000 reader plugin loaded with dlopen and driven through the
// reference host, as an outside host drives it.

#include "common.hpp"

#include <common/exceptions/exceptions.hpp>
#include <host/lib/pluginhost.hpp>
#include <platform/services/pluginregistry/pluginregistry.hpp>

#include <cmath>
#include <cstdlib>
#include <limits>

using namespace mj2test;
namespace ex = multimedia::common::exceptions;

namespace {

class Mj2kPlugin : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const char* build = std::getenv("MM_BUILD_DIR");
        ASSERT_NE(build, nullptr) << "MM_BUILD_DIR is not set";
        plugin = mmhost::Plugin::load(std::string(build) + "/lib/libmj2kplugin.so");
    }
    static void TearDownTestSuite() { plugin.reset(); }

    static std::unique_ptr<mmhost::Device> openDevice(const std::string& path, bool errorOnInitFail = true) {
        std::unique_ptr<mmhost::Device> device = plugin->createDevice();
        device->initialize(u16(path), errorOnInitFail);
        return device;
    }

    static std::vector<std::string> names(const mmhost::OwnedProperties& props) {
        std::vector<std::string> out;
        for (auto* p : props.list()) out.push_back(p->getName());
        return out;
    }

    static std::vector<std::string> messageIds(const mmhost::Device& device) {
        std::vector<std::string> out;
        for (const auto& m : device.messages().messages()) out.push_back(m.id);
        return out;
    }

    static std::shared_ptr<mmhost::Plugin> plugin;
};

std::shared_ptr<mmhost::Plugin> Mj2kPlugin::plugin;

const std::vector<std::string> kAllProperties = {"Height", "Width", "FrameRate", "Duration", "BitsPerPixel",
                                                 "VideoFormat", "VideoCodec", "AudioCodec", "NumAudioChannels",
                                                 "NumColorChannels", "HasAudio", "HasVideo", "IsPluginSuccess"};

TEST_F(Mj2kPlugin, PluginInfoRegistersMj2AndProbesFiles) {
    mmhost::PluginSummary summary = mmhost::describe(*plugin);
    EXPECT_EQ(summary.readFormats, std::vector<std::string>{"mj2"});
    EXPECT_TRUE(summary.writeFormats.empty());
    EXPECT_EQ(summary.priority,
              static_cast<int>(multimedia::PluginInfo::getVideoPluginInfoMap()[multimedia::PluginInfo::kMotionJpeg2000Key]));

    mmhost::PluginInfoPtr info = plugin->createPluginInfo();
    EXPECT_NO_THROW(info->validateReadFile(u16(writeTemp("probe.mj2", writeMovie(simpleMovie(8, 8, 3, 8, 2))))));
    EXPECT_THROW(info->validateWriteFile(u"out.mj2"), ex::WriteNotSupportedException);
    EXPECT_THROW(info->validateReadFile(u"/no/such/file.mj2"), ex::FileNotFoundException);
    std::string text = "plain text";
    EXPECT_THROW(info->validateReadFile(u16(writeTemp("probe.txt", {text.begin(), text.end()}))), ex::FileCorruptException);
    MovieLayout avc = simpleMovie(8, 8, 3, 8, 1);
    avc.videoEntryType = "avc1";
    EXPECT_THROW(info->validateReadFile(u16(writeTemp("probe-avc.mj2", writeMovie(avc)))), ex::UnknownCodecException);
    MovieLayout audio = simpleMovie(8, 8, 3, 8, 1);
    audio.withVideo = false;
    audio.withAudio = true;
    EXPECT_THROW(info->validateReadFile(u16(writeTemp("probe-audio.mj2", writeMovie(audio)))), ex::NoVideoException);
}

TEST_F(Mj2kPlugin, InitializePublishesEveryProperty) {
    MovieLayout layout = simpleMovie(30, 20, 3, 8, 5);
    layout.withAudio = true;
    auto device = openDevice(writeTemp("plugin-props.mj2", writeMovie(layout)));
    const auto& props = device->properties();
    EXPECT_EQ(names(props), kAllProperties);
    EXPECT_EQ(props.get<double>("Height"), 20.0);
    EXPECT_EQ(props.get<double>("Width"), 30.0);
    EXPECT_EQ(props.get<double>("FrameRate"), 25.0);
    EXPECT_EQ(props.get<double>("Duration"), 0.2);
    EXPECT_EQ(props.get<double>("BitsPerPixel"), 24.0);
    EXPECT_EQ(props.get<std::u16string>("VideoFormat"), u"RGB24");
    EXPECT_EQ(props.get<std::u16string>("VideoCodec"), u"mjp2");
    EXPECT_EQ(props.get<std::u16string>("AudioCodec"), u"twos");
    EXPECT_EQ(props.get<double>("NumAudioChannels"), 2.0);
    EXPECT_EQ(props.get<double>("NumColorChannels"), 3.0);
    EXPECT_EQ(props.get<bool>("HasAudio"), true);
    EXPECT_EQ(props.get<bool>("IsPluginSuccess"), true);
    EXPECT_TRUE(device->messages().messages().empty());
}

struct FrameCase {
    const char* name;
    std::uint32_t components, precision, dataType, bytes;
};
void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }

class Mj2kPluginFrames : public Mj2kPlugin, public ::testing::WithParamInterface<FrameCase> {};

// Buffers hold width x height x channels x bytes per sample, with the reader's
// sample type, and carry the frames OpenJPEG decodes.
TEST_P(Mj2kPluginFrames, FramesArriveWithTheirSampleType) {
    const FrameCase& c = GetParam();
    std::vector<std::vector<std::uint8_t>> codestreams;
    MovieLayout layout = simpleMovie(21, 13, c.components, c.precision, 4, &codestreams);
    auto device = openDevice(writeTemp(std::string("plugin-") + c.name + ".mj2", writeMovie(layout)));
    ASSERT_EQ(device->properties().get<bool>("IsPluginSuccess"), true);
    for (bool rowMajor : {true, false}) {
        device->start(0.0, rowMajor);
        std::size_t n = 0;
        while (device->isDataAvailable()) {
            mmhost::BufferPtr buffer = device->getData();
            if (!buffer) break;
            video::VideoFrame* frame = mmhost::asFrame(buffer);
            ASSERT_NE(frame, nullptr);
            ASSERT_LT(n, codestreams.size());
            EXPECT_EQ(frame->buffer->sizeInBytes, 21u * 13u * c.components * c.bytes);
            EXPECT_EQ(static_cast<std::uint32_t>(frame->buffer->dataType), c.dataType);
            EXPECT_EQ(frame->buffer->numChannels, c.components);
            EXPECT_EQ(frame->isRowMajorInterleaved, rowMajor);
            EXPECT_DOUBLE_EQ(frame->timestamp, 0.04 * n);
            Decoded d = decodeJ2k(codestreams[n].data(), codestreams[n].size());
            std::vector<std::uint8_t> want = c.bytes == 2 ? asBytes(expectedFrame<std::uint16_t>(d, c.components, rowMajor))
                                                          : asBytes(expectedFrame<std::uint8_t>(d, c.components, rowMajor));
            ASSERT_EQ(want.size(), frame->buffer->sizeInBytes);
            EXPECT_TRUE(std::equal(want.begin(), want.end(), frame->buffer->data)) << "frame " << n;
            ++n;
        }
        EXPECT_EQ(n, codestreams.size());
        EXPECT_FALSE(device->isDataAvailable());
    }
}

INSTANTIATE_TEST_SUITE_P(Mj2kPlugin, Mj2kPluginFrames,
                         ::testing::Values(FrameCase{"rgb8", 3, 8, 3, 1}, FrameCase{"rgb16", 3, 16, 5, 2},
                                           FrameCase{"gray8", 1, 8, 3, 1}, FrameCase{"gray12", 1, 12, 5, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Mj2kPlugin, StartPositionsAndPassesFailuresToTheHost) {
    auto device = openDevice(writeTemp("plugin-start.mj2", writeMovie(simpleMovie(8, 8, 1, 8, 5))));
    device->start(0.12, true);
    mmhost::BufferPtr buffer = device->getData();
    ASSERT_TRUE(buffer);
    EXPECT_DOUBLE_EQ(mmhost::asFrame(buffer)->timestamp, 0.12);

    // Positioning failures are not posted: they reach the host as exceptions.
    EXPECT_THROW(device->start(std::nan(""), true), qsVideoReader::SeekFailedException);
    EXPECT_TRUE(device->messages().messages().empty());

    // A device whose open failed has no reader to position.
    auto failed = openDevice("/no/such/file.mj2");
    EXPECT_THROW(failed->start(0.0, true), std::exception);
    EXPECT_FALSE(failed->isDataAvailable());
    EXPECT_FALSE(failed->getData());
}

// An undeliverable depth is always posted, the depth properties are missing,
// the open still succeeds, and frames are failed reads that end delivery.
TEST_F(Mj2kPlugin, BitDepthIsReportedAndInitializeStillSucceeds) {
    Picture p = makePicture(10, 10, 3, 7, 0);
    p.isSigned = true;
    MovieLayout layout;
    layout.width = layout.height = 10;
    layout.samples = {encodeJ2k(p), encodeJ2k(p)};
    std::string path = writeTemp("plugin-signed.mj2", writeMovie(layout));
    for (bool errorOnInitFail : {true, false}) {
        auto device = openDevice(path, errorOnInitFail);
        EXPECT_EQ(messageIds(*device), std::vector<std::string>{"multimedia:videofile:BitDepth"});
        std::vector<std::string> expected = kAllProperties;
        expected.erase(expected.begin() + 4, expected.begin() + 6);
        EXPECT_EQ(names(device->properties()), expected);
        EXPECT_EQ(device->properties().get<bool>("IsPluginSuccess"), true);

        device->start(0.0, false);
        mmhost::BufferPtr buffer = device->getData();
        ASSERT_TRUE(buffer);
        video::VideoFrame* frame = mmhost::asFrame(buffer);
        // No type from the reader: the default type 9, with the widest sample.
        EXPECT_EQ(static_cast<int>(frame->buffer->dataType), 9);
        EXPECT_EQ(frame->buffer->sizeInBytes, 10u * 10u * 3u * 8u);
        EXPECT_EQ(frame->timestamp, std::numeric_limits<double>::infinity());
        EXPECT_FALSE(device->isDataAvailable());
    }
}

TEST_F(Mj2kPlugin, OpenFailuresFollowTheCatchList) {
    struct Case {
        std::string path;
        const char* id;
    };
    MovieLayout audio = simpleMovie(8, 8, 3, 8, 1);
    audio.withVideo = false;
    audio.withAudio = true;
    std::string text = "not a movie";
    const Case cases[] = {
        {"/no/such/file.mj2", "multimedia:videofile:ReadFailed"},
        {writeTemp("plugin-text.mj2", {text.begin(), text.end()}), "multimedia:videofile:ReadFailed"},
        {writeTemp("plugin-audio.mj2", writeMovie(audio)), "multimedia:videofile:NoVideo"},
        {"", "multimedia:videofile:ReadFailed"},
    };
    for (const Case& c : cases) {
        auto loud = openDevice(c.path, true);
        EXPECT_EQ(messageIds(*loud), std::vector<std::string>{c.id}) << c.path;
        EXPECT_EQ(loud->properties().size(), 0u) << c.path;

        auto quiet = openDevice(c.path, false);
        EXPECT_TRUE(quiet->messages().messages().empty()) << c.path;
        EXPECT_EQ(names(quiet->properties()), std::vector<std::string>{"IsPluginSuccess"}) << c.path;
        EXPECT_EQ(quiet->properties().get<bool>("IsPluginSuccess"), false) << c.path;
    }
}

// A failed frame in the middle is delivered with an infinite time and ends
// delivery; the host goes on.
TEST_F(Mj2kPlugin, DamagedFrameEndsDelivery) {
    std::vector<std::uint64_t> offsets;
    MovieLayout layout = simpleMovie(12, 8, 3, 8, 3);
    std::vector<std::uint8_t> file = writeMovie(layout, &offsets);
    for (std::size_t i = 2; i < layout.samples[1].size(); ++i) file[offsets[1] + i] ^= 0x5A;
    auto device = openDevice(writeTemp("plugin-damaged.mj2", file));
    device->start(0.0, true);
    mmhost::BufferPtr first = device->getData();
    ASSERT_TRUE(first);
    EXPECT_DOUBLE_EQ(mmhost::asFrame(first)->timestamp, 0.0);
    mmhost::BufferPtr second = device->getData();
    ASSERT_TRUE(second);
    EXPECT_EQ(mmhost::asFrame(second)->timestamp, std::numeric_limits<double>::infinity());
    EXPECT_FALSE(device->isDataAvailable());
}

}  // namespace
