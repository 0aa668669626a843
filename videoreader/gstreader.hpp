#pragma once
// The GStreamer back end of the video reader: a playbin pipeline whose video
// goes to an appsink, read one by one into caller memory as RGB, in row-major
// interleaved or the frame library's default layout. The appsink takes the
// decoder's planar Y'CbCr pictures as they are (with their row padding) and
// the reader converts each picture it delivers (yuvtorgb.hpp); anything else
// arrives converted to packed RGB by the pipeline. GStreamer types stay opaque here so that users of this header need
// nothing but the reader interface.
//
// A frame's time is the time its picture is shown at. For AVI streams whose
// pictures the decoder reorders (MPEG-1, 2 and 4 Part 2, H.264) the reader numbers
// the pictures itself (chunktrack.hpp); for the rest it takes the stream time
// of each buffer. After a seek in such an AVI, the pictures shown well
// before the target are dropped before their conversion to RGB.
//
// A file of parts played one after another (chained Ogg) cannot be sought
// across its parts: it is positioned by reading it again from its start.
// A positioning before the end of the video stream that finds no frame
// throws SeekFailedException. A video stream without a decoder fails open
// with an UnknownCodecException naming the codec; a stream read from its
// start that ends far short of its duration, or on a decoder error, is said
// through IReaderWarnings.

#include <common/export.hpp>
#include <videoreader/ivideoreader.hpp>
#include <videoreader/videoreaderexceptions.hpp>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

typedef struct _GstElement GstElement;
typedef struct _GstSample GstSample;
typedef struct _GstBuffer GstBuffer;
typedef struct _GstVideoInfo GstVideoInfo;

namespace pixcapframekit {
class IFrame;
}

namespace qsVideoReader {

class ChunkTrack;

class MM_EXPORT GstReader : public IVideoReader, public IReaderWarnings {
public:
    // Initialises GStreamer; throws PluginRequirementException when it cannot.
    GstReader();
    ~GstReader() override;

    GstReader(const GstReader&) = delete;
    GstReader& operator=(const GstReader&) = delete;

    void open(const std::u16string& fileName, bool openFlag) override;
    void startFromBeginning() override;
    void seekToTime(double seconds) override;
    void readFrame(bool rowMajorInterleaved, void* destination) override;
    void close() override;
    std::size_t getHeight() override;
    std::size_t getWidth() override;
    double getFrameRate() override;
    double getDuration() override;
    unsigned int getBitsPerPixel() override;
    std::u16string getVideoFormat() override;
    std::u16string getVideoCodec() override;
    std::u16string getAudioCodec() override;
    double getNumAudioChannels() override;
    std::size_t getNumColorChannels() override;
    bool hasAudio() override;
    bool hasVideo() override;
    double getCurrentTime() override;
    bool isEndOfStream() override;
    bool getOpenFlag() override;
    VideoDataType getVideoDataType() override;
    std::vector<ReaderWarning> takeWarnings() override;

private:
    using SampleHandle = std::shared_ptr<GstSample>;
    // A pulled sample with the time it is shown at, in nanoseconds on the
    // file's own time line.
    struct Queued {
        SampleHandle sample;
        std::uint64_t timeNs = 0;
    };

    void resetState();
    void createVideoElements();
    // The bin playbin sends video to: a scaler and the appsink.
    std::shared_ptr<GstElement> makeVideoSink();
    // Size and frame rate from the caps the appsink negotiated.
    void readVideoCaps();
    void startPlayback();
    void shutdown();
    void dropChunkTrack();
    void clearSamples();
    // Next sample of the appsink, or null at the end of the stream; throws
    // ReadFailedException when the pipeline can deliver neither.
    SampleHandle pull();
    // pull() with the time the sample is shown at; false at the end of the stream.
    bool pullTimed(Queued& out);
    // The time of a sample just pulled, following the one pulled before it.
    std::uint64_t sampleTime(GstSample* sample);
    void forgetPreviousTime(std::uint64_t restartNs);
    void seek(std::uint64_t positionNs);
    // Seeks near `seconds` (`targetNs` in nanoseconds) and queues the frame
    // shown at it and the one after; `duration` in seconds, negative when
    // unknown.
    void seekAndQueue(double seconds, std::uint64_t targetNs, double duration);
    // Opens the file again and reads from its start until the frame shown at
    // `targetNs` and the one after it are queued.
    void readFromNewPipeline(std::uint64_t targetNs);
    int currentStream(const char* property);
    std::u16string streamCodec(const char* indexProperty, const char* signal, const char* tag);
    // False when the sample is not a frame of the published size and layout
    // (nothing is copied then).
    bool copyBitmapData(GstSample* sample, bool rowMajorInterleaved, void* destination);
    // The same for a picture of planar Y'CbCr: converted to RGB on the way.
    bool convertYuv(const GstVideoInfo& info, GstBuffer* buffer, bool rowMajorInterleaved, void* destination);
    void fixOutputSize();
    bool pipelineFailed();
    // At the end of a stream read from its start: says when it delivered far
    // fewer frames than its duration holds, or when its decoder failed.
    void checkFrameCount(bool failed);

    std::u16string fileName;
    std::size_t height = 0;
    std::size_t width = 0;
    double frameRate = 0.0;
    std::shared_ptr<GstElement> pipeline;
    // The AVI video chunks on their way to the decoder (see chunktrack.hpp).
    std::shared_ptr<ChunkTrack> chunks;
    GstElement* appsink = nullptr;
    std::unique_ptr<pixcapframekit::IFrame> frame;
    std::deque<Queued> samples;
    // Packed RGB of a converted picture on its way into the frame object's
    // layout.
    std::vector<std::uint8_t> packedScratch;
    bool started = false;
    double currentTime = 0.0;
    bool endOfStream = false;
    bool openFlag = false;
    // An error message came from the pipeline: no sample will follow.
    bool streamFailed = false;
    // The look-ahead pull after the last copied frame failed: the next
    // readFrame reports the failure.
    bool nextPullFailed = false;
    // The pipeline said a decoder for the video stream is missing: its
    // description (the codec's name).
    std::string missingVideoDecoder;
    // Frames copied since reading started from the beginning of the stream
    // (counted only then), and what was said about it.
    bool countingFromStart = false;
    std::uint64_t delivered = 0;
    std::vector<ReaderWarning> warnings;
    // Streams the pipeline has started so far: more than one is a file of
    // parts played one after the other.
    std::uint64_t streamStarts = 0;
    // The time of the sample pulled last since the last positioning, which
    // the next one must not fall behind; `restartNs` stands in before the
    // first one.
    bool havePrevious = false;
    std::uint64_t previousNs = 0;
    std::uint64_t restartNs = 0;
};

// Makes a GstReader; the caller owns it and deletes it through the interface.
MM_EXPORT IVideoReader* createGstReaderInstance();

}  // namespace qsVideoReader
