// The audio converter: blocks handed to the flow model without a copy, value
// lists turned back into buffers with a copy, and refusal of every list that
// does not describe a block it can safely read.

#include "converterloader.hpp"

#include <common/avbuffer/datatypes.hpp>
#include <converters/audio/databuffer.hpp>

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <vector>

namespace {

using multimedia::common::avbuffer::AudioDataType;
using namespace multimedia::common::avbuffer;
using convtest::ConverterPtr;
using convtest::own;
using convtest::owned;
using convtest::Plugin;

class AudioConverter : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(plugin_.ok()) << plugin_.error();
        converter_ = plugin_.create();
        ASSERT_NE(converter_, nullptr);
    }
    void TearDown() override { converter_.reset(); }

    // A buffer as a device would fill one: samples 0, 1, 2, ... in each byte.
    static audio::DataBuffer* makeBuffer(std::uint64_t count, std::uint64_t channels, AudioDataType type) {
        auto* buffer = new audio::DataBuffer();
        buffer->count = count;
        buffer->numChannels = channels;
        buffer->dataType = type;
        buffer->sizeInBytes = count * channels * audio::bytesPerSample(type);
        buffer->data = new unsigned char[buffer->sizeInBytes];
        std::iota(buffer->data, buffer->data + buffer->sizeInBytes, static_cast<unsigned char>(0));
        return buffer;
    }

    static std::vector<boost::any> list(unsigned char* block, unsigned long count, unsigned long channels,
                                        AudioDataType type) {
        return {block, count, channels, type};
    }

    Plugin plugin_{"audioflowconverter"};
    ConverterPtr converter_;
};

TEST_F(AudioConverter, BlockMovesToTheListWithoutACopy) {
    audio::DataBuffer* buffer = makeBuffer(3, 2, AUDIO_INT16);
    unsigned char* block = buffer->data;

    auto values = own(converter_->toFlowmodelData(buffer));
    ASSERT_NE(values, nullptr);
    ASSERT_EQ(values->size(), 4u);
    ASSERT_EQ((*values)[0].type(), typeid(unsigned char*));
    ASSERT_EQ((*values)[1].type(), typeid(unsigned long));
    ASSERT_EQ((*values)[2].type(), typeid(unsigned long));
    ASSERT_EQ((*values)[3].type(), typeid(AudioDataType));
    EXPECT_EQ(boost::any_cast<unsigned char*>((*values)[0]), block);
    EXPECT_EQ(boost::any_cast<unsigned long>((*values)[1]), 3u);
    EXPECT_EQ(boost::any_cast<unsigned long>((*values)[2]), 2u);
    EXPECT_EQ(boost::any_cast<AudioDataType>((*values)[3]), AUDIO_INT16);

    // The buffer has let go; destroying it must leave the block alive.
    EXPECT_EQ(buffer->data, nullptr);
    buffer->destroy();
    for (int i = 0; i < 12; ++i) EXPECT_EQ(block[i], i);
    // The receiver frees the block the way it was made.
    delete[] boost::any_cast<unsigned char*>((*values)[0]);
}

TEST_F(AudioConverter, ABufferHandedOverTwiceGivesNothingTheSecondTime) {
    auto buffer = owned(makeBuffer(4, 1, AUDIO_UINT8));
    auto first = own(converter_->toFlowmodelData(buffer.get()));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(converter_->toFlowmodelData(buffer.get()), nullptr);
    delete[] boost::any_cast<unsigned char*>((*first)[0]);
}

// A device-side buffer type the audio converter does not know.
class OtherBuffer : public asyncioplugin::interfaces::IDataBuffer {
public:
    std::uint64_t getCount() const override { return 1; }
    void destroy() override { delete this; }
};

TEST_F(AudioConverter, OnlyAudioBuffersAreConverted) {
    EXPECT_EQ(converter_->toFlowmodelData(nullptr), nullptr);
    OtherBuffer other;
    EXPECT_EQ(converter_->toFlowmodelData(&other), nullptr);
}

