// The video converter: a frame's pixel block reaches the value list without a
// copy, failed frames are marked by an int 0 height, and nothing else is
// taken for a frame.

#include "converterloader.hpp"

#include <common/avbuffer/datatypes.hpp>
#include <converters/audio/databuffer.hpp>
#include <plugins/kit/properties.hpp>
#include <plugins/kit/videoframe.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>

namespace {

using namespace multimedia::common::avbuffer;
using convtest::ConverterPtr;
using convtest::own;
using convtest::owned;
using convtest::Plugin;

// A frame as a reader device delivers one: height x width x channels bytes.
video::VideoFrame* makeFrame(unsigned long height, unsigned long width, unsigned long channels,
                             double timestamp, VideoDataType type = VIDEO_UINT8) {
    auto* frame = new video::VideoFrame();
    const unsigned long size = height * width * channels;
    frame->buffer = new VideoDataBuffer(size, height, width, type, channels);
    std::iota(frame->buffer->data, frame->buffer->data + size, static_cast<unsigned char>(0));
    frame->timestamp = timestamp;
    frame->isRowMajorInterleaved = true;
    return frame;
}

class VideoConverter : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(plugin_.ok()) << plugin_.error();
        converter_ = plugin_.create();
        ASSERT_NE(converter_, nullptr);
    }
    void TearDown() override { converter_.reset(); }

    Plugin plugin_{"videoflowconverter"};
    ConverterPtr converter_;
};

TEST_F(VideoConverter, PixelsMoveToTheListWithoutACopy) {
    video::VideoFrame* frame = makeFrame(4, 6, 3, 0.04);
    unsigned char* pixels = frame->buffer->data;

    auto values = own(converter_->toFlowmodelData(frame));
    ASSERT_NE(values, nullptr);
    ASSERT_EQ(values->size(), 5u);
    ASSERT_EQ((*values)[0].type(), typeid(unsigned char*));
    ASSERT_EQ((*values)[1].type(), typeid(unsigned long));
    ASSERT_EQ((*values)[2].type(), typeid(unsigned long));
    ASSERT_EQ((*values)[3].type(), typeid(unsigned long));
    ASSERT_EQ((*values)[4].type(), typeid(VideoDataType));
    EXPECT_EQ(boost::any_cast<unsigned char*>((*values)[0]), pixels);
    EXPECT_EQ(boost::any_cast<unsigned long>((*values)[1]), 4u);
    EXPECT_EQ(boost::any_cast<unsigned long>((*values)[2]), 6u);
    EXPECT_EQ(boost::any_cast<unsigned long>((*values)[3]), 3u);
    EXPECT_EQ(boost::any_cast<VideoDataType>((*values)[4]), VIDEO_UINT8);

    // The frame's buffer has let go; destroying the frame leaves the block alive.
    ASSERT_NE(frame->buffer, nullptr);
    EXPECT_EQ(frame->buffer->data, nullptr);
    frame->destroy();
    for (int i = 0; i < 72; ++i) ASSERT_EQ(pixels[i], i);
    delete[] pixels;
}

TEST_F(VideoConverter, SampleTypeAndChannelsPassThroughUninterpreted) {
    auto frame = owned(makeFrame(2, 3, 1, 1.0, VIDEO_UINT16));
    auto values = own(converter_->toFlowmodelData(frame.get()));
    ASSERT_NE(values, nullptr);
    EXPECT_EQ(boost::any_cast<unsigned long>((*values)[3]), 1u);
    EXPECT_EQ(boost::any_cast<VideoDataType>((*values)[4]), VIDEO_UINT16);
    delete[] boost::any_cast<unsigned char*>((*values)[0]);
}

TEST_F(VideoConverter, InfiniteTimesMarkAFailedFrame) {
    const double inf = std::numeric_limits<double>::infinity();
    for (double failed : {inf, -inf}) {
        auto frame = owned(makeFrame(480, 2, 3, failed));
        unsigned char* pixels = frame->buffer->data;
        auto values = own(converter_->toFlowmodelData(frame.get()));
        ASSERT_NE(values, nullptr);
        ASSERT_EQ(values->size(), 5u);
        ASSERT_EQ((*values)[1].type(), typeid(int)) << failed;
        EXPECT_EQ(boost::any_cast<int>((*values)[1]), 0);
        // Everything else is as for a good frame, and the block still moves.
        EXPECT_EQ(boost::any_cast<unsigned char*>((*values)[0]), pixels);
        EXPECT_EQ(boost::any_cast<unsigned long>((*values)[2]), 2u);
        EXPECT_EQ(boost::any_cast<unsigned long>((*values)[3]), 3u);
        EXPECT_EQ(frame->buffer->data, nullptr);
        delete[] pixels;
    }
}

