// The Motion-JPEG AVI plugin loaded with dlopen through the reference host:
// plugin information, properties (with the palette of 8-bit uncompressed
// files), frame delivery and its end, and the failure paths.

#include "mjpegfixtures.hpp"

#include <common/exceptions/exceptions.hpp>
#include <host/lib/pluginhost.hpp>
#include <platform/services/pluginregistry/pluginregistry.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>

using namespace mjpegtest;
namespace ex = multimedia::common::exceptions;
namespace kitdev = asyncioplugin::kit::device;

namespace {

std::string pluginPath() {
    const char* dir = std::getenv("MM_BUILD_DIR");
    return std::string(dir != nullptr ? dir : ".") + "/lib/libmjpegaviplugin.so";
}

class MjpegPlugin : public ::testing::Test {
protected:
    static void SetUpTestSuite() { plugin = mmhost::Plugin::load(pluginPath()); }
    static void TearDownTestSuite() { plugin.reset(); }
    static std::shared_ptr<mmhost::Plugin> plugin;

    static std::string written(const std::string& name, const Bytes& bytes) {
        const std::string path = scratchPath(name);
        writeFile(path, bytes);
        return path;
    }

    // Every buffer the device delivers until it returns null, with the
    // availability flag checked before each call as a host does.
    static std::vector<mmhost::BufferPtr> drain(mmhost::Device& device) {
        std::vector<mmhost::BufferPtr> buffers;
        for (int guard = 0; guard < 10000 && device.isDataAvailable(); ++guard) {
            mmhost::BufferPtr buffer = device.getData();
            if (!buffer) {
                break;
            }
            buffers.push_back(std::move(buffer));
        }
        return buffers;
    }

    static Bytes pixels(const mmhost::BufferPtr& buffer) {
        const video::VideoFrame* frame = mmhost::asFrame(buffer);
        return Bytes(frame->buffer->data, frame->buffer->data + frame->buffer->sizeInBytes);
    }

