#pragma once
// Decoding one frame ahead of the caller on a worker thread, so a reader uses
// the second core while the caller works on the frame it was given.
//
// The owner fills in job() (which frame, its bytes or where they are), then
// start() hands it to the worker, which runs the decode function on it. At
// most one job is in the worker's hands: take() waits for it and answers its
// result; cancel() raises the flag the decode function may watch, waits until
// the worker is idle and drops the result. The destructor cancels and ends the
// thread, so no thread outlives its owner and nothing the decode function
// uses goes away under it. When no thread can be started, start() answers
// false and the owner decodes the frame itself.
//
// Every member is for the one thread that owns the object. The job is written
// by the owner only while nothing is held and read by the worker only while
// it is; the result is handed over under the mutex.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace decoders {

template <typename Job, typename Result>
class DecodeAhead {
public:
    // Runs on the worker; never throws. `cancelled` turns true when the
    // result is no longer wanted, so a long decode may stop early.
    using Decode = std::function<Result(const Job&, const std::atomic<bool>& cancelled)>;

    explicit DecodeAhead(Decode decode) : decode_(std::move(decode)) {}

    ~DecodeAhead() {
        cancel();
        if (worker_.joinable()) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                quit_ = true;
            }
            changed_.notify_all();
            worker_.join();
        }
    }

    DecodeAhead(const DecodeAhead&) = delete;
    DecodeAhead& operator=(const DecodeAhead&) = delete;

    // The next job, to fill in while nothing is held; it keeps what the last
    // job left in it, so its buffers are reused.
    Job& job() { return job_; }

    // The job in the worker's hands (decoding or decoded), or null.
    const Job* held() const { return held_ ? &job_ : nullptr; }

    // Hands job() to the worker, dropping anything held first. False, and
    // nothing held, when no thread can be started.
    bool start() {
        cancel();
        if (!worker_.joinable()) {
            try {
                worker_ = std::thread([this] { run(); });
            } catch (const std::system_error&) {
                return false;  // no thread: the owner decodes every frame
            }
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stage_ = Stage::Requested;
        }
        changed_.notify_all();
        held_ = true;
        return true;
    }

    // Waits for the held job and answers its result; nothing is held
    // afterwards. A default Result when nothing was held.
    Result take() {
        if (!held_) return Result{};
        held_ = false;
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return stage_ == Stage::Done; });
        stage_ = Stage::Idle;
        return std::move(result_);
    }

    // Drops the held job, asking its decode to stop early; returns once the
    // worker is idle.
    void cancel() {
        if (!held_) return;
        held_ = false;
        cancelled_.store(true);
        Result dropped;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return stage_ == Stage::Done; });
            stage_ = Stage::Idle;
            dropped = std::move(result_);
        }
        cancelled_.store(false);
    }

private:
    enum class Stage { Idle, Requested, Decoding, Done };

    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return quit_ || stage_ == Stage::Requested; });
            if (quit_) return;
            stage_ = Stage::Decoding;
            lock.unlock();
            Result result = cancelled_.load() ? Result{} : decode_(job_, cancelled_);
            lock.lock();
            result_ = std::move(result);
            stage_ = Stage::Done;
            changed_.notify_all();
        }
    }

    Decode decode_;
    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable changed_;
    Stage stage_ = Stage::Idle;  // under mutex_
    bool quit_ = false;          // under mutex_
    Result result_{};            // under mutex_, once Done
    std::atomic<bool> cancelled_{false};
    Job job_{};
    bool held_ = false;  // the owner's
};

}  // namespace decoders
