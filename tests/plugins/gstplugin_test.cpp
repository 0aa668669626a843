// The GStreamer reader plugin as a host sees it: loaded with dlopen from the
// build tree and driven only through the kit's interfaces.

#include "media.hpp"

#include <common/exceptions/exceptions.hpp>
#include <host/lib/pluginhost.hpp>
#include <videoreader/gstreader.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

namespace kd = asyncioplugin::kit::device;
namespace ex = multimedia::common::exceptions;
using mmhost::OwnedProperties;
using plugin_test::theoraFile;

class GstPluginTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { plugin = mmhost::Plugin::load(plugin_test::pluginPath("gstplugin")); }
    static void TearDownTestSuite() { plugin.reset(); }

    static std::u16string wide(const std::string& path) { return mmhost::toUtf16(path); }

    static std::shared_ptr<mmhost::Plugin> plugin;
};

std::shared_ptr<mmhost::Plugin> GstPluginTest::plugin;

struct Frame {
    double time;
    std::vector<unsigned char> pixels;
};

// Every frame the device delivers after a start, checking each one's shape.
std::vector<Frame> drain(mmhost::Device& device, std::size_t width, std::size_t height, bool rowMajor) {
    std::vector<Frame> frames;
    int nulls = 0;
    while (device.isDataAvailable()) {
        mmhost::BufferPtr buffer = device.getData();
        if (!buffer) {
            ++nulls;
            continue;
        }
        video::VideoFrame* frame = mmhost::asFrame(buffer);
        EXPECT_NE(frame, nullptr);
        if (frame == nullptr || frame->buffer == nullptr) break;
        EXPECT_EQ(frame->buffer->sizeInBytes, width * height * 3);
        EXPECT_EQ(frame->buffer->width, width);
        EXPECT_EQ(frame->buffer->height, height);
        EXPECT_EQ(frame->buffer->numChannels, 3u);
        EXPECT_EQ(frame->buffer->dataType, 3);
        EXPECT_EQ(frame->isRowMajorInterleaved, rowMajor);
        EXPECT_EQ(buffer->getCount(), 1u);
        const auto* data = frame->buffer->data;
        frames.push_back({frame->timestamp, std::vector<unsigned char>(data, data + frame->buffer->sizeInBytes)});
    }
    EXPECT_EQ(nulls, 1) << "the end of the stream is one null";
    EXPECT_TRUE(device.isDone());
    return frames;
}

TEST_F(GstPluginTest, LibraryExportsTheTwoFactoriesAndNothingElseLoadsAsAPlugin) {
    ASSERT_TRUE(plugin);
    EXPECT_EQ(plugin->name(), "gstplugin");
    try {
        mmhost::Plugin::load(plugin_test::buildDir() + "/lib/libavbuffer.so");
        FAIL() << "a library without the factories loaded as a plugin";
    } catch (const mmhost::HostError& e) {
        EXPECT_NE(std::string(e.what()).find("createDevice"), std::string::npos) << e.what();
    }
    EXPECT_THROW(mmhost::Plugin::load("/nonexistent/libnothing.so"), mmhost::HostError);
}

TEST_F(GstPluginTest, OpenPublishesTheFileProperties) {
    const std::string file = theoraFile();
    ASSERT_FALSE(file.empty());
    auto device = plugin->createDevice();
    ASSERT_TRUE(device->initialize(wide(file)));
    const char* order[] = {"Height",   "Width",     "FrameRate",        "Duration",         "BitsPerPixel",
                           "VideoFormat", "VideoCodec", "AudioCodec",   "NumAudioChannels", "NumColorChannels",
                           "HasAudio", "HasVideo",  "IsPluginSuccess"};
    const auto& outputs = device->properties();
    ASSERT_EQ(outputs.size(), std::size(order));
    for (std::size_t i = 0; i < std::size(order); ++i) EXPECT_STREQ(outputs.list()[i]->getName(), order[i]);
    EXPECT_EQ(outputs.get<double>("Height"), 48.0);
    EXPECT_EQ(outputs.get<double>("Width"), 64.0);
    EXPECT_EQ(outputs.get<double>("FrameRate"), 25.0);
    EXPECT_NEAR(outputs.get<double>("Duration").value_or(-1), 30 / 25.0, 0.05);
    EXPECT_EQ(outputs.get<double>("BitsPerPixel"), 24.0);
    EXPECT_EQ(outputs.get<std::u16string>("VideoFormat"), u"RGB24");
    EXPECT_FALSE(outputs.get<std::u16string>("VideoCodec").value_or(u"").empty());
    EXPECT_EQ(outputs.get<double>("NumAudioChannels"), 0.0);
    EXPECT_EQ(outputs.get<double>("NumColorChannels"), 3.0);
    EXPECT_EQ(outputs.get<bool>("HasAudio"), false);
    EXPECT_EQ(outputs.get<bool>("HasVideo"), true);
    EXPECT_EQ(device->messages().size(), 0u);
    EXPECT_FALSE(device->isDataAvailable());
}