    static std::vector<std::string> names(const mmhost::OwnedProperties& properties) {
        std::vector<std::string> result;
        for (const auto* p : properties.list()) {
            result.emplace_back(p->getName());
        }
        return result;
    }
};

std::shared_ptr<mmhost::Plugin> MjpegPlugin::plugin;

TEST_F(MjpegPlugin, InformationNamesAviAndTheRegistryPriority) {
    mmhost::PluginInfoPtr info = plugin->createPluginInfo();
    const auto formats = info->getReadFormats();
    ASSERT_EQ(formats.size(), 1u);
    EXPECT_EQ(formats[0].extension, "avi");
    EXPECT_TRUE(info->getWriteFormats().empty());
    auto table = multimedia::PluginInfo::getVideoPluginInfoMap();
    EXPECT_EQ(info->getPriority(), table["MotionJpegAvi"]);
    EXPECT_THROW(info->validateWriteFile(u"out.avi"), ex::WriteNotSupportedException);
}

TEST_F(MjpegPlugin, ProbeAcceptsMotionJpegAndMapsEachRefusal) {
    mmhost::PluginInfoPtr info = plugin->createPluginInfo();
    const PeerFile good = gstreamerFile(32, 24, 5, 10, true);
    EXPECT_NO_THROW(info->validateReadFile(mmhost::toUtf16(good.path)));

    AviRecipe audioOnly;
    audioOnly.video = false;
    audioOnly.audio = true;
    audioOnly.audioChunks = {Bytes(400, 3)};
    EXPECT_THROW(info->validateReadFile(mmhost::toUtf16(written("p-audio.avi", buildAvi(audioOnly)))),
                 ex::NoVideoException);
    EXPECT_THROW(info->validateReadFile(mmhost::toUtf16(written("p-text.avi", Bytes(64, 'x')))),
                 ex::InitializationFailedException);
    // Not listed in the catch list: a missing file and another codec.
    EXPECT_THROW(info->validateReadFile(u"/no/such/file.avi"), ex::ReadFailedException);
    AviRecipe xvid;
    xvid.fourCC = "XVID";
    xvid.frames = {Bytes(100, 0)};
    EXPECT_THROW(info->validateReadFile(mmhost::toUtf16(written("p-xvid.avi", buildAvi(xvid)))),
                 ex::ReadFailedException);
}

TEST_F(MjpegPlugin, PublishesTheFileProperties) {
    const PeerFile file = gstreamerFile(33, 17, 10, 25, true);
    auto device = plugin->createDevice();
    ASSERT_TRUE(device->initialize(mmhost::toUtf16(file.path)));
    const mmhost::OwnedProperties& p = device->properties();
    EXPECT_EQ(names(p), (std::vector<std::string>{"Height", "Width", "FrameRate", "Duration", "BitsPerPixel",
                                                  "VideoFormat", "VideoCodec", "AudioCodec", "NumAudioChannels",
                                                  "NumColorChannels", "HasAudio", "HasVideo", "IsPluginSuccess"}));
    EXPECT_EQ(p.get<double>("Height"), 17.0);
    EXPECT_EQ(p.get<double>("Width"), 33.0);
    EXPECT_EQ(p.get<double>("FrameRate"), 25.0);
    EXPECT_NEAR(*p.get<double>("Duration"), 0.4, 1e-12);
    EXPECT_EQ(p.get<double>("BitsPerPixel"), 24.0);
    EXPECT_EQ(p.get<std::u16string>("VideoFormat"), u"RGB24");
    EXPECT_EQ(p.get<std::u16string>("VideoCodec"), u"MJPG");
    EXPECT_EQ(p.get<double>("NumAudioChannels"), 2.0);
    EXPECT_EQ(p.get<double>("NumColorChannels"), 3.0);
    EXPECT_EQ(p.get<bool>("HasAudio"), true);
    EXPECT_EQ(p.get<bool>("HasVideo"), true);
    EXPECT_EQ(device->messages().size(), 0u);
}

TEST_F(MjpegPlugin, DeliversEveryFrameInBothLayoutsThenEnds) {
    const PeerFile file = ffmpegFile(35, 19, 8, 24, false);
    auto reader = openReader(file.path);
    reader->startFromBeginning();
    const Frames expected = readAll(*reader);
    ASSERT_EQ(expected.pixels.size(), 8u);

    auto device = plugin->createDevice();
    ASSERT_TRUE(device->initialize(mmhost::toUtf16(file.path)));
    for (bool interleaved : {true, false}) {
        device->start(0.0, interleaved);
        ASSERT_TRUE(device->isDataAvailable());
        const auto buffers = drain(*device);
        ASSERT_EQ(buffers.size(), 8u);
        for (std::size_t i = 0; i < buffers.size(); ++i) {
            const video::VideoFrame* frame = mmhost::asFrame(buffers[i]);
            ASSERT_NE(frame, nullptr);
            EXPECT_EQ(frame->buffer->sizeInBytes, 35u * 19u * 3u);
            EXPECT_EQ(frame->buffer->dataType, 3);
            EXPECT_EQ(frame->buffer->numChannels, 3u);
            EXPECT_EQ(frame->isRowMajorInterleaved, interleaved);
            EXPECT_DOUBLE_EQ(frame->timestamp, expected.times[i]);
            const Bytes want = interleaved ? expected.pixels[i] : toColumnMajorPlanes(expected.pixels[i], 35, 19);
            EXPECT_TRUE(pixels(buffers[i]) == want) << "frame " << i << (interleaved ? " interleaved" : " planar");
        }
        EXPECT_FALSE(device->isDataAvailable());
        EXPECT_TRUE(device->isDone());
    }
    EXPECT_EQ(device->messages().size(), 0u);
}

TEST_F(MjpegPlugin, ReadPositionPicksTheFirstFrame) {
    const PeerFile file = gstreamerFile(32, 24, 12, 10, false);
    auto device = plugin->createDevice();
    ASSERT_TRUE(device->initialize(mmhost::toUtf16(file.path)));
    device->start(0.55, true);  // frame 5 is shown from 0.5 s to 0.6 s
    const auto buffers = drain(*device);
    ASSERT_EQ(buffers.size(), 7u);
    EXPECT_DOUBLE_EQ(mmhost::asFrame(buffers[0])->timestamp, 0.5);
    // A start beyond the end delivers nothing.
    device->start(5.0, true);
    EXPECT_TRUE(drain(*device).empty());
    EXPECT_FALSE(device->isDataAvailable());
}

TEST_F(MjpegPlugin, FailedStartIsSilent) {
    const PeerFile file = gstreamerFile(32, 24, 12, 10, false);
    auto device = plugin->createDevice();
    ASSERT_TRUE(device->initialize(mmhost::toUtf16(file.path)));
    device->start(-1.0, true);
    EXPECT_FALSE(device->isDataAvailable());
    EXPECT_EQ(device->messages().size(), 0u);
    // A later good start recovers.
    device->start(0.0, true);
    EXPECT_TRUE(device->isDataAvailable());
    EXPECT_EQ(drain(*device).size(), 12u);
}

TEST_F(MjpegPlugin, CorruptFrameIsDeliveredMarkedAndEndsDelivery) {
    AviRecipe recipe;
    recipe.width = 16;
    recipe.height = 8;
    for (int i = 0; i < 5; ++i) {
        recipe.frames.push_back(encodeJpeg(testPicture(16, 8, i), 16, 8));
    }
    recipe.frames[2] = Bytes(recipe.frames[2].size(), 0x33);
    auto device = plugin->createDevice();
    ASSERT_TRUE(device->initialize(mmhost::toUtf16(written("plugin-corrupt.avi", buildAvi(recipe)))));
    device->start(0.0, true);
    const auto buffers = drain(*device);
    ASSERT_EQ(buffers.size(), 3u);
    EXPECT_DOUBLE_EQ(mmhost::asFrame(buffers[1])->timestamp, 0.04);
    EXPECT_TRUE(std::isinf(mmhost::asFrame(buffers[2])->timestamp));
    EXPECT_FALSE(device->isDataAvailable());
    // Why the frame failed goes to the host as a warning.
    const auto posted = device->messages().messages();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].type, "warning");
    EXPECT_EQ(posted[0].id, "multimedia:videofile:CorruptFrame");
    EXPECT_NE(posted[0].text.find("frame 2 "), std::string::npos) << posted[0].text;
    // Starting past the bad frame reads on.
    device->start(0.12, true);
    EXPECT_EQ(drain(*device).size(), 2u);
}

