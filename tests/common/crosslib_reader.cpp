// A fake reader back end on the far side of the library boundary: every
// operation answers a value that names its slot, so a caller dispatching by
// the wrong slot sees the wrong value; failures throw the reader family.

#include "crosslib_thrower.hpp"

#include <videoreader/ivideoreader.hpp>

#include <cmath>
#include <cstring>
#include <limits>
#include <typeinfo>

#define MMTEST_API __attribute__((visibility("default")))

namespace {

int liveReaders = 0;

class FakeReader : public qsVideoReader::IVideoReader {
public:
    FakeReader() { ++liveReaders; }
    ~FakeReader() override { --liveReaders; }

    void open(const std::u16string& fileName, bool openFlag) override {
        if (fileName.empty()) throw qsVideoReader::InitializationFailedException();
        if (fileName == u"missing") throw qsVideoReader::FileNotFoundException("no such file: missing");
        openFlag_ = openFlag;
    }
    void startFromBeginning() override {
        time_ = 0.0;
        endOfStream_ = false;
    }
    void seekToTime(double seconds) override {
        if (seconds < 0.0 && seconds != qsVideoReader::NO_START_TIME) throw qsVideoReader::SeekFailedException();
        time_ = seconds;
        endOfStream_ = false;
    }
    void readFrame(bool rowMajorInterleaved, void* destination) override {
        if (destination == nullptr) {
            time_ = std::numeric_limits<double>::infinity();
            return;
        }
        std::memset(destination, rowMajorInterleaved ? 1 : 2, 2 * 3 * 3);
        endOfStream_ = true;
    }
    void close() override { closed_ = true; }
    std::size_t getHeight() override { return 7; }
    std::size_t getWidth() override { return 8; }
    double getFrameRate() override { return 9.0; }
    double getDuration() override { return 10.0; }
    unsigned int getBitsPerPixel() override { return 11; }
    std::u16string getVideoFormat() override { return u"12"; }
    std::u16string getVideoCodec() override { return u"13"; }
    std::u16string getAudioCodec() override { return u"14"; }
    double getNumAudioChannels() override { return 15.0; }
    std::size_t getNumColorChannels() override { return 16; }
    bool hasAudio() override { return false; }
    bool hasVideo() override { return true; }
    double getCurrentTime() override { return time_; }
    bool isEndOfStream() override { return endOfStream_; }
    bool getOpenFlag() override { return openFlag_; }
    qsVideoReader::VideoDataType getVideoDataType() override { return multimedia::common::avbuffer::VIDEO_UINT8; }

private:
    bool openFlag_ = false;
    bool endOfStream_ = false;
    bool closed_ = false;
    double time_ = 0.0;
};

}  // namespace

extern "C" MMTEST_API qsVideoReader::IVideoReader* mmtest_create_reader() { return new FakeReader(); }

extern "C" MMTEST_API int mmtest_live_readers() { return liveReaders; }

extern "C" MMTEST_API const std::type_info* mmtest_reader_interface_type() {
    return &typeid(qsVideoReader::IVideoReader);
}
