#pragma once
// Decodes the samples of a video track one frame ahead of the caller on a
// worker thread. The caller asks for a sample by index; when it is the one
// decoded ahead it waits for that decode to finish, otherwise (the first
// frame, or after a seek) the stale work is dropped and the wanted sample is
// decoded at once. At most two decoded pictures exist at any time: the one the
// caller holds and the one being decoded ahead.

#include <platform/decoders/mj2kdecoder/j2kcodec.hpp>
#include <platform/decoders/mj2kdecoder/mj2boxes.hpp>

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace mj2k {

class DecodeAhead {
public:
    // Reads and decodes one sample; null on failure. Must be safe to call
    // from the worker thread while the caller's thread runs; never throws.
    using DecodeFn = std::function<ImageHandle(const Sample&)>;

    explicit DecodeAhead(DecodeFn decode) : decode_(std::move(decode)) {}
    // Waits for a decode in progress to end; drops everything else.
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead&) = delete;
    DecodeAhead& operator=(const DecodeAhead&) = delete;

    // The decoded picture of sample `index` (null when its decode failed);
    // then, when `next` is given, starts decoding it as sample index + 1.
    ImageHandle take(std::size_t index, const Sample& sample, const Sample* next);

    // Drops the picture decoded ahead and any decode not started; one in
    // progress finishes on the worker and is then dropped.
    void cancel();

private:
    struct Job {
        std::size_t index;
        Sample sample;
    };

    void run();
    bool startWorker();

    DecodeFn decode_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<Job> queued_;           // waiting for the worker
    std::optional<std::size_t> busy_;     // index the worker decodes now
    bool dropBusy_ = false;               // that decode is no longer wanted
    std::optional<std::size_t> doneIndex_;
    ImageHandle done_;
    bool quit_ = false;
    bool workerFailed_ = false;           // no thread: decode on the caller's
    std::thread worker_;
};

}  // namespace mj2k