// FFmpeg writes an empty chunk for each gap in the frame times and for each
// frame the audio (here MP3) outlasts the video by. Every frame is delivered
// at its own time; a dropped one shows the picture before it, the others are
// djpeg's decode of their chunk and FFmpeg's picture of the same number.
TEST_F(MjpegPlugin, DroppedFramesAreDeliveredAtTheirOwnTimes) {
    if (!testsupport::haveTool("djpeg") || !testsupport::haveTool("ffprobe")) GTEST_SKIP() << "no djpeg or ffprobe";
    const std::string path = scratchPath("plugin-dropped.avi");
    ASSERT_TRUE(run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=25 -f lavfi "
                    "-i sine=frequency=440:sample_rate=22050:duration=1.5 -frames:v 25 "
                    "-vf \"select='not(eq(n\\,5)+eq(n\\,17))'\" -fps_mode passthrough -c:v mjpeg -q:v 3 "
                    "-c:a libmp3lame '" + path + "'"));
    const Bytes file = readFile(path);
    const auto chunks = videoChunks(file);
    ASSERT_GT(chunks.size(), 27u) << "the audio outlasts the video";
    auto device = plugin->createDevice();
    ASSERT_TRUE(device->initialize(mmhost::toUtf16(path)));
    EXPECT_EQ(device->properties().get<bool>("IsPluginSuccess"), true);
    device->start(0.0, true);
    const auto buffers = drain(*device);
    ASSERT_EQ(buffers.size(), chunks.size());
    EXPECT_EQ(device->messages().size(), 0u);
    // The frames FFmpeg decodes, by number.
    const std::string theirsPath = path + ".rgb";
    ASSERT_TRUE(run("ffmpeg -nostdin -v error -y -i '" + path + "' -map 0:v -fps_mode passthrough -f rawvideo "
                    "-pix_fmt rgb24 '" + theirsPath + "'"));
    const Bytes theirs = readFile(theirsPath);
    std::istringstream pts(testsupport::run("ffprobe -v error -select_streams v -show_entries packet=pts -of csv=p=0 '" +
                                            path + "'"));
    std::vector<std::size_t> numbers;
    for (std::size_t p; pts >> p;) numbers.push_back(p);
    const std::size_t frameBytes = 64 * 48 * 3;
    ASSERT_EQ(theirs.size(), numbers.size() * frameBytes);
    std::size_t shown = 0, ffmpegFrame = 0;
    for (std::size_t k = 0; k < buffers.size(); ++k) {
        EXPECT_DOUBLE_EQ(mmhost::asFrame(buffers[k])->timestamp, 0.04 * static_cast<double>(k));
        const Bytes ours = pixels(buffers[k]);
        if (chunks[k].size == 0) {
            EXPECT_TRUE(ours == pixels(buffers[shown])) << "dropped frame " << k;
            continue;
        }
        shown = k;
        EXPECT_TRUE(ours == djpegDecode(chunkData(file, chunks[k]))) << "frame " << k;
        ASSERT_LT(ffmpegFrame, numbers.size());
        EXPECT_EQ(numbers[ffmpegFrame], k);
        const Bytes theirFrame(theirs.begin() + static_cast<long>(ffmpegFrame * frameBytes),
                               theirs.begin() + static_cast<long>((ffmpegFrame + 1) * frameBytes));
        EXPECT_LT(meanDifference(ours, theirFrame), 1.5) << "frame " << k;
        ++ffmpegFrame;
    }
    EXPECT_EQ(ffmpegFrame, numbers.size());
    // Gaps among the pictures (where FFmpeg puts them: its MP3 start delay
    // moves them), not only after them.
    std::size_t inside = 0;
    for (std::size_t k = 0; k < shown; ++k) inside += chunks[k].size == 0;
    EXPECT_GE(inside, 2u);
}

