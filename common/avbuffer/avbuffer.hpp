#pragma once
// Plain sample containers handed between readers, plugins and converters:
// AudioDataBuffer (planar audio samples of several channels) and
// VideoDataBuffer (one raw video frame).

#include <common/avbuffer/datatypes.hpp>
#include <common/export.hpp>

#include <cstdint>

namespace multimedia {
namespace common {
namespace avbuffer {

// Planar audio: channel c occupies bytes [c * S * B, (c + 1) * S * B) of the
// block, where S is totalSamples and B the sample width of the data type.
//
// Ownership: the buffer never frees its block. A block allocated by the owning
// constructor belongs to whoever holds the buffer, who takes it with
// releaseData() and frees it with delete[] (as unsigned char*). A block given
// to the wrapping constructor stays the caller's. Copies are shallow and
// harmless for the same reason.
class MM_EXPORT AudioDataBuffer {
public:
    // Owning: allocates totalSamples * numChannels * width bytes, all zero.
    // Throws std::invalid_argument for a type outside 0..10, std::length_error
    // when the size does not fit 64 bits, std::bad_alloc when memory runs out.
    AudioDataBuffer(unsigned long totalSamples, unsigned long numChannels, AudioDataType type);

    // Wrapping: keeps `data` as the block, neither allocating nor copying.
    // Refuses a bad type or an unrepresentable size like the owning form.
    AudioDataBuffer(void* data, unsigned long totalSamples, unsigned long numChannels, AudioDataType type);

    void* getData() const;
    // Hands the block to the caller and forgets it; null when already released.
    void* releaseData();

    std::uint64_t getSizeInBytes() const;
    std::uint64_t getTotalSamples() const;
    std::uint64_t getNumChannels() const;
    std::uint64_t getBytesPerSample() const;
    AudioDataType getAudioDataType() const;

    // Start of channel `channel`; the number is not range-tested (channel ==
    // getNumChannels() is the end of the block). Null once the block is gone.
    void* getDataForChannel(unsigned long channel) const;

    // Copies each channel of `source` into the matching channel of this
    // buffer. Nothing is converted. Only what both buffers hold is touched:
    // at most min(source, this) channels and, per channel, at most the
    // smaller of the two channel sizes. Copying from itself or from null, or
    // with either block released, does nothing.
    void copy(const AudioDataBuffer* source);

    // Sample width in bytes of a type, 0 for a value outside 0..10.
    static std::uint64_t bytesPerSample(AudioDataType type);

private:
    std::uint64_t numChannels;
    std::uint64_t totalSamples;
    AudioDataType dataType;
    std::uint64_t sizeInBytes;
    void* data;
};

// One raw video frame. The members are the interface: users read them
// directly. The buffer owns `data` (allocated with new unsigned char[]) and
// frees it on destruction; a user takes the block over by copying the pointer
// and setting `data` to null. A buffer cannot be copied, since two copies
// would free one block twice.
class MM_EXPORT VideoDataBuffer {
public:
    // Allocates sizeInBytes bytes, left uninitialised. The size is the
    // caller's choice; it is not checked against the frame dimensions.
    VideoDataBuffer(unsigned long sizeInBytes, unsigned long height, unsigned long width,
                    VideoDataType type, unsigned long numChannels);
    ~VideoDataBuffer();

    VideoDataBuffer(const VideoDataBuffer&) = delete;
    VideoDataBuffer& operator=(const VideoDataBuffer&) = delete;

    std::uint64_t height;
    std::uint64_t width;
    VideoDataType dataType;
    std::uint64_t numChannels;
    std::uint64_t sizeInBytes;
    unsigned char* data;
};

}  // namespace avbuffer
}  // namespace common
}  // namespace multimedia
