#pragma once
// The audio data buffer the audio converter hands out and takes in: planar
// samples of `numChannels` channels with `count` samples each. The buffer owns
// its block (allocated with array new) until someone takes the pointer out
// and sets `data` to null.
//
// Defined entirely in this header: the host and the converter each carry a
// copy, as with the rest of the plugin kit, and meet through the virtual
// operations and the public fields.

#include <common/avbuffer/datatypes.hpp>
#include <common/export.hpp>
#include <plugins/kit/databuffer.hpp>

#include <cstdint>

namespace audio {

using multimedia::common::avbuffer::AudioDataType;

// Bytes per sample of an audio sample type; 0 for a value outside the
// eleven known types.
inline std::uint64_t bytesPerSample(std::int32_t type) noexcept {
    static constexpr std::uint8_t kWidths[] = {8, 4, 1, 1, 2, 2, 4, 4, 1, 3, 3};
    if (type < 0 || type >= static_cast<std::int32_t>(sizeof kWidths)) {
        return 0;
    }
    return kWidths[type];
}

// The largest sample block accepted: no process on x86-64 can address more
// than 2^47 bytes, so a larger block can only come from garbage counts.
inline constexpr std::uint64_t kMaxBlockBytes = std::uint64_t{1} << 47;

// Block size for `count` samples of `numChannels` channels of `type`.
// Returns false, leaving `bytes` alone, for an unknown type, a product that
// overflows 64 bits or a block larger than kMaxBlockBytes.
inline bool blockSize(std::uint64_t count, std::uint64_t numChannels, std::int32_t type,
                      std::uint64_t& bytes) noexcept {
    const std::uint64_t width = bytesPerSample(type);
    if (width == 0) {
        return false;
    }
    std::uint64_t samples = 0;
    std::uint64_t total = 0;
    if (__builtin_mul_overflow(count, numChannels, &samples) ||
        __builtin_mul_overflow(samples, width, &total) || total > kMaxBlockBytes) {
        return false;
    }
    bytes = total;
    return true;
}

class MM_EXPORT DataBuffer : public asyncioplugin::interfaces::IDataBuffer {
public:
    std::uint64_t numChannels = 0;
    std::uint64_t count = 0;  // samples per channel
    AudioDataType dataType = multimedia::common::avbuffer::AUDIO_DOUBLE;
    std::uint64_t sizeInBytes = 0;  // bytesPerSample(dataType) * count * numChannels
    unsigned char* data = nullptr;

    DataBuffer() = default;
    DataBuffer(const DataBuffer&) = delete;
    DataBuffer& operator=(const DataBuffer&) = delete;
    ~DataBuffer() override { delete[] data; }

    std::uint64_t getCount() const override { return count; }
    void destroy() override { delete this; }
};

}  // namespace audio