// 16-bit RGB stored as BI_BITFIELDS with 5-6-5 masks is read as RGB, and its
// masks are no palette.
TEST_F(MjpegPlugin, BitFieldRgb565) {
    AviRecipe recipe;
    recipe.fourCC = std::string("\x03\0\0\0", 4);
    recipe.bitCount = 16;
    recipe.width = 3;
    recipe.height = 2;
    recipe.palette = {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
    // Bottom-up rows of 8 bytes (3 pixels and 2 pad bytes): red, green, blue
    // below; white, black, a grey-blue on top.
    recipe.frames.push_back({0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0, 0, 0xFF, 0xFF, 0x00, 0x00, 0x10, 0x84, 0, 0});
    auto device = plugin->createDevice();
    ASSERT_TRUE(device->initialize(mmhost::toUtf16(written("bitfields-565.avi", buildAvi(recipe)))));
    EXPECT_EQ(device->properties().get<bool>("IsPluginSuccess"), true);
    EXPECT_FALSE(device->properties().get<double>("NumColormapEntries").has_value());
    device->start(0.0, true);
    const auto buffers = drain(*device);
    ASSERT_EQ(buffers.size(), 1u);
    const Bytes want = {0xF8, 0xFC, 0xF8, 0, 0, 0, 0x80, 0x80, 0x80, 0xF8, 0, 0, 0, 0xFC, 0, 0, 0, 0xF8};
    EXPECT_TRUE(pixels(buffers[0]) == want);
}

TEST_F(MjpegPlugin, PaletteOfAnEightBitFileInRedGreenBlueOrder) {
    AviRecipe recipe;
    recipe.fourCC = "";
    recipe.bitCount = 8;
    recipe.width = 4;
    recipe.height = 2;
    for (int i = 0; i < 256; ++i) {
        recipe.palette.insert(recipe.palette.end(), {std::uint8_t(i), std::uint8_t(i / 2), std::uint8_t(255 - i), 0x99});
    }
    recipe.frames = {Bytes{0, 1, 2, 3, 252, 253, 254, 255}};
    auto device = plugin->createDevice();
    ASSERT_TRUE(device->initialize(mmhost::toUtf16(written("palette8.avi", buildAvi(recipe)))));
    const mmhost::OwnedProperties& p = device->properties();
    const std::vector<std::string> n = names(p);
    ASSERT_EQ(n.size(), 15u);
    EXPECT_EQ(n[12], "Colormap");
    EXPECT_EQ(n[13], "NumColormapEntries");
    EXPECT_EQ(n[14], "IsPluginSuccess");
    const auto* colormap = p.find<kitdev::BytesProperty>("Colormap");
    ASSERT_NE(colormap, nullptr);
    ASSERT_EQ(colormap->value.size(), 768u);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(colormap->value[3 * i], 255 - i) << "red of " << i;
        EXPECT_EQ(colormap->value[3 * i + 1], i / 2) << "green of " << i;
        EXPECT_EQ(colormap->value[3 * i + 2], i) << "blue of " << i;
    }
    EXPECT_EQ(p.get<double>("NumColormapEntries"), 256.0);
    EXPECT_EQ(p.get<bool>("IsPluginSuccess"), true);
    EXPECT_EQ(p.get<double>("BitsPerPixel"), 24.0);

    // The frame itself arrives as RGB from the palette, top row first.
    device->start(0.0, true);
    const auto buffers = drain(*device);
    ASSERT_EQ(buffers.size(), 1u);
    const Bytes frame = pixels(buffers[0]);
    ASSERT_EQ(frame.size(), 4u * 2u * 3u);
    const std::uint8_t topLeftIndex = 252;  // stored rows are bottom-up
    EXPECT_EQ(frame[0], 255 - topLeftIndex);
    EXPECT_EQ(frame[1], topLeftIndex / 2);
    EXPECT_EQ(frame[2], topLeftIndex);
}