TEST_F(AudioConverter, ListBecomesAFreshCopy) {
    // 2 channels x 3 samples of 16-bit audio: 12 bytes.
    unsigned char source[12];
    std::iota(source, source + 12, static_cast<unsigned char>(100));
    auto values = list(source, 3, 2, AUDIO_INT16);

    auto made = owned(converter_->fromFlowmodelData(&values));
    ASSERT_NE(made, nullptr);
    auto* buffer = dynamic_cast<audio::DataBuffer*>(made.get());
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->count, 3u);
    EXPECT_EQ(buffer->getCount(), 3u);
    EXPECT_EQ(buffer->numChannels, 2u);
    EXPECT_EQ(buffer->dataType, AUDIO_INT16);
    EXPECT_EQ(buffer->sizeInBytes, 12u);
    ASSERT_NE(buffer->data, nullptr);
    EXPECT_NE(buffer->data, source);
    EXPECT_EQ(std::memcmp(buffer->data, source, 12), 0);
    // The caller's block stays the caller's and is untouched.
    EXPECT_EQ(source[0], 100);
    // Destroying the buffer frees its own block (ASan checks it is array-new).
}

TEST_F(AudioConverter, EveryTypeGetsItsSampleWidth) {
    const std::uint64_t widths[] = {8, 4, 1, 1, 2, 2, 4, 4, 1, 3, 3};
    std::vector<unsigned char> source(5 * 2 * 8, 0xAB);
    for (int type = 0; type <= 10; ++type) {
        auto values = list(source.data(), 5, 2, static_cast<AudioDataType>(type));
        auto made = owned(converter_->fromFlowmodelData(&values));
        ASSERT_NE(made, nullptr) << "type " << type;
        auto* buffer = dynamic_cast<audio::DataBuffer*>(made.get());
        ASSERT_NE(buffer, nullptr);
        EXPECT_EQ(buffer->sizeInBytes, 10 * widths[type]) << "type " << type;
        EXPECT_EQ(buffer->data[buffer->sizeInBytes - 1], 0xAB);
    }
}

TEST_F(AudioConverter, RoundTripKeepsTheSamples) {
    audio::DataBuffer* original = makeBuffer(7, 3, AUDIO_INT24);
    auto values = own(converter_->toFlowmodelData(original));
    original->destroy();
    ASSERT_NE(values, nullptr);
    auto* block = boost::any_cast<unsigned char*>((*values)[0]);

    auto back = owned(converter_->fromFlowmodelData(values.get()));
    ASSERT_NE(back, nullptr);
    auto* buffer = dynamic_cast<audio::DataBuffer*>(back.get());
    ASSERT_NE(buffer, nullptr);
    ASSERT_EQ(buffer->sizeInBytes, 63u);
    for (int i = 0; i < 63; ++i) EXPECT_EQ(buffer->data[i], i);
    delete[] block;
}

TEST_F(AudioConverter, EmptyBlocksAreFine) {
    unsigned char source[1] = {0};
    auto values = list(source, 0, 2, AUDIO_DOUBLE);
    auto made = owned(converter_->fromFlowmodelData(&values));
    ASSERT_NE(made, nullptr);
    auto* buffer = dynamic_cast<audio::DataBuffer*>(made.get());
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->sizeInBytes, 0u);
}

