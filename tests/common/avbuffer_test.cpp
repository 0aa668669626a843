// Audio and video buffers: sizes, planar layout, ownership hand-over, copy.
// Run under the asan preset, leak checking catches a block freed twice or
// never freed.

#include <common/avbuffer/avbuffer.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <type_traits>
#include <vector>

namespace av = multimedia::common::avbuffer;

namespace {

// Frees the block of an owning AudioDataBuffer the way its holder must.
void freeBlock(av::AudioDataBuffer& buffer) { delete[] static_cast<unsigned char*>(buffer.releaseData()); }

bool allZero(const void* block, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(block);
    for (std::size_t i = 0; i < size; ++i) {
        if (p[i] != 0) return false;
    }
    return true;
}

// Fills channel c of `buffer` with bytes c * 16 + (i % 16).
void fillChannels(av::AudioDataBuffer& buffer) {
    const std::size_t perChannel = buffer.getTotalSamples() * buffer.getBytesPerSample();
    for (std::size_t c = 0; c < buffer.getNumChannels(); ++c) {
        auto* p = static_cast<unsigned char*>(buffer.getDataForChannel(c));
        for (std::size_t i = 0; i < perChannel; ++i) p[i] = static_cast<unsigned char>(c * 16 + i % 16);
    }
}

}  // namespace

TEST(AudioDataBuffer, EnumerationsAreThirtyTwoBits) {
    static_assert(sizeof(av::AudioDataType) == 4, "32-bit");
    static_assert(sizeof(av::VideoDataType) == 4, "32-bit");
    static_assert(std::is_signed<std::underlying_type_t<av::AudioDataType>>::value, "signed");
    EXPECT_EQ(3, av::VIDEO_UINT8);
}

TEST(AudioDataBuffer, SampleWidthFollowsTheType) {
    const std::uint64_t widths[] = {8, 4, 1, 1, 2, 2, 4, 4, 1, 3, 3};
    for (int type = 0; type <= 10; ++type) {
        av::AudioDataBuffer buffer(5, 2, static_cast<av::AudioDataType>(type));
        EXPECT_EQ(widths[type], buffer.getBytesPerSample()) << "type " << type;
        EXPECT_EQ(widths[type] * 10, buffer.getSizeInBytes()) << "type " << type;
        EXPECT_EQ(static_cast<av::AudioDataType>(type), buffer.getAudioDataType());
        freeBlock(buffer);
    }
}

TEST(AudioDataBuffer, OwningBufferIsZeroedAndPlanar) {
    av::AudioDataBuffer buffer(100, 2, av::AUDIO_INT16);
    EXPECT_EQ(100u, buffer.getTotalSamples());
    EXPECT_EQ(2u, buffer.getNumChannels());
    EXPECT_EQ(400u, buffer.getSizeInBytes());
    ASSERT_NE(nullptr, buffer.getData());
    EXPECT_TRUE(allZero(buffer.getData(), 400));
    auto* base = static_cast<unsigned char*>(buffer.getData());
    EXPECT_EQ(base, buffer.getDataForChannel(0));
    EXPECT_EQ(base + 200, buffer.getDataForChannel(1));
    EXPECT_EQ(base + 400, buffer.getDataForChannel(2));  // the end of the block
    // Writing every channel through its own pointer touches only the block
    // (asan reports an overrun otherwise).
    fillChannels(buffer);
    EXPECT_EQ(1 * 16 + 0, base[200]);
    freeBlock(buffer);
}

TEST(AudioDataBuffer, WrappingBufferKeepsTheCallersBlock) {
    std::vector<unsigned char> block(90, 0xAB);
    av::AudioDataBuffer buffer(block.data(), 10, 3, av::AUDIO_INT24);
    EXPECT_EQ(block.data(), buffer.getData());
    EXPECT_EQ(90u, buffer.getSizeInBytes());
    EXPECT_EQ(3u, buffer.getBytesPerSample());
    EXPECT_EQ(block.data() + 60, buffer.getDataForChannel(2));
    EXPECT_EQ(0xAB, block[0]);  // neither cleared nor copied
    // Nothing to free: the vector still owns the block.
}

