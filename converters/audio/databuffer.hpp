#pragma once
// The audio data buffer the audio converter hands out and takes in: planar
// samples of `numChannels` channels with `count` samples each. The buffer owns
// its block (allocated with array new) until someone takes the pointer out
// and sets `data` to null.
//
// Defined entirely in this header: the host and the converter each carry a
// copy, as with the rest of the plugin kit, and meet through the virtual
// operations and the public fields.

#include <common/avbuffer/blocksize.hpp>
#include <common/avbuffer/datatypes.hpp>
#include <common/export.hpp>
#include <plugins/kit/databuffer.hpp>

#include <cstdint>

namespace audio {

using multimedia::common::avbuffer::AudioDataType;

// Bytes per sample of an audio sample type; 0 for a value outside the
// eleven known types.
inline std::uint64_t bytesPerSample(std::int32_t type) noexcept {
    return multimedia::common::avbuffer::sampleBytes(type);
}

using multimedia::common::avbuffer::kMaxBlockBytes;

// Block size for `count` samples of `numChannels` channels of `type`.
// Returns false, leaving `bytes` alone, for an unknown type, a product that
// overflows 64 bits or a block larger than kMaxBlockBytes.
inline bool blockSize(std::uint64_t count, std::uint64_t numChannels, std::int32_t type,
                      std::uint64_t& bytes) noexcept {
    const std::uint64_t width = bytesPerSample(type);
    return width != 0 && multimedia::common::avbuffer::blockBytes(bytes, count, numChannels, width);
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
