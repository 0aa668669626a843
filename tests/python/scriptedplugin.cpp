// A reader plugin for the Python tests, over a reader without a decoder: six
// frames of 8x6 RGB, frame k filled with the value 16 + k. Reading frame 2
// leaves a warning ("FileCorrupt") and frame 4 fails, as damaged files do.
// Files named *.missing fail to open with NoVideo. Reading a frame of a file
// named *.gate waits (up to a minute, then fails) until the file NAME.open
// exists, having made NAME.waiting: only a caller that lets other Python
// threads run while a frame is read can open the gate.
#include <plugins/kit/entrypoints.hpp>
#include <plugins/kit/readerdevice.hpp>

#include <chrono>
#include <cstring>
#include <fstream>
#include <limits>
#include <thread>

#include <unistd.h>
#include <string>
#include <vector>

namespace scripted {

namespace kit = asyncioplugin::kit::device;
namespace ex = multimedia::common::exceptions;

class Reader final : public qsVideoReader::IVideoReader, public qsVideoReader::IReaderWarnings {
public:
    static constexpr std::size_t kFrames = 6, kWidth = 8, kHeight = 6;
    static constexpr double kRate = 10.0;

    void open(const std::u16string& fileName, bool openFlag) override {
        openFlag_ = openFlag;
        name_.assign(fileName.begin(), fileName.end());  // the tests' names are ASCII
        const std::u16string suffix = u".missing";
        if (fileName.size() >= suffix.size() && fileName.compare(fileName.size() - suffix.size(), suffix.size(), suffix) == 0) {
            throw qsVideoReader::NoVideoException("the script has no video");
        }
    }
    void startFromBeginning() override { seekToTime(0.0); }
    void seekToTime(double seconds) override {
        next_ = seconds > 0 ? static_cast<std::size_t>(seconds * kRate) : 0;
        eos_ = false;
    }
    void readFrame(bool, void* destination) override {
        if (next_ >= kFrames) {
            eos_ = true;
            return;
        }
        const std::size_t index = next_++;
        current_ = static_cast<double>(index) / kRate;
        if (endsWith(name_, ".gate") && !waitForGate()) current_ = std::numeric_limits<double>::infinity();
        if (index == 2) warnings_.push_back({"FileCorrupt", "frame 2 has damaged data"});
        if (index == 4) current_ = std::numeric_limits<double>::infinity();
        std::memset(destination, static_cast<int>(16 + index), kWidth * kHeight * 3);
    }
    void close() override {}
    std::size_t getHeight() override { return kHeight; }
    std::size_t getWidth() override { return kWidth; }
    double getFrameRate() override { return kRate; }
    double getDuration() override { return kFrames / kRate; }
    unsigned int getBitsPerPixel() override { return 24; }
    std::u16string getVideoFormat() override { return u"RGB24"; }
    std::u16string getVideoCodec() override { return u"Scripted"; }
    std::u16string getAudioCodec() override { return u""; }
    double getNumAudioChannels() override { return 0.0; }
    std::size_t getNumColorChannels() override { return 3; }
    bool hasAudio() override { return false; }
    bool hasVideo() override { return true; }
    double getCurrentTime() override { return current_; }
    bool isEndOfStream() override { return eos_; }
    bool getOpenFlag() override { return openFlag_; }
    qsVideoReader::VideoDataType getVideoDataType() override { return qsVideoReader::VideoDataType(3); }

    std::vector<qsVideoReader::ReaderWarning> takeWarnings() override {
        std::vector<qsVideoReader::ReaderWarning> taken;
        taken.swap(warnings_);
        return taken;
    }

private:
    static bool endsWith(const std::string& text, const std::string& suffix) {
        return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
    }

    bool waitForGate() {
        std::ofstream(name_ + ".waiting").put('1');
        for (int tries = 0; tries < 6000; ++tries) {
            if (::access((name_ + ".open").c_str(), F_OK) == 0) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    std::string name_;
    std::size_t next_ = 0;
    double current_ = 0.0;
    bool eos_ = false;
    bool openFlag_ = false;
    std::vector<qsVideoReader::ReaderWarning> warnings_;
};

struct Traits : kit::DefaultReaderTraits {
    static constexpr const char* kRegistryKey = "Scripted";
    static constexpr const char* kReadFormats[] = {"scripted", "missing", "gate"};
    using OpenFailures = kit::CatchList<kit::Becomes<qsVideoReader::NoVideoException, ex::NoVideoException>,
                                        kit::Otherwise<ex::ReadFailedException>>;
    using ProbeFailures = OpenFailures;
    static qsVideoReader::IVideoReader* createReader() { return new Reader(); }
};

class Device final : public kit::ReaderDevice<Traits> {
public:
    using ReaderDevice::ReaderDevice;
};

class PluginInfo final : public kit::ReaderPluginInfo<Traits> {};

}  // namespace scripted

MM_READER_PLUGIN_ENTRY_POINTS(scripted::Device, scripted::PluginInfo)
