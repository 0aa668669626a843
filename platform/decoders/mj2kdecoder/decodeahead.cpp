#include <platform/decoders/mj2kdecoder/decodeahead.hpp>

#include <system_error>

namespace mj2k {

DecodeAhead::~DecodeAhead() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
        queued_.reset();
    }
    changed_.notify_all();
    if (worker_.joinable()) worker_.join();
}

bool DecodeAhead::startWorker() {
    if (worker_.joinable()) return true;
    if (workerFailed_) return false;
    try {
        worker_ = std::thread([this] { run(); });
        return true;
    } catch (const std::system_error&) {
        workerFailed_ = true;  // out of threads: every frame on the caller's thread
        return false;
    }
}

void DecodeAhead::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return quit_ || queued_.has_value(); });
        if (quit_) return;
        Job job = *queued_;
        queued_.reset();
        busy_ = job.index;
        lock.unlock();
        ImageHandle image = decode_(job.sample);
        lock.lock();
        busy_.reset();
        if (dropBusy_) {
            dropBusy_ = false;
        } else {
            done_ = std::move(image);
            doneIndex_ = job.index;
        }
        changed_.notify_all();  // a dropped picture is released with `image`
    }
}

void DecodeAhead::cancel() {
    ImageHandle stale;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queued_.reset();
        if (busy_) dropBusy_ = true;
        stale = std::move(done_);
        doneIndex_.reset();
    }
}

ImageHandle DecodeAhead::take(std::size_t index, const Sample& sample, const Sample* next) {
    if (!startWorker()) return decode_(sample);
    ImageHandle result;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        const bool coming = doneIndex_ == index || (busy_ == index && !dropBusy_) ||
                            (queued_ && queued_->index == index);
        if (!coming) {
            done_.reset();
            doneIndex_.reset();
            if (busy_) dropBusy_ = true;
            queued_ = Job{index, sample};
            changed_.notify_all();
        }
        changed_.wait(lock, [&] { return doneIndex_ == index; });
        result = std::move(done_);
        doneIndex_.reset();
        if (next) {
            queued_ = Job{index + 1, *next};
            changed_.notify_all();
        }
    }
    return result;
}

}  // namespace mj2k
