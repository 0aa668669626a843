#include <platform/decoders/mjpegavidecoder/decodeahead.hpp>

#include <cstring>
#include <exception>
#include <utility>
#include <system_error>

namespace mjpegavidecoder {

DecodeAhead::DecodeAhead() { decoder_.watchForCancel(&cancel_); }

DecodeAhead::~DecodeAhead() {
    if (worker_.joinable()) {
        cancel_.store(true);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
        }
        wake_.notify_one();
        worker_.join();
    }
}

bool DecodeAhead::begin(std::uint64_t frame, bool interleaved, std::size_t width,
                        std::size_t height) {
    if (held_) {
        return false;
    }
    if (!worker_.joinable()) {
        try {
            worker_ = std::thread(&DecodeAhead::run, this);
        } catch (const std::system_error&) {
            return false;  // no thread: the caller decodes every frame itself
        }
    }
    const std::size_t bytes = width * height * 3;
    if (frameBufferBytes_ != bytes) {
        frameBuffer_ = pixcapframekit::allocateFrameMemory(bytes);
        frameBufferBytes_ = bytes;
    }
    chunk_.swap(handOver_);
    width_ = width;
    height_ = height;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stage_ = Stage::Requested;
        interleaved_ = interleaved;
    }
    wake_.notify_one();
    held_ = true;
    frame_ = frame;
    return true;
}

void DecodeAhead::waitDone(std::unique_lock<std::mutex>& lock) {
    done_.wait(lock, [this] { return stage_ == Stage::Done; });
}

bool DecodeAhead::take(void* destination, JpegFrameDecoder::Warnings& warnings) {
    if (!held_) {
        return false;
    }
    held_ = false;
    std::unique_lock<std::mutex> lock(mutex_);
    waitDone(lock);
    stage_ = Stage::Idle;
    warnings = std::move(warnings_);
    if (!decoded_) {
        return false;
    }
    std::memcpy(destination, frameBuffer_.get(), frameBufferBytes_);
    return true;
}

void DecodeAhead::cancel() {
    if (!held_) {
        return;
    }
    held_ = false;
    cancel_.store(true);
    std::unique_lock<std::mutex> lock(mutex_);
    waitDone(lock);
    stage_ = Stage::Idle;
    cancel_.store(false);
}

void DecodeAhead::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || stage_ == Stage::Requested; });
        if (quit_) {
            return;
        }
        stage_ = Stage::Decoding;
        const bool interleaved = interleaved_;
        lock.unlock();
        bool decoded = false;
        JpegFrameDecoder::Warnings warnings;
        if (!cancel_.load()) {
            try {
                if (interleaved) {
                    decoder_.decode(chunk_.data(), chunk_.size(), width_, height_, frameBuffer_.get());
                } else {
                    decoder_.decodePlanar(chunk_.data(), chunk_.size(), width_, height_,
                                          frameBuffer_.get());
                }
                decoded = true;
                warnings = decoder_.lastWarnings();
            } catch (const std::exception& failure) {
                // A frame that does not decode is marked failed, with why.
                try {
                    warnings.text = failure.what();
                } catch (...) {
                }
            } catch (...) {
                // Cancelled: nobody wants the frame.
            }
        }
        lock.lock();
        decoded_ = decoded;
        warnings_ = std::move(warnings);
        stage_ = Stage::Done;
        done_.notify_one();
    }
}

}  // namespace mjpegavidecoder
