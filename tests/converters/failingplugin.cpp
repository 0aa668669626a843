// A test-only reader plugin built on the shared reader device over a reader
// whose third frame fails to read, as a decoder failing mid-stream does: the
// reader marks it with an infinite time and the device delivers it last.

#include <common/exceptions/exceptions.hpp>
#include <plugins/kit/entrypoints.hpp>
#include <plugins/kit/readerdevice.hpp>
#include <videoreader/ivideoreader.hpp>
#include <videoreader/videoreaderexceptions.hpp>

#include <cstring>
#include <limits>

namespace failing {

namespace ex = multimedia::common::exceptions;
namespace kd = asyncioplugin::kit::device;

constexpr std::size_t kWidth = 5;
constexpr std::size_t kHeight = 3;
constexpr std::size_t kChannels = 3;
constexpr std::size_t kFailingFrame = 2;

class Reader final : public qsVideoReader::IVideoReader {
public:
    void open(const std::u16string&, bool openFlag) override { openFlag_ = openFlag; }
    void startFromBeginning() override { next_ = 0; }
    void seekToTime(double) override { next_ = 0; }
    void readFrame(bool, void* destination) override {
        const std::size_t index = next_++;
        if (index == kFailingFrame) {
            time_ = std::numeric_limits<double>::infinity();
            return;
        }
        std::memset(destination, static_cast<int>(0x40 + index), kWidth * kHeight * kChannels);
        time_ = static_cast<double>(index) / 10.0;
    }
    void close() override {}
    std::size_t getHeight() override { return kHeight; }
    std::size_t getWidth() override { return kWidth; }
    double getFrameRate() override { return 10.0; }
    double getDuration() override { return 0.5; }
    unsigned int getBitsPerPixel() override { return 24; }
    std::u16string getVideoFormat() override { return u"RGB24"; }
    std::u16string getVideoCodec() override { return u"Failing"; }
    std::u16string getAudioCodec() override { return u""; }
    double getNumAudioChannels() override { return 0.0; }
    std::size_t getNumColorChannels() override { return kChannels; }
    bool hasAudio() override { return false; }
    bool hasVideo() override { return true; }
    double getCurrentTime() override { return time_; }
    bool isEndOfStream() override { return false; }
    bool getOpenFlag() override { return openFlag_; }
    qsVideoReader::VideoDataType getVideoDataType() override {
        return static_cast<qsVideoReader::VideoDataType>(3);
    }

private:
    std::size_t next_ = 0;
    double time_ = 0.0;
    bool openFlag_ = false;
};

struct Traits : kd::DefaultReaderTraits {
    static constexpr const char* kRegistryKey = "Gstreamer";
    static constexpr const char* kReadFormats[] = {"fail"};
    static constexpr kd::StartPolicy kStartPolicy = kd::StartPolicy::Posted;
    static constexpr bool kCloseOnDestroy = true;
    using OpenFailures = kd::CatchList<kd::Otherwise<ex::ReadFailedException>>;
    using ProbeFailures = OpenFailures;
    static qsVideoReader::IVideoReader* createReader() { return new Reader(); }
};

class Device final : public kd::ReaderDevice<Traits> {
    using ReaderDevice::ReaderDevice;
};
class PluginInfo final : public kd::ReaderPluginInfo<Traits> {};

}  // namespace failing

MM_READER_PLUGIN_ENTRY_POINTS(failing::Device, failing::PluginInfo)
