#include <common/avbuffer/avbuffer.hpp>
#include <common/avbuffer/blocksize.hpp>

#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

namespace multimedia {
namespace common {
namespace avbuffer {

namespace {

std::uint64_t checkedWidth(AudioDataType type) {
    const std::uint64_t width = AudioDataBuffer::bytesPerSample(type);
    if (width == 0) {
        throw std::invalid_argument("AudioDataBuffer: unknown AudioDataType " +
                                    std::to_string(static_cast<std::int32_t>(type)) +
                                    " (known types are 0 to 10)");
    }
    return width;
}

// totalSamples * numChannels * width, refusing a product that wraps: a wrapped
// size would describe a block smaller than the channel offsets reach.
std::uint64_t checkedSize(std::uint64_t totalSamples, std::uint64_t numChannels, std::uint64_t width) {
    std::uint64_t perChannel = 0;
    if (!checkedProduct(totalSamples, width, perChannel)) {
        throw std::length_error("AudioDataBuffer: " + std::to_string(totalSamples) +
                                " samples per channel exceed the addressable size");
    }
    std::uint64_t total = 0;
    if (!checkedProduct(perChannel, numChannels, total)) {
        throw std::length_error("AudioDataBuffer: " + std::to_string(numChannels) + " channels of " +
                                std::to_string(totalSamples) + " samples exceed the addressable size");
    }
    return total;
}

}  // namespace

std::uint64_t AudioDataBuffer::bytesPerSample(AudioDataType type) {
    return sampleBytes(static_cast<std::int32_t>(type));
}

AudioDataBuffer::AudioDataBuffer(unsigned long totalSamples, unsigned long numChannels, AudioDataType type)
    : numChannels(numChannels),
      totalSamples(totalSamples),
      dataType(type),
      sizeInBytes(checkedSize(totalSamples, numChannels, checkedWidth(type))),
      data(nullptr) {
    // new[] of size 0 still yields a distinct block, as callers expect.
    data = new unsigned char[sizeInBytes]();
}

AudioDataBuffer::AudioDataBuffer(void* data, unsigned long totalSamples, unsigned long numChannels,
                                 AudioDataType type)
    : numChannels(numChannels),
      totalSamples(totalSamples),
      dataType(type),
      sizeInBytes(checkedSize(totalSamples, numChannels, checkedWidth(type))),
      data(data) {}

void* AudioDataBuffer::getData() const { return data; }

void* AudioDataBuffer::releaseData() {
    void* block = data;
    data = nullptr;
    return block;
}

std::uint64_t AudioDataBuffer::getSizeInBytes() const { return sizeInBytes; }
std::uint64_t AudioDataBuffer::getTotalSamples() const { return totalSamples; }
std::uint64_t AudioDataBuffer::getNumChannels() const { return numChannels; }
std::uint64_t AudioDataBuffer::getBytesPerSample() const { return bytesPerSample(dataType); }
AudioDataType AudioDataBuffer::getAudioDataType() const { return dataType; }

void* AudioDataBuffer::getDataForChannel(unsigned long channel) const {
    if (data == nullptr) return nullptr;
    return static_cast<unsigned char*>(data) + channel * totalSamples * getBytesPerSample();
}

void AudioDataBuffer::copy(const AudioDataBuffer* source) {
    if (source == this || source == nullptr) return;
    if (data == nullptr || source->data == nullptr) return;
    const std::uint64_t sourceBytes = source->getTotalSamples() * source->getBytesPerSample();
    const std::uint64_t ownBytes = totalSamples * getBytesPerSample();
    const std::uint64_t bytes = sourceBytes < ownBytes ? sourceBytes : ownBytes;
    const std::uint64_t channels = numChannels < source->numChannels ? numChannels : source->numChannels;
    for (std::uint64_t c = 0; c < channels; ++c) {
        // memmove: a wrapping buffer may share memory with its source.
        std::memmove(getDataForChannel(c), source->getDataForChannel(c), bytes);
    }
}

VideoDataBuffer::VideoDataBuffer(unsigned long sizeInBytes, unsigned long height, unsigned long width,
                                 VideoDataType type, unsigned long numChannels)
    : height(height),
      width(width),
      dataType(type),
      numChannels(numChannels),
      sizeInBytes(sizeInBytes),
      data(new unsigned char[sizeInBytes]) {}

VideoDataBuffer::~VideoDataBuffer() { delete[] data; }

}  // namespace avbuffer
}  // namespace common
}  // namespace multimedia