TEST_F(GstPluginTest, FailedOpensArePostedOrOnlyFlagged) {
    const std::string missing = "/nonexistent/clip.ogv";
    const std::string garbage = plugin_test::garbageFile("garbage.ogv");
    for (const std::string& name : {missing, garbage, std::string()}) {
        auto loud = plugin->createDevice();
        EXPECT_FALSE(loud->initialize(wide(name), true));
        EXPECT_EQ(loud->properties().size(), 0u) << name;
        const auto posted = loud->messages().messages();
        ASSERT_EQ(posted.size(), 1u) << name;
        EXPECT_EQ(posted[0].type, "error");
        EXPECT_EQ(posted[0].id.rfind("multimedia:videofile:", 0), 0u) << posted[0].id;
        const std::string kind = posted[0].id.substr(std::strlen("multimedia:videofile:"));
        EXPECT_TRUE(kind == "ReadFailed" || kind == "InitializationFailed" || kind == "Unexpected" ||
                    kind == "PluginRequirement")
            << kind;

        auto quiet = plugin->createDevice();
        EXPECT_FALSE(quiet->initialize(wide(name), false));
        ASSERT_EQ(quiet->properties().size(), 1u) << name;
        EXPECT_EQ(quiet->properties().get<bool>("IsPluginSuccess"), false);
        EXPECT_EQ(quiet->messages().size(), 0u);
        // Nothing to position after a failed open: a failed start, no frame.
        quiet->start(std::nullopt, true);
        EXPECT_FALSE(quiet->isDataAvailable());
        EXPECT_EQ(quiet->messages().messages().at(0).id, "multimedia:videofile:ReadFailed");
        EXPECT_EQ(quiet->getData(), nullptr);
    }
}

TEST_F(GstPluginTest, MistypedInputsCountAsAbsent) {
    const std::string file = theoraFile();
    auto device = plugin->createDevice();
    OwnedProperties inputs;
    inputs.add<bool>("Filename", true).add<double>("IsErrorOnInitFail", 0.0);
    inputs.add<std::u16string>("filename", wide(file));
    device->initialize(inputs);
    EXPECT_EQ(device->properties().size(), 0u);  // empty name, errors posted by default
    EXPECT_EQ(device->messages().size(), 1u);
}

TEST_F(GstPluginTest, StartBeforeInitializeIsAFailedPositioning) {
    auto device = plugin->createDevice();
    device->start(0.0, true);
    EXPECT_FALSE(device->isDataAvailable());
    ASSERT_EQ(device->messages().size(), 1u);
    EXPECT_EQ(device->messages().messages()[0].id, "multimedia:videofile:ReadFailed");
    EXPECT_EQ(device->getData(), nullptr);
}

