#pragma once
// One delivered video frame. The frame owns its VideoDataBuffer and goes to the
// host with it; the host releases both with destroy(). Hosts and the video
// converter recognise a frame by dynamic_cast from IDataBuffer and read the
// three fields directly.

#include <common/avbuffer/avbuffer.hpp>
#include <plugins/kit/databuffer.hpp>

#include <cmath>
#include <cstdint>
#include <limits>

namespace video {

// Readers mark a failed read by an infinite frame time (the device delivers
// that frame and stops; the video converter zeroes its height). NaN is not a mark.
inline bool isFailedFrameTime(double seconds) {
    return std::fabs(seconds) > std::numeric_limits<double>::max();
}

class MM_EXPORT VideoFrame : public asyncioplugin::interfaces::IDataBuffer {
public:
    VideoFrame() = default;
    VideoFrame(const VideoFrame&) = delete;
    VideoFrame& operator=(const VideoFrame&) = delete;
    ~VideoFrame() override { delete buffer; }

    // One frame per buffer, attached or not.
    std::uint64_t getCount() const override { return 1; }
    void destroy() override { delete this; }

    multimedia::common::avbuffer::VideoDataBuffer* buffer = nullptr;  // owned
    double timestamp = 0.0;              // seconds; +infinity marks a failed read
    bool isRowMajorInterleaved = false;  // true: row-major, channels of a pixel side by side
};

}  // namespace video