TEST(AudioDataBuffer, ReleaseHandsTheBlockOverOnce) {
    auto* buffer = new av::AudioDataBuffer(16, 1, av::AUDIO_DOUBLE);
    auto* block = static_cast<unsigned char*>(buffer->releaseData());
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(nullptr, buffer->getData());
    EXPECT_EQ(nullptr, buffer->releaseData());
    EXPECT_EQ(nullptr, buffer->getDataForChannel(0));
    delete buffer;  // the block outlives its buffer
    block[127] = 1;
    delete[] block;
}

TEST(AudioDataBuffer, ZeroSizesGiveAnEmptyBlock) {
    av::AudioDataBuffer noSamples(0, 2, av::AUDIO_SINGLE);
    EXPECT_EQ(0u, noSamples.getSizeInBytes());
    EXPECT_NE(nullptr, noSamples.getData());
    EXPECT_EQ(noSamples.getData(), noSamples.getDataForChannel(1));
    av::AudioDataBuffer noChannels(50, 0, av::AUDIO_SINGLE);
    EXPECT_EQ(0u, noChannels.getSizeInBytes());
    EXPECT_NE(nullptr, noChannels.getData());
    // Copying between empty buffers copies nothing and stays in bounds.
    noChannels.copy(&noSamples);
    noSamples.copy(&noChannels);
    freeBlock(noSamples);
    freeBlock(noChannels);
}

TEST(AudioDataBuffer, UnknownTypesAreRefusedByName) {
    for (int type : {-1, 11, 1000, std::numeric_limits<std::int32_t>::min()}) {
        const auto bad = static_cast<av::AudioDataType>(type);
        try {
            av::AudioDataBuffer buffer(10, 2, bad);
            freeBlock(buffer);
            ADD_FAILURE() << "type " << type << " accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(nullptr, std::strstr(e.what(), std::to_string(type).c_str())) << e.what();
        }
        unsigned char block[8];
        EXPECT_THROW(av::AudioDataBuffer(block, 1, 1, bad), std::invalid_argument);
    }
}

TEST(AudioDataBuffer, SizesThatDoNotFitAreRefused) {
    // A wrapped-around size would make the channel offsets reach past the block.
    const unsigned long huge = std::numeric_limits<unsigned long>::max() / 2;
    EXPECT_THROW(av::AudioDataBuffer(huge, 1, av::AUDIO_DOUBLE), std::length_error);
    EXPECT_THROW(av::AudioDataBuffer(1ul << 40, 1ul << 30, av::AUDIO_INT8), std::length_error);
    unsigned char block[1];
    EXPECT_THROW(av::AudioDataBuffer(block, 1ul << 33, 1ul << 31, av::AUDIO_INT16), std::length_error);
}

TEST(AudioDataBufferCopy, CopiesEachChannelPlanar) {
    av::AudioDataBuffer source(6, 3, av::AUDIO_INT16);
    fillChannels(source);
    av::AudioDataBuffer target(6, 3, av::AUDIO_INT16);
    target.copy(&source);
    EXPECT_EQ(0, std::memcmp(source.getData(), target.getData(), source.getSizeInBytes()));
    freeBlock(source);
    freeBlock(target);
}

TEST(AudioDataBufferCopy, LongerTargetKeepsItsOwnChannelStride) {
    // Source channels of 4 samples land at the start of each 10-sample channel.
    av::AudioDataBuffer source(4, 2, av::AUDIO_UINT8);
    fillChannels(source);
    av::AudioDataBuffer target(10, 2, av::AUDIO_UINT8);
    target.copy(&source);
    const auto* t = static_cast<const unsigned char*>(target.getData());
    EXPECT_EQ(0, std::memcmp(t, source.getDataForChannel(0), 4));
    EXPECT_EQ(0, std::memcmp(t + 10, source.getDataForChannel(1), 4));
    EXPECT_TRUE(allZero(t + 4, 6));
    EXPECT_TRUE(allZero(t + 14, 6));
    freeBlock(source);
    freeBlock(target);
}