TEST_F(GstPluginTest, DeliversEveryFrameInBothLayoutsAsTheReaderReadsIt) {
    const std::string file = theoraFile();
    auto device = plugin->createDevice();
    ASSERT_TRUE(device->initialize(wide(file)));
    for (bool rowMajor : {true, false}) {
        device->start(std::nullopt, rowMajor);
        ASSERT_TRUE(device->isDataAvailable());
        const auto frames = drain(*device, 64, 48, rowMajor);
        ASSERT_EQ(frames.size(), 30u);
        for (std::size_t i = 0; i < frames.size(); ++i) EXPECT_NEAR(frames[i].time, i / 25.0, 1e-6) << i;
        EXPECT_EQ(device->getData(), nullptr);  // after the end, still nothing

        // The reader alone, read the way the device reads it.
        std::shared_ptr<qsVideoReader::IVideoReader> reader(qsVideoReader::createGstReaderInstance());
        reader->open(wide(file), false);
        reader->startFromBeginning();
        std::vector<unsigned char> expected(64 * 48 * 3);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            reader->readFrame(rowMajor, expected.data());
            ASSERT_FALSE(reader->isEndOfStream());
            EXPECT_EQ(frames[i].pixels, expected) << "frame " << i << (rowMajor ? " row-major" : " default");
        }
        reader->close();
    }
    EXPECT_EQ(device->messages().size(), 0u);
}

TEST_F(GstPluginTest, ReadPositionSelectsBeginningOrSeeks) {
    const std::string file = theoraFile();
    auto device = plugin->createDevice();
    ASSERT_TRUE(device->initialize(wide(file)));
    struct Case {
        std::optional<double> position;
        double firstTime;
        std::size_t count;
    };
    for (const Case& c : {Case{-100.0, 0.0, 30}, Case{0.0, 0.0, 30}, Case{std::nullopt, 0.0, 30},
                          Case{0.6, 0.6, 15}, Case{0.4, 0.4, 20}}) {
        device->start(c.position, true);
        const auto frames = drain(*device, 64, 48, true);
        ASSERT_EQ(frames.size(), c.count) << c.position.value_or(-1);
        EXPECT_NEAR(frames.front().time, c.firstTime, 1e-6) << c.position.value_or(-1);
    }
    EXPECT_EQ(device->messages().size(), 0u);
}

TEST_F(GstPluginTest, ReadsMotionJpegAvi) {
    const std::string file = plugin_test::mjpegAviFile();
    ASSERT_FALSE(file.empty());
    auto device = plugin->createDevice();
    ASSERT_TRUE(device->initialize(wide(file)));
    EXPECT_EQ(device->properties().get<double>("FrameRate"), 10.0);
    device->start(std::nullopt, false);
    EXPECT_EQ(drain(*device, 32, 24, false).size(), 12u);
}

// A chained Ogg whose second part is larger: every frame at the size
// published at open, none stale, times going on from the first part; the
// same through mmtool.
TEST_F(GstPluginTest, ChainedOggThroughTheHostAndMmtool) {
    const std::string file = plugin_test::chainedOggFile();
    ASSERT_FALSE(file.empty());
    auto device = plugin->createDevice();
    ASSERT_TRUE(device->initialize(wide(file)));
    EXPECT_EQ(device->properties().get<double>("Width"), 64.0);
    device->start(std::nullopt, true);
    const auto frames = drain(*device, 64, 48, true);
    ASSERT_EQ(frames.size(), 20u);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_NEAR(frames[i].time, i / 10.0, 1e-6) << i;
        if (i > 0) {
            EXPECT_NE(frames[i].pixels, frames[i - 1].pixels) << i;
        }
    }

    std::FILE* tool = popen((plugin_test::buildDir() + "/bin/mmtool frames '" + file + "'").c_str(), "r");
    ASSERT_NE(tool, nullptr);
    std::string output;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, tool)) > 0;) output.append(chunk, n);
    EXPECT_EQ(pclose(tool), 0);
    std::size_t lines = 0;
    for (std::size_t at = output.find("64x48x3"); at != std::string::npos; at = output.find("64x48x3", at + 1)) {
        ++lines;
    }
    EXPECT_EQ(lines, 20u) << output;
    EXPECT_NE(output.find("t=1.900000"), std::string::npos) << output;
    EXPECT_EQ(output.find("failed read"), std::string::npos) << output;
    EXPECT_NE(output.find("frames: 20"), std::string::npos) << output;
}

