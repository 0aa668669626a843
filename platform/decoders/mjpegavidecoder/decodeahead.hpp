#pragma once
// Decoding one Motion-JPEG frame ahead on a worker thread, so a reader uses
// the second core: while the caller decodes frame n and works on it, the
// worker decodes frame n + 1 into a buffer of its own; the next read takes
// it from there with one copy.
//
// The caller reads the compressed chunk (the AVI file is used by one thread
// only) and hands it over; the worker owns a libjpeg decompressor of its
// own, set up as the caller's, so frames are the same bytes whichever thread
// decoded them. One frame at most is in the worker's hands. cancel() stops a
// decode in progress at its next row group and waits for the worker to be
// idle; the destructor also ends the thread, so no thread outlives its
// owner. All operations are for the one thread that owns the object.

#include <platform/services/framekit/framekit.hpp>
#include <platform/decoders/mjpegavidecoder/jpegframedecoder.hpp>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace mjpegavidecoder {

class DecodeAhead {
public:
    DecodeAhead();
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead&) = delete;
    DecodeAhead& operator=(const DecodeAhead&) = delete;

    // The buffer to read the next chunk into before begin(); begin() takes
    // its contents and hands back the worker's previous buffer for reuse.
    std::vector<std::uint8_t>& chunk() { return handOver_; }

    // Has the worker decode chunk() as frame `frame` of width x height pixels
    // in the given layout. The worker must be idle (nothing held). Answers
    // false, and holds nothing, when no thread can be started.
    bool begin(std::uint64_t frame, bool interleaved, std::size_t width, std::size_t height);

    // Whether the worker holds (is decoding or has decoded) that frame in
    // that layout.
    bool holds(std::uint64_t frame, bool interleaved) const {
        return held_ && frame_ == frame && interleaved_ == interleaved;
    }
    bool holdsAny() const { return held_; }

    // Waits for the held frame and copies it to destination (the frame's
    // size). Answers whether it decoded; the worker holds nothing afterwards.
    // `warnings` receives what libjpeg said about the frame (or, when it did
    // not decode, why).
    bool take(void* destination, JpegFrameDecoder::Warnings& warnings);

    // Drops the held frame, stopping its decode early; waits until the
    // worker is idle.
    void cancel();

private:
    enum class Stage { Idle, Requested, Decoding, Done };

    void run();
    void waitDone(std::unique_lock<std::mutex>& lock);

    std::thread worker_;
    bool quit_ = false;  // under mutex_
    mutable std::mutex mutex_;
    std::condition_variable wake_;  // the worker waits for work or quit
    std::condition_variable done_;  // the owner waits for a frame to finish
    Stage stage_ = Stage::Idle;     // under mutex_
    bool decoded_ = false;          // under mutex_: the Done frame is good
    JpegFrameDecoder::Warnings warnings_;  // under mutex_: about the Done frame
    std::atomic<bool> cancel_{false};

    // The request: written by the owner while the worker is idle, read by
    // the worker after it took the request under the mutex.
    std::vector<std::uint8_t> chunk_;
    std::size_t width_ = 0;
    std::size_t height_ = 0;
    pixcapframekit::FrameMemory frameBuffer_;
    std::size_t frameBufferBytes_ = 0;
    JpegFrameDecoder decoder_;  // the worker's alone

    // The owner's bookkeeping.
    std::vector<std::uint8_t> handOver_;
    bool held_ = false;
    std::uint64_t frame_ = 0;
    bool interleaved_ = false;
};

}  // namespace mjpegavidecoder