TEST_F(MjpegPlugin, EightBitFileWithoutPaletteGetsTheGreyRamp) {
    AviRecipe recipe;
    recipe.fourCC = "";
    recipe.bitCount = 8;
    recipe.width = 4;
    recipe.height = 1;
    recipe.frames = {Bytes{10, 20, 30, 40}};
    auto device = plugin->createDevice();
    ASSERT_TRUE(device->initialize(mmhost::toUtf16(written("ramp8.avi", buildAvi(recipe)))));
    const auto* colormap = device->properties().find<kitdev::BytesProperty>("Colormap");
    ASSERT_NE(colormap, nullptr);
    ASSERT_EQ(colormap->value.size(), 768u);
    EXPECT_EQ(colormap->value[3 * 200], 200);
    EXPECT_EQ(colormap->value[3 * 200 + 2], 200);
    EXPECT_EQ(device->properties().get<double>("NumColormapEntries"), 256.0);
}

TEST_F(MjpegPlugin, NoPaletteForTrueColourOrMotionJpeg) {
    AviRecipe rgb;
    rgb.fourCC = "";
    rgb.bitCount = 24;
    rgb.width = 4;
    rgb.height = 2;
    rgb.frames = {Bytes(4 * 3 * 2, 9)};
    for (const std::string& path :
         {written("rgb24.avi", buildAvi(rgb)), gstreamerFile(32, 24, 5, 10, true).path}) {
        auto device = plugin->createDevice();
        ASSERT_TRUE(device->initialize(mmhost::toUtf16(path))) << path;
        EXPECT_EQ(device->properties().find<kitdev::BytesProperty>("Colormap"), nullptr) << path;
        EXPECT_FALSE(device->properties().get<double>("NumColormapEntries").has_value()) << path;
        EXPECT_EQ(device->properties().size(), 13u) << path;
    }
}

