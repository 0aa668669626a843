#pragma once
// A scripted reader back end for driving the shared reader device without a
// decoder: each test sets the answers and the failures it needs.

#include <videoreader/ivideoreader.hpp>

#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace fake {

struct Script {
    std::size_t width = 4;
    std::size_t height = 2;
    std::size_t channels = 3;
    std::size_t frames = 3;        // frames before the end of the stream
    double frameRate = 25.0;
    std::vector<double> times;     // time of frame i; i / frameRate when not given
    std::function<void()> onOpen;  // throws to make open fail
    std::function<void(double)> onSeek;
    std::function<void()> onStartFromBeginning;
    std::function<void()> onClose;
    std::function<void(std::size_t)> onRead;  // called with the frame index before copying
    std::function<void()> onGetDuration;      // throws to make publication fail
    int dataType = 3;
    std::vector<qsVideoReader::ReaderWarning> pendingWarnings;  // taken by the next takeWarnings()
};

// What the readers made from one script did, shared with the test.
struct Journal {
    int created = 0;
    int destroyed = 0;
    int opens = 0;
    int closes = 0;
    std::u16string lastFileName;
    std::vector<double> seeks;
    int startsFromBeginning = 0;
    std::vector<bool> readLayouts;
};

class Reader final : public qsVideoReader::IVideoReader, public qsVideoReader::IReaderWarnings {
public:
    Reader(std::shared_ptr<Script> script, std::shared_ptr<Journal> journal)
        : script_(std::move(script)), journal_(std::move(journal)) {
        ++journal_->created;
    }
    ~Reader() override { ++journal_->destroyed; }

    void open(const std::u16string& fileName, bool openFlag) override {
        ++journal_->opens;
        journal_->lastFileName = fileName;
        openFlag_ = openFlag;
        if (script_->onOpen) script_->onOpen();
    }
    void startFromBeginning() override {
        ++journal_->startsFromBeginning;
        if (script_->onStartFromBeginning) script_->onStartFromBeginning();
        next_ = 0;
        eos_ = false;
    }
    void seekToTime(double seconds) override {
        journal_->seeks.push_back(seconds);
        if (script_->onSeek) script_->onSeek(seconds);
        next_ = seconds > 0 ? static_cast<std::size_t>(seconds * script_->frameRate) : 0;
        eos_ = false;
    }
    void readFrame(bool rowMajorInterleaved, void* destination) override {
        journal_->readLayouts.push_back(rowMajorInterleaved);
        if (next_ >= script_->frames) {
            eos_ = true;
            return;
        }
        const std::size_t index = next_++;
        current_ = index < script_->times.size() ? script_->times[index]
                                                  : static_cast<double>(index) / script_->frameRate;
        if (script_->onRead) script_->onRead(index);
        std::memset(destination, static_cast<int>(0x10 + index),
                    script_->width * script_->height * script_->channels);
    }
    void close() override {
        ++journal_->closes;
        if (script_->onClose) script_->onClose();
    }
    std::size_t getHeight() override { return script_->height; }
    std::size_t getWidth() override { return script_->width; }
    double getFrameRate() override { return script_->frameRate; }
    double getDuration() override {
        if (script_->onGetDuration) script_->onGetDuration();
        return static_cast<double>(script_->frames) / script_->frameRate;
    }
    unsigned int getBitsPerPixel() override { return 24; }
    std::u16string getVideoFormat() override { return u"RGB24"; }
    std::u16string getVideoCodec() override { return u"Fake"; }
    std::u16string getAudioCodec() override { return u""; }
    double getNumAudioChannels() override { return 0.0; }
    std::size_t getNumColorChannels() override { return script_->channels; }
    bool hasAudio() override { return false; }
    bool hasVideo() override { return true; }
    double getCurrentTime() override { return current_; }
    bool isEndOfStream() override { return eos_; }
    bool getOpenFlag() override { return openFlag_; }
    qsVideoReader::VideoDataType getVideoDataType() override { return static_cast<qsVideoReader::VideoDataType>(script_->dataType); }

    std::vector<qsVideoReader::ReaderWarning> takeWarnings() override {
        return std::exchange(script_->pendingWarnings, {});
    }

    // Lets a test mark the next frame's time as a failed read.
    void setCurrentTime(double t) { current_ = t; }

private:
    std::shared_ptr<Script> script_;
    std::shared_ptr<Journal> journal_;
    std::size_t next_ = 0;
    double current_ = 0.0;
    bool eos_ = false;
    bool openFlag_ = false;
};

}  // namespace fake