TEST_F(GstPluginTest, PluginInformationProbesFiles) {
    auto info = plugin->createPluginInfo();
    EXPECT_EQ(info->getPriority(), multimedia::PluginInfo::PRIORITY_GENERAL);
    const auto formats = info->getReadFormats();
    ASSERT_EQ(formats.size(), 3u);
    EXPECT_EQ(formats[0].extension, "avi");
    EXPECT_EQ(formats[1].extension, "ogg");
    EXPECT_EQ(formats[2].extension, "ogv");
    EXPECT_TRUE(info->getWriteFormats().empty());
    EXPECT_THROW(info->validateWriteFile(u"out.ogv"), ex::WriteNotSupportedException);

    EXPECT_NO_THROW(info->validateReadFile(wide(theoraFile())));
    EXPECT_NO_THROW(info->validateReadFile(wide(plugin_test::mjpegAviFile())));
    for (const std::string& bad : {std::string("/nonexistent/clip.ogv"), plugin_test::garbageFile("bad.ogv")}) {
        try {
            info->validateReadFile(wide(bad));
            ADD_FAILURE() << bad << " accepted";
        } catch (const ex::Exception& e) {
            const std::string kind = e.name();
            EXPECT_TRUE(kind == "ReadFailed" || kind == "InitializationFailed" || kind == "Unexpected") << kind;
        }
    }
}

TEST_F(GstPluginTest, HostChoosesThePluginByExtensionAndProbe) {
    const std::vector<std::shared_ptr<mmhost::Plugin>> plugins = {plugin};
    EXPECT_EQ(mmhost::choosePlugin(plugins, theoraFile()), plugin);
    std::vector<std::string> why;
    EXPECT_EQ(mmhost::choosePlugin(plugins, plugin_test::garbageFile("nothing.ogg"), &why), nullptr);
    ASSERT_EQ(why.size(), 1u);
    EXPECT_EQ(why[0].rfind("gstplugin: ", 0), 0u) << why[0];
    why.clear();
    EXPECT_EQ(mmhost::choosePlugin(plugins, "clip.mkv", &why), nullptr);
    ASSERT_EQ(why.size(), 1u);
    EXPECT_NE(why[0].find("mkv"), std::string::npos);
    EXPECT_EQ(mmhost::extensionOf("/a.b/Clip.OGV"), "ogv");
    EXPECT_EQ(mmhost::extensionOf("/a.b/clip"), "");
}

TEST_F(GstPluginTest, HostPrefersTheSpecialisedPluginAndFallsBackToGStreamer) {
    std::vector<std::string> skipped;
    const auto plugins =
        mmhost::loadPlugins(plugin_test::buildDir() + "/lib", mmhost::knownReaderPlugins(), &skipped);
    ASSERT_EQ(plugins.size(), mmhost::knownReaderPlugins().size()) << (skipped.empty() ? "" : skipped[0]);
    auto chosen = [&](const std::string& file) {
        const auto plugin = mmhost::choosePlugin(plugins, file);
        return plugin ? plugin->name() : std::string("none");
    };
    // Both read Motion-JPEG AVI: the specialised plugin ranks higher.
    EXPECT_EQ(chosen(plugin_test::mjpegAviFile()), "mjpegaviplugin");
    EXPECT_EQ(chosen(theoraFile()), "gstplugin");
    // An .avi the specialised plugin refuses goes to the next one that reads it.
    const std::string mpeg4InAvi = plugin_test::makeMedia(
        "mpeg4.avi", "videotestsrc num-buffers=5 ! video/x-raw,width=32,height=24,framerate=10/1 ! avenc_mpeg4 ! "
                      "avimux ! filesink location=@OUT@");
    ASSERT_FALSE(mpeg4InAvi.empty());
    EXPECT_EQ(chosen(mpeg4InAvi), "gstplugin");
    EXPECT_EQ(chosen(plugin_test::garbageFile("garbage.avi")), "none");
}

TEST_F(GstPluginTest, AudioOnlyFileOpensWithoutVideoOrIsRefusedCleanly) {
    const std::string file = plugin_test::audioOnlyFile();
    ASSERT_FALSE(file.empty());
    auto device = plugin->createDevice();
    if (device->initialize(wide(file))) {
        EXPECT_EQ(device->properties().get<bool>("HasVideo"), false);
        EXPECT_EQ(device->properties().get<double>("Width"), 0.0);
    } else {
        EXPECT_EQ(device->messages().size(), 1u);
    }
}

}  // namespace