TEST_F(MjpegPlugin, OpenFailuresArePostedOrFlagged) {
    AviRecipe audioOnly;
    audioOnly.video = false;
    audioOnly.audio = true;
    audioOnly.audioChunks = {Bytes(400, 3)};
    const struct {
        std::string path;
        const char* id;
    } cases[] = {
        {scratchPath("absent.avi"), "multimedia:videofile:ReadFailed"},
        {written("d-audio.avi", buildAvi(audioOnly)), "multimedia:videofile:NoVideo"},
        {written("d-text.avi", Bytes(64, 'x')), "multimedia:videofile:InitializationFailed"},
        {"", "multimedia:videofile:ReadFailed"},
    };
    for (const auto& c : cases) {
        auto device = plugin->createDevice();
        EXPECT_FALSE(device->initialize(mmhost::toUtf16(c.path), true));
        EXPECT_EQ(device->properties().size(), 0u) << c.path;
        const auto posted = device->messages().messages();
        ASSERT_EQ(posted.size(), 1u) << c.path;
        EXPECT_EQ(posted[0].type, "error");
        EXPECT_EQ(posted[0].id, c.id) << c.path;

        auto quiet = plugin->createDevice();
        EXPECT_FALSE(quiet->initialize(mmhost::toUtf16(c.path), false));
        EXPECT_EQ(names(quiet->properties()), std::vector<std::string>{"IsPluginSuccess"}) << c.path;
        EXPECT_EQ(quiet->properties().get<bool>("IsPluginSuccess"), false);
        EXPECT_EQ(quiet->messages().size(), 0u);
        // A device that never opened delivers nothing.
        quiet->start(0.0, true);
        EXPECT_FALSE(quiet->isDataAvailable());
    }
}

TEST_F(MjpegPlugin, ReinitializingReplacesTheFile) {
    auto device = plugin->createDevice();
    ASSERT_TRUE(device->initialize(mmhost::toUtf16(gstreamerFile(32, 24, 12, 10, false).path)));
    ASSERT_TRUE(device->initialize(mmhost::toUtf16(ffmpegFile(35, 19, 8, 24, false).path)));
    EXPECT_EQ(device->properties().get<double>("Width"), 35.0);
    device->start(0.0, true);
    EXPECT_EQ(drain(*device).size(), 8u);
}

// Among the project's reader plugins the specialised one wins Motion-JPEG
// AVI files, and its probe refusing other AVI files hands them to GStreamer.
TEST_F(MjpegPlugin, HostPicksItForMotionJpegOnlyAmongTheReaderPlugins) {
    const char* dir = std::getenv("MM_BUILD_DIR");
    const auto plugins = mmhost::loadPlugins(std::string(dir != nullptr ? dir : ".") + "/lib",
                                             {"mjpegaviplugin", "gstplugin"});
    ASSERT_EQ(plugins.size(), 2u);
    const auto chosen = mmhost::choosePlugin(plugins, gstreamerFile(32, 24, 5, 10, true).path);
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(chosen->name(), "mjpegaviplugin");

    const std::string mpeg4 = scratchPath("mpeg4.avi");
    ASSERT_TRUE(run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=32x24:rate=10 -frames:v 5 -c:v mpeg4 " +
                    mpeg4));
    std::vector<std::string> rejections;
    const auto fallback = mmhost::choosePlugin(plugins, mpeg4, &rejections);
    ASSERT_NE(fallback, nullptr);
    EXPECT_EQ(fallback->name(), "gstplugin");
    EXPECT_FALSE(rejections.empty()) << "the Motion-JPEG plugin refused it first";
}

}  // namespace