TEST(AudioDataBufferCopy, WithItselfChangesNothing) {
    av::AudioDataBuffer buffer(8, 2, av::AUDIO_INT32);
    fillChannels(buffer);
    std::vector<unsigned char> before(static_cast<unsigned char*>(buffer.getData()),
                                      static_cast<unsigned char*>(buffer.getData()) + buffer.getSizeInBytes());
    buffer.copy(&buffer);
    EXPECT_EQ(0, std::memcmp(before.data(), buffer.getData(), before.size()));
    freeBlock(buffer);
}

TEST(AudioDataBufferCopy, MismatchedShapesStayInsideBothBlocks) {
    // More channels or longer channels on either side must not read or write
    // past a block; asan turns any overrun into a failure.
    av::AudioDataBuffer small(3, 1, av::AUDIO_INT16);
    fillChannels(small);
    av::AudioDataBuffer big(50, 4, av::AUDIO_INT16);
    big.copy(&small);  // fewer source channels, shorter source channels
    const auto* b = static_cast<const unsigned char*>(big.getData());
    EXPECT_EQ(0, std::memcmp(b, small.getData(), 6));
    EXPECT_TRUE(allZero(b + 6, big.getSizeInBytes() - 6));

    fillChannels(big);
    small.copy(&big);  // more and longer source channels: only what fits
    EXPECT_EQ(0, std::memcmp(small.getData(), big.getData(), 6));

    av::AudioDataBuffer wide(3, 1, av::AUDIO_DOUBLE);  // same bytes, other width
    wide.copy(&big);
    EXPECT_EQ(0, std::memcmp(wide.getData(), big.getData(), 24));
    freeBlock(small);
    freeBlock(big);
    freeBlock(wide);
}

TEST(AudioDataBufferCopy, NullOrReleasedBuffersAreIgnored) {
    av::AudioDataBuffer target(4, 1, av::AUDIO_INT8);
    av::AudioDataBuffer source(4, 1, av::AUDIO_INT8);
    target.copy(nullptr);
    delete[] static_cast<unsigned char*>(source.releaseData());
    target.copy(&source);
    EXPECT_TRUE(allZero(target.getData(), 4));
    auto* block = static_cast<unsigned char*>(target.releaseData());
    source = av::AudioDataBuffer(4, 1, av::AUDIO_INT8);
    target.copy(&source);  // target has no block any more
    delete[] block;
    freeBlock(source);
}

TEST(VideoDataBuffer, HoldsAFrameAndFreesIt) {
    static_assert(!std::is_copy_constructible<av::VideoDataBuffer>::value, "copy would free twice");
    static_assert(!std::is_copy_assignable<av::VideoDataBuffer>::value, "copy would free twice");
    av::VideoDataBuffer frame(640 * 480 * 3, 480, 640, av::VIDEO_UINT8, 3);
    EXPECT_EQ(480u, frame.height);
    EXPECT_EQ(640u, frame.width);
    EXPECT_EQ(av::VIDEO_UINT8, frame.dataType);
    EXPECT_EQ(3u, frame.numChannels);
    EXPECT_EQ(921600u, frame.sizeInBytes);
    ASSERT_NE(nullptr, frame.data);
    frame.data[0] = 1;
    frame.data[921599] = 2;  // the whole block is ours
}

TEST(VideoDataBuffer, TakenBlockOutlivesTheBuffer) {
    auto* frame = new av::VideoDataBuffer(12, 2, 2, av::VIDEO_UINT8, 3);
    std::memset(frame->data, 7, 12);
    unsigned char* pixels = frame->data;
    frame->data = nullptr;
    delete frame;  // frees nothing
    EXPECT_EQ(7, pixels[11]);
    delete[] pixels;
}

TEST(VideoDataBuffer, StoresTypeAndSizeUnchecked) {
    // The size is the caller's business; other types pass through untouched.
    av::VideoDataBuffer frame(0, 1080, 1920, static_cast<av::VideoDataType>(42), 4);
    EXPECT_EQ(0u, frame.sizeInBytes);
    EXPECT_EQ(42, frame.dataType);
    EXPECT_NE(nullptr, frame.data);
}
