#pragma once
// The contract between the reader plugins and every video decoding back end.
// The order of the virtual operations is part of the binary interface: plugins
// in other libraries dispatch by slot, so never reorder, insert or remove one.

#include <common/avbuffer/datatypes.hpp>
#include <common/export.hpp>
#include <videoreader/videoreaderexceptions.hpp>

#include <cstddef>
#include <string>
#include <vector>

namespace qsVideoReader {

using multimedia::common::avbuffer::VideoDataType;

class MM_EXPORT IVideoReader {
public:
    virtual ~IVideoReader() {}                                                   // slots 0, 1

    virtual void open(const std::u16string& fileName, bool openFlag) = 0;        // 2
    virtual void startFromBeginning() = 0;                                       // 3
    virtual void seekToTime(double seconds) = 0;                                 // 4
    virtual void readFrame(bool rowMajorInterleaved, void* destination) = 0;     // 5
    virtual void close() = 0;                                                    // 6
    virtual std::size_t getHeight() = 0;                                         // 7
    virtual std::size_t getWidth() = 0;                                          // 8
    virtual double getFrameRate() = 0;                                           // 9
    virtual double getDuration() = 0;                                            // 10
    virtual unsigned int getBitsPerPixel() = 0;                                  // 11
    virtual std::u16string getVideoFormat() = 0;                                 // 12
    virtual std::u16string getVideoCodec() = 0;                                  // 13
    virtual std::u16string getAudioCodec() = 0;                                  // 14
    virtual double getNumAudioChannels() = 0;                                    // 15
    virtual std::size_t getNumColorChannels() = 0;                               // 16
    virtual bool hasAudio() = 0;                                                 // 17
    virtual bool hasVideo() = 0;                                                 // 18
    virtual double getCurrentTime() = 0;                                         // 19
    virtual bool isEndOfStream() = 0;                                            // 20
    virtual bool getOpenFlag() = 0;                                              // 21
    virtual VideoDataType getVideoDataType() = 0;                                // 22
};

// What a reader says without failing: a frame decoded from corrupt data, a
// stream that ended short of what its index holds. `kind` is a failure-kind
// name ("CorruptFrame", "FrameCountMismatch"), `text` says what, where and why.
struct ReaderWarning {
    std::string kind;
    std::string text;
};

// A second face a reader may have, apart from IVideoReader so that interface's
// slot order stays as it is. A device asks for it with dynamic_cast and posts
// what it takes to its host as warning messages.
class MM_EXPORT IReaderWarnings {
public:
    virtual ~IReaderWarnings() {}
    // The warnings gathered since the last call, oldest first; they are
    // forgotten once taken.
    virtual std::vector<ReaderWarning> takeWarnings() = 0;
};

// Start time value meaning "no start time": only primes the next frame.
constexpr double NO_START_TIME = -100.0;

}  // namespace qsVideoReader