TEST_F(VideoConverter, FiniteTimesKeepTheHeight) {
    const double finite[] = {0.0, -0.0, 1e-320, -5.0, std::numeric_limits<double>::max(),
                             -std::numeric_limits<double>::max(), std::numeric_limits<double>::quiet_NaN()};
    for (double time : finite) {
        auto frame = owned(makeFrame(7, 1, 3, time));
        auto values = own(converter_->toFlowmodelData(frame.get()));
        ASSERT_NE(values, nullptr);
        ASSERT_EQ((*values)[1].type(), typeid(unsigned long)) << time;
        EXPECT_EQ(boost::any_cast<unsigned long>((*values)[1]), 7u);
        delete[] boost::any_cast<unsigned char*>((*values)[0]);
    }
}

TEST_F(VideoConverter, FramesWithoutPixelsGiveNull) {
    // No buffer attached.
    auto bare = owned(new video::VideoFrame());
    EXPECT_EQ(converter_->toFlowmodelData(bare.get()), nullptr);
    // Pixels already handed over by an earlier conversion.
    auto frame = owned(makeFrame(2, 2, 3, 0.0));
    auto first = own(converter_->toFlowmodelData(frame.get()));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(converter_->toFlowmodelData(frame.get()), nullptr);
    delete[] boost::any_cast<unsigned char*>((*first)[0]);
}

TEST_F(VideoConverter, OnlyVideoFramesAreConverted) {
    EXPECT_EQ(converter_->toFlowmodelData(nullptr), nullptr);
    audio::DataBuffer samples;
    samples.count = 4;
    samples.numChannels = 1;
    samples.dataType = AUDIO_UINT8;
    samples.sizeInBytes = 4;
    samples.data = new unsigned char[4]();
    EXPECT_EQ(converter_->toFlowmodelData(&samples), nullptr);
    // Refused input is left as it was.
    EXPECT_NE(samples.data, nullptr);
}

TEST_F(VideoConverter, NeverGoesBackFromAList) {
    auto frame = owned(makeFrame(2, 2, 3, 0.0));
    auto values = own(converter_->toFlowmodelData(frame.get()));
    ASSERT_NE(values, nullptr);
    // Even its own well-formed output is not turned back into a frame.
    EXPECT_EQ(converter_->fromFlowmodelData(values.get()), nullptr);
    EXPECT_EQ(converter_->fromFlowmodelData(nullptr), nullptr);
    std::vector<boost::any> empty;
    EXPECT_EQ(converter_->fromFlowmodelData(&empty), nullptr);
    delete[] boost::any_cast<unsigned char*>((*values)[0]);
}

TEST_F(VideoConverter, PropertyTranslationTriesBoolThenDoubleThenText) {
    using asyncioplugin::kit::device::TScalarProperty;
    TScalarProperty<bool> yes("IsOutputRowMajorInterleaved", true);
    TScalarProperty<double> height("Height", 480.0);
    TScalarProperty<std::u16string> format("VideoFormat", u"RGB24");
    auto b = own(converter_->toFlowmodelProperty(&yes));
    auto d = own(converter_->toFlowmodelProperty(&height));
    auto t = own(converter_->toFlowmodelProperty(&format));
    ASSERT_NE(b, nullptr);
    ASSERT_NE(d, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(b->type(), typeid(bool));
    EXPECT_EQ(d->type(), typeid(double));
    EXPECT_EQ(t->type(), typeid(std::u16string));
    EXPECT_EQ(boost::any_cast<double>(*d), 480.0);

    // Back again, each value becomes a property of exactly its own type.
    for (boost::any* value : {b.get(), d.get(), t.get()}) {
        auto property = owned(converter_->fromFlowmodelProperty("P", value));
        ASSERT_NE(property, nullptr);
        const bool isBool = dynamic_cast<TScalarProperty<bool>*>(property.get()) != nullptr;
        const bool isDouble = dynamic_cast<TScalarProperty<double>*>(property.get()) != nullptr;
        const bool isText = dynamic_cast<TScalarProperty<std::u16string>*>(property.get()) != nullptr;
        EXPECT_EQ(isBool, value == b.get());
        EXPECT_EQ(isDouble, value == d.get());
        EXPECT_EQ(isText, value == t.get());
    }
}

}  // namespace
