#pragma once
// Every exception class that crosses a library boundary, as X-macro lists:
// X(class, takes a message). Shared by the throwing library and the tests.

#define MMTEST_COMMON_EXCEPTIONS(X) \
    X(PluginNotLoadedException, true) \
    X(PluginRequirementException, true) \
    X(InitializationFailedException, false) \
    X(BadGraphicsCardDetectedException, false) \
    X(ReadCancelledException, false) \
    X(ReadFailedException, false) \
    X(UnexpectedException, true) \
    X(UnexpectedWarningException, true) \
    X(FilePermissionDeniedException, false) \
    X(FileRenamedException, false) \
    X(FileNotFoundException, false) \
    X(FileCorruptException, false) \
    X(FileTypeNotSupportedException, false) \
    X(CodecNotFoundException, true) \
    X(UnknownCodecException, false) \
    X(NoAudioException, false) \
    X(NoVideoException, false) \
    X(NoVideoOrAudioException, false) \
    X(DurationNotSupportedException, false) \
    X(SeekFailedException, false) \
    X(StreamFormatChangedException, false) \
    X(ReadNotSupportedException, false) \
    X(WriteNotSupportedException, false) \
    X(ReadTimeoutException, false) \
    X(NonAsciiUnsupportedException, true) \
    X(URLsNotSupportedException, false) \
    X(WavSizeLimitException, false) \
    X(MetadataReadFailedException, true) \
    X(MetadataWriteFailedException, true) \
    X(NonAsciiMetadataForWavException, true) \
    X(UnsupportedSampleRateException, false) \
    X(UnsupportedBitRateException, false) \
    X(UnsupportedOutputChannelsException, false) \
    X(Mpeg4MinNumberOfSamplesRequiredException, false) \
    X(AudioPropertyUnavailableException, true) \
    X(MaxFlacSampleRateException, true) \
    X(MinOggSampleRateException, true) \
    X(UnsupportedOpusSampleRateException, false) \
    X(UnsupportedMP3SampleRateException, false) \
    X(ColorspaceConversionException, false) \
    X(BitDepthException, false) \
    X(VideoPropertyUnavailableException, true)

#define MMTEST_READER_EXCEPTIONS(X) \
    X(ReadFailedException, false) \
    X(SeekFailedException, false) \
    X(InitializationFailedException, false) \
    X(UnexpectedException, true) \
    X(PluginRequirementException, true) \
    X(NoVideoException, true) \
    X(NonAsciiUnsupportedException, true) \
    X(BitDepthException, true) \
    X(ColorspaceConversionException, true) \
    X(FileCorruptException, true) \
    X(FileNotFoundException, true) \
    X(UnknownCodecException, true)

#include <common/exceptions/exceptions.hpp>
#include <videoreader/videoreaderexceptions.hpp>

#include <stdexcept>
#include <string>

namespace mmtest {

template <typename T, bool takesMessage>
struct Make;
template <typename T>
struct Make<T, true> {
    static T make(const char* message) { return T(message); }
};
template <typename T>
struct Make<T, false> {
    static T make(const char*) { return T(); }
};

// Number of classes in each list, the family base (number 0) included.
#define MMTEST_COUNT(Class, takesMessage) +1
constexpr int kCommonCount = 1 MMTEST_COMMON_EXCEPTIONS(MMTEST_COUNT);
constexpr int kReaderCount = 1 MMTEST_READER_EXCEPTIONS(MMTEST_COUNT);
#undef MMTEST_COUNT

// Throws class number `index`: 0 is the family base, then the lists in order.
[[noreturn]] inline void throwCommon(int index, const char* message) {
    namespace ex = multimedia::common::exceptions;
    if (index == 0) throw ex::Exception("Base", message);
    int i = 1;
#define MMTEST_THROW(Class, takesMessage) \
    if (index == i++) throw Make<ex::Class, takesMessage>::make(message);
    MMTEST_COMMON_EXCEPTIONS(MMTEST_THROW)
#undef MMTEST_THROW
    throw std::logic_error("no common exception number " + std::to_string(index));
}

[[noreturn]] inline void throwReader(int index, const char* message) {
    if (index == 0) throw qsVideoReader::VideoReaderException(message);
    int i = 1;
#define MMTEST_THROW(Class, takesMessage) \
    if (index == i++) throw Make<qsVideoReader::Class, takesMessage>::make(message);
    MMTEST_READER_EXCEPTIONS(MMTEST_THROW)
#undef MMTEST_THROW
    throw std::logic_error("no reader exception number " + std::to_string(index));
}

}  // namespace mmtest
