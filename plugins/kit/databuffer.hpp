#pragma once
// The data-buffer interface through which devices deliver data to the host
// (a video::VideoFrame for reader devices). Slot order is binary interface.

#include <common/export.hpp>

#include <cstdint>

namespace asyncioplugin {
namespace interfaces {

class MM_EXPORT IDataBuffer {
public:
    virtual std::uint64_t getCount() const = 0;  // 0: items in the buffer (frames, samples)
    virtual void destroy() = 0;                  // 1: deletes the object
    virtual ~IDataBuffer() {}                    // 2, 3
};

}  // namespace interfaces
}  // namespace asyncioplugin
