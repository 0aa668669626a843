#include <common/exceptions/exceptions.hpp>

#include <platform/i18n/i18n.hpp>

#include <utility>

namespace multimedia {
namespace common {
namespace exceptions {

Exception::Exception(std::string name, std::string message)
    : std::runtime_error(message), name_(std::move(name)) {}

Exception::~Exception() = default;

const char* Exception::name() const { return name_.c_str(); }

const char* Exception::what() const noexcept {
    const char* raw = std::runtime_error::what();
    try {
        // Empty text needs no conversion (and the converters are not called
        // for it).
        if (*raw == '\0') {
            display_.clear();
        } else {
            display_ = vq::i18n::ustring_to_utf8(vq::i18n::to_ustring(raw));
        }
        return display_.c_str();
    } catch (...) {
        // what() must not throw: if the conversion runs out of memory, the
        // raw message (UTF-8 already for every message this system builds)
        // is the best answer left.
        return raw;
    }
}

PluginNotLoadedException::PluginNotLoadedException(std::string message) : Exception("PluginNotLoaded", std::move(message)) {}
PluginNotLoadedException::~PluginNotLoadedException() = default;

PluginRequirementException::PluginRequirementException(std::string message) : Exception("PluginRequirement", std::move(message)) {}
PluginRequirementException::~PluginRequirementException() = default;

InitializationFailedException::InitializationFailedException() : Exception("InitializationFailed", std::string()) {}
InitializationFailedException::~InitializationFailedException() = default;

BadGraphicsCardDetectedException::BadGraphicsCardDetectedException() : Exception("BadGraphicsCardDetected", std::string()) {}
BadGraphicsCardDetectedException::~BadGraphicsCardDetectedException() = default;

ReadCancelledException::ReadCancelledException() : Exception("ReadCancelled", std::string()) {}
ReadCancelledException::~ReadCancelledException() = default;

ReadFailedException::ReadFailedException() : Exception("ReadFailed", std::string()) {}
ReadFailedException::~ReadFailedException() = default;

UnexpectedException::UnexpectedException(std::string message) : Exception("Unexpected", std::move(message)) {}
UnexpectedException::~UnexpectedException() = default;

UnexpectedWarningException::UnexpectedWarningException(std::string message) : Exception("UnexpectedWarning", std::move(message)) {}
UnexpectedWarningException::~UnexpectedWarningException() = default;

FilePermissionDeniedException::FilePermissionDeniedException() : Exception("FilePermissionDenied", std::string()) {}
FilePermissionDeniedException::~FilePermissionDeniedException() = default;

FileRenamedException::FileRenamedException() : Exception("FileRenamed", std::string()) {}
FileRenamedException::~FileRenamedException() = default;

FileNotFoundException::FileNotFoundException() : Exception("FileNotFound", std::string()) {}
FileNotFoundException::~FileNotFoundException() = default;

FileCorruptException::FileCorruptException() : Exception("FileCorrupt", std::string()) {}
FileCorruptException::~FileCorruptException() = default;

FileTypeNotSupportedException::FileTypeNotSupportedException() : Exception("FileTypeNotSupported", std::string()) {}
FileTypeNotSupportedException::~FileTypeNotSupportedException() = default;

CodecNotFoundException::CodecNotFoundException(std::string message) : Exception("CodecNotFound", std::move(message)) {}
CodecNotFoundException::~CodecNotFoundException() = default;

UnknownCodecException::UnknownCodecException() : Exception("UnknownCodec", std::string()) {}
UnknownCodecException::~UnknownCodecException() = default;

NoAudioException::NoAudioException() : Exception("NoAudio", std::string()) {}
NoAudioException::~NoAudioException() = default;

NoVideoException::NoVideoException() : Exception("NoVideo", std::string()) {}
NoVideoException::~NoVideoException() = default;

NoVideoOrAudioException::NoVideoOrAudioException() : Exception("NoVideoOrAudio", std::string()) {}
NoVideoOrAudioException::~NoVideoOrAudioException() = default;

DurationNotSupportedException::DurationNotSupportedException() : Exception("DurationNotSupported", std::string()) {}
DurationNotSupportedException::~DurationNotSupportedException() = default;

SeekFailedException::SeekFailedException() : Exception("SeekFailed", std::string()) {}
SeekFailedException::~SeekFailedException() = default;

StreamFormatChangedException::StreamFormatChangedException() : Exception("StreamFormatChanged", std::string()) {}
StreamFormatChangedException::~StreamFormatChangedException() = default;

ReadNotSupportedException::ReadNotSupportedException() : Exception("ReadNotSupported", std::string()) {}
ReadNotSupportedException::~ReadNotSupportedException() = default;

WriteNotSupportedException::WriteNotSupportedException() : Exception("WriteNotSupported", std::string()) {}
WriteNotSupportedException::~WriteNotSupportedException() = default;

ReadTimeoutException::ReadTimeoutException() : Exception("ReadTimeout", std::string()) {}
ReadTimeoutException::~ReadTimeoutException() = default;

NonAsciiUnsupportedException::NonAsciiUnsupportedException(std::string message) : Exception("NonAsciiUnsupported", std::move(message)) {}
NonAsciiUnsupportedException::~NonAsciiUnsupportedException() = default;

URLsNotSupportedException::URLsNotSupportedException() : Exception("URLsNotSupported", std::string()) {}
URLsNotSupportedException::~URLsNotSupportedException() = default;

WavSizeLimitException::WavSizeLimitException() : Exception("WavSizeLimit", std::string()) {}
WavSizeLimitException::~WavSizeLimitException() = default;

MetadataReadFailedException::MetadataReadFailedException(std::string message) : Exception("MetadataReadFailed", std::move(message)) {}
MetadataReadFailedException::~MetadataReadFailedException() = default;

MetadataWriteFailedException::MetadataWriteFailedException(std::string message) : Exception("MetadataWriteFailed", std::move(message)) {}
MetadataWriteFailedException::~MetadataWriteFailedException() = default;

NonAsciiMetadataForWavException::NonAsciiMetadataForWavException(std::string message) : Exception("NonAsciiMetadataForWav", std::move(message)) {}
NonAsciiMetadataForWavException::~NonAsciiMetadataForWavException() = default;

UnsupportedSampleRateException::UnsupportedSampleRateException() : Exception("UnsupportedSampleRate", std::string()) {}
UnsupportedSampleRateException::~UnsupportedSampleRateException() = default;

UnsupportedBitRateException::UnsupportedBitRateException() : Exception("UnsupportedBitRate", std::string()) {}
UnsupportedBitRateException::~UnsupportedBitRateException() = default;

UnsupportedOutputChannelsException::UnsupportedOutputChannelsException() : Exception("UnsupportedOutputChannels", std::string()) {}
UnsupportedOutputChannelsException::~UnsupportedOutputChannelsException() = default;

Mpeg4MinNumberOfSamplesRequiredException::Mpeg4MinNumberOfSamplesRequiredException() : Exception("Mpeg4MinNumberOfSamplesRequired", std::string()) {}
Mpeg4MinNumberOfSamplesRequiredException::~Mpeg4MinNumberOfSamplesRequiredException() = default;

AudioPropertyUnavailableException::AudioPropertyUnavailableException(std::string message) : Exception("AudioPropertyUnavailable", std::move(message)) {}
AudioPropertyUnavailableException::~AudioPropertyUnavailableException() = default;

MaxFlacSampleRateException::MaxFlacSampleRateException(std::string message) : Exception("MaxFlacSampleRate", std::move(message)) {}
MaxFlacSampleRateException::~MaxFlacSampleRateException() = default;

MinOggSampleRateException::MinOggSampleRateException(std::string message) : Exception("MinOggSampleRate", std::move(message)) {}
MinOggSampleRateException::~MinOggSampleRateException() = default;

UnsupportedOpusSampleRateException::UnsupportedOpusSampleRateException() : Exception("UnsupportedOpusSampleRate", std::string()) {}
UnsupportedOpusSampleRateException::~UnsupportedOpusSampleRateException() = default;

UnsupportedMP3SampleRateException::UnsupportedMP3SampleRateException() : Exception("UnsupportedMP3SampleRate", std::string()) {}
UnsupportedMP3SampleRateException::~UnsupportedMP3SampleRateException() = default;

ColorspaceConversionException::ColorspaceConversionException() : Exception("ColorSpaceConversion", std::string()) {}
ColorspaceConversionException::~ColorspaceConversionException() = default;

BitDepthException::BitDepthException() : Exception("BitDepth", std::string()) {}
BitDepthException::~BitDepthException() = default;

VideoPropertyUnavailableException::VideoPropertyUnavailableException(std::string message) : Exception("VideoPropertyUnavailable", std::move(message)) {}
VideoPropertyUnavailableException::~VideoPropertyUnavailableException() = default;

}  // namespace exceptions
}  // namespace common
}  // namespace multimedia