TEST_F(AudioConverter, MistypedListsGiveNull) {
    unsigned char source[16] = {};
    unsigned char* block = source;
    const std::vector<std::vector<boost::any>> wrong = {
        {},                                                         // empty
        {4ul, 4ul, 1ul, AUDIO_UINT8},                               // count where the block goes
        {static_cast<void*>(source), 4ul, 1ul, AUDIO_UINT8},        // untyped block
        {static_cast<const unsigned char*>(block), 4ul, 1ul, AUDIO_UINT8},
        {block, 4, 1ul, AUDIO_UINT8},                               // int count
        {block, 4ul, 1u, AUDIO_UINT8},                              // unsigned int channels
        {block, 4ul, 1ul, 3},                                       // int, not the enumeration
        {block, 4ul, 1ul, VideoDataType::VIDEO_UINT8},              // the other enumeration
        {block, 4ul, boost::any(), AUDIO_UINT8},                    // empty value
        {block, 4ul, 1ul},                                          // three elements
        {block},                                                    // one element
    };
    for (std::size_t i = 0; i < wrong.size(); ++i) {
        auto values = wrong[i];
        EXPECT_EQ(converter_->fromFlowmodelData(&values), nullptr) << "case " << i;
    }
    EXPECT_EQ(converter_->fromFlowmodelData(nullptr), nullptr);
}

TEST_F(AudioConverter, ListsThatCannotDescribeABlockGiveNull) {
    unsigned char source[16] = {};
    // No block at all.
    auto noBlock = list(nullptr, 4, 1, AUDIO_UINT8);
    EXPECT_EQ(converter_->fromFlowmodelData(&noBlock), nullptr);
    // Sample types without a width.
    for (int type : {-1, 11, 12, INT_MAX, INT_MIN}) {
        auto values = list(source, 4, 1, static_cast<AudioDataType>(type));
        EXPECT_EQ(converter_->fromFlowmodelData(&values), nullptr) << "type " << type;
    }
    // Sizes that wrap around 64 bits, and sizes no process could hold.
    const unsigned long big = 1ul << 33;
    auto wraps = list(source, big, big, AUDIO_UINT8);
    EXPECT_EQ(converter_->fromFlowmodelData(&wraps), nullptr);
    auto wrapsInWidth = list(source, 1ul << 62, 1, AUDIO_DOUBLE);
    EXPECT_EQ(converter_->fromFlowmodelData(&wrapsInWidth), nullptr);
    auto absurd = list(source, 1ul << 45, 16, AUDIO_UINT8);
    EXPECT_EQ(converter_->fromFlowmodelData(&absurd), nullptr);
    auto maximal = list(source, ULONG_MAX, ULONG_MAX, AUDIO_DOUBLE);
    EXPECT_EQ(converter_->fromFlowmodelData(&maximal), nullptr);
}

TEST_F(AudioConverter, ExtraElementsAfterTheFourAreIgnored) {
    unsigned char source[2] = {7, 9};
    std::vector<boost::any> values{static_cast<unsigned char*>(source), 2ul, 1ul, AUDIO_UINT8,
                                   std::string("note")};
    auto made = owned(converter_->fromFlowmodelData(&values));
    ASSERT_NE(made, nullptr);
    auto* buffer = dynamic_cast<audio::DataBuffer*>(made.get());
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->data[1], 9);
}

TEST(AudioBlockSize, FollowsTheWidthTableAndRefusesWhatCannotExist) {
    std::uint64_t bytes = 99;
    EXPECT_TRUE(audio::blockSize(3, 2, AUDIO_INT16, bytes));
    EXPECT_EQ(bytes, 12u);
    EXPECT_TRUE(audio::blockSize(0, 0, AUDIO_UINT24, bytes));
    EXPECT_EQ(bytes, 0u);
    bytes = 99;
    EXPECT_FALSE(audio::blockSize(1, 1, 11, bytes));
    EXPECT_FALSE(audio::blockSize(1, 1, -1, bytes));
    EXPECT_FALSE(audio::blockSize(UINT64_MAX, 2, AUDIO_UINT8, bytes));
    EXPECT_FALSE(audio::blockSize(UINT64_MAX / 2, 1, AUDIO_INT16, bytes));
    EXPECT_TRUE(audio::blockSize(audio::kMaxBlockBytes, 1, AUDIO_UINT8, bytes));
    EXPECT_FALSE(audio::blockSize(audio::kMaxBlockBytes + 1, 1, AUDIO_UINT8, bytes));
    EXPECT_EQ(bytes, audio::kMaxBlockBytes);
}

}  // namespace
