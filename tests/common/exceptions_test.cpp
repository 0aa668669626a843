// Names, messages and the UTF-8 display text of the common exceptions.

#include <common/exceptions/exceptions.hpp>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <type_traits>

namespace ex = multimedia::common::exceptions;

namespace {

// Every class, its expected name, and whether it takes a message.
template <typename T>
void expectNoArgument(const char* expectedName) {
    static_assert(std::is_base_of<ex::Exception, T>::value, "derives from Exception");
    static_assert(std::is_default_constructible<T>::value, "constructs without arguments");
    static_assert(!std::is_constructible<T, std::string>::value, "takes no message");
    static_assert(sizeof(T) == sizeof(ex::Exception), "adds no data member");
    const T e;
    EXPECT_STREQ(expectedName, e.name());
    EXPECT_STREQ("", e.what());
    EXPECT_STREQ("", e.std::runtime_error::what());
}

template <typename T>
void expectMessage(const char* expectedName) {
    static_assert(std::is_base_of<ex::Exception, T>::value, "derives from Exception");
    static_assert(!std::is_default_constructible<T>::value, "needs its message");
    static_assert(!std::is_convertible<std::string, T>::value, "constructor is explicit");
    static_assert(sizeof(T) == sizeof(ex::Exception), "adds no data member");
    const T e(std::string("detail for ") + expectedName);
    EXPECT_STREQ(expectedName, e.name());
    EXPECT_EQ(std::string("detail for ") + expectedName, e.what());
}

}  // namespace

TEST(CommonExceptions, EveryClassHasItsNameAndConstructor) {
    expectMessage<ex::PluginNotLoadedException>("PluginNotLoaded");
    expectMessage<ex::PluginRequirementException>("PluginRequirement");
    expectNoArgument<ex::InitializationFailedException>("InitializationFailed");
    expectNoArgument<ex::BadGraphicsCardDetectedException>("BadGraphicsCardDetected");
    expectNoArgument<ex::ReadCancelledException>("ReadCancelled");
    expectNoArgument<ex::ReadFailedException>("ReadFailed");
    expectMessage<ex::UnexpectedException>("Unexpected");
    expectMessage<ex::UnexpectedWarningException>("UnexpectedWarning");
    expectNoArgument<ex::FilePermissionDeniedException>("FilePermissionDenied");
    expectNoArgument<ex::FileRenamedException>("FileRenamed");
    expectNoArgument<ex::FileNotFoundException>("FileNotFound");
    expectNoArgument<ex::FileCorruptException>("FileCorrupt");
    expectNoArgument<ex::FileTypeNotSupportedException>("FileTypeNotSupported");
    expectMessage<ex::CodecNotFoundException>("CodecNotFound");
    expectNoArgument<ex::UnknownCodecException>("UnknownCodec");
    expectNoArgument<ex::NoAudioException>("NoAudio");
    expectNoArgument<ex::NoVideoException>("NoVideo");
    expectNoArgument<ex::NoVideoOrAudioException>("NoVideoOrAudio");
    expectNoArgument<ex::DurationNotSupportedException>("DurationNotSupported");
    expectNoArgument<ex::SeekFailedException>("SeekFailed");
    expectNoArgument<ex::StreamFormatChangedException>("StreamFormatChanged");
    expectNoArgument<ex::ReadNotSupportedException>("ReadNotSupported");
    expectNoArgument<ex::WriteNotSupportedException>("WriteNotSupported");
    expectNoArgument<ex::ReadTimeoutException>("ReadTimeout");
    expectMessage<ex::NonAsciiUnsupportedException>("NonAsciiUnsupported");
    expectNoArgument<ex::URLsNotSupportedException>("URLsNotSupported");
    expectNoArgument<ex::WavSizeLimitException>("WavSizeLimit");
    expectMessage<ex::MetadataReadFailedException>("MetadataReadFailed");
    expectMessage<ex::MetadataWriteFailedException>("MetadataWriteFailed");
    expectMessage<ex::NonAsciiMetadataForWavException>("NonAsciiMetadataForWav");
    expectNoArgument<ex::UnsupportedSampleRateException>("UnsupportedSampleRate");
    expectNoArgument<ex::UnsupportedBitRateException>("UnsupportedBitRate");
    expectNoArgument<ex::UnsupportedOutputChannelsException>("UnsupportedOutputChannels");
    expectNoArgument<ex::Mpeg4MinNumberOfSamplesRequiredException>("Mpeg4MinNumberOfSamplesRequired");
    expectMessage<ex::AudioPropertyUnavailableException>("AudioPropertyUnavailable");
    expectMessage<ex::MaxFlacSampleRateException>("MaxFlacSampleRate");
    expectMessage<ex::MinOggSampleRateException>("MinOggSampleRate");
    expectNoArgument<ex::UnsupportedOpusSampleRateException>("UnsupportedOpusSampleRate");
    expectNoArgument<ex::UnsupportedMP3SampleRateException>("UnsupportedMP3SampleRate");
    // The one name that is not the class name less "Exception".
    expectNoArgument<ex::ColorspaceConversionException>("ColorSpaceConversion");
    expectNoArgument<ex::BitDepthException>("BitDepth");
    expectMessage<ex::VideoPropertyUnavailableException>("VideoPropertyUnavailable");
}

TEST(CommonExceptions, BaseKeepsNameAndRawMessage) {
    const ex::Exception e("SomeKind", "some text");
    EXPECT_STREQ("SomeKind", e.name());
    EXPECT_STREQ("some text", e.std::runtime_error::what());
    EXPECT_STREQ("some text", e.what());
    const std::exception& asStd = e;
    EXPECT_STREQ("some text", asStd.what());  // what() is the virtual override
}

TEST(CommonExceptions, WhatIsStableAcrossCallsAndCopies) {
    const ex::UnexpectedException e("abc");
    const std::string first = e.what();
    const char* second = e.what();
    EXPECT_EQ("abc", first);
    EXPECT_STREQ(first.c_str(), second);

    // A thrown exception is copied; the copy keeps name and message.
    const ex::UnexpectedException copy = e;
    EXPECT_STREQ("abc", copy.what());
    EXPECT_STREQ("Unexpected", copy.name());
}

TEST(CommonExceptions, WhatCarriesUtf8Unchanged) {
    // Two-, three- and four-byte sequences survive the UTF-16 round trip.
    const std::string text = "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xA5 ok";
    const ex::NonAsciiUnsupportedException e(text);
    EXPECT_EQ(text, e.what());
    EXPECT_EQ(text, e.what());
}

TEST(CommonExceptions, MalformedUtf8IsReplacedNotPassedThrough) {
    // The display text is valid UTF-8 even when the message is not; the raw
    // message stays available unchanged.
    const std::string text = "bad \xFF byte";
    const ex::UnexpectedException e(text);
    EXPECT_EQ("bad \xEF\xBF\xBD byte", std::string(e.what()));
    EXPECT_EQ(text, e.std::runtime_error::what());
}

TEST(CommonExceptions, LongMessageIsKeptWhole) {
    const std::string text(100000, 'x');
    const ex::MetadataReadFailedException e(text);
    EXPECT_EQ(text.size(), std::strlen(e.what()));
}
