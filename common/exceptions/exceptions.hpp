#pragma once
// The exceptions with which multimedia components report failures. Every
// class carries a fixed failure-kind name (name(), e.g. "FileNotFound"),
// which plugins turn into the message identifier they post, and an optional
// free-text message (what(), in UTF-8).
//
// The classes cross shared-library boundaries: their destructors are defined
// in mmexceptions, which anchors the exported type information there, so a
// catch by type works in any library or plugin that links mmexceptions.

#include <common/export.hpp>

#include <stdexcept>
#include <string>

namespace multimedia {
namespace common {
namespace exceptions {

class MM_EXPORT Exception : public std::runtime_error {
public:
    // `message` becomes the raw std::runtime_error text; `name` is the
    // failure kind.
    Exception(std::string name, std::string message);
    ~Exception() override;

    // The failure-kind name; valid as long as the object lives.
    const char* name() const;

    // The message converted through UTF-16 to UTF-8. Each call repeats the
    // conversion and replaces the cached display string, so the pointer stays
    // valid until the next what() on this object or its destruction. Not to
    // be called on one object from two threads at once.
    const char* what() const noexcept override;

private:
    std::string name_;
    mutable std::string display_;
};

class MM_EXPORT PluginNotLoadedException : public Exception {
public:
    explicit PluginNotLoadedException(std::string message);
    ~PluginNotLoadedException() override;
};

class MM_EXPORT PluginRequirementException : public Exception {
public:
    explicit PluginRequirementException(std::string message);
    ~PluginRequirementException() override;
};

class MM_EXPORT InitializationFailedException : public Exception {
public:
    InitializationFailedException();
    ~InitializationFailedException() override;
};

class MM_EXPORT BadGraphicsCardDetectedException : public Exception {
public:
    BadGraphicsCardDetectedException();
    ~BadGraphicsCardDetectedException() override;
};

class MM_EXPORT ReadCancelledException : public Exception {
public:
    ReadCancelledException();
    ~ReadCancelledException() override;
};

class MM_EXPORT ReadFailedException : public Exception {
public:
    ReadFailedException();
    ~ReadFailedException() override;
};

class MM_EXPORT UnexpectedException : public Exception {
public:
    explicit UnexpectedException(std::string message);
    ~UnexpectedException() override;
};

class MM_EXPORT UnexpectedWarningException : public Exception {
public:
    explicit UnexpectedWarningException(std::string message);
    ~UnexpectedWarningException() override;
};

class MM_EXPORT FilePermissionDeniedException : public Exception {
public:
    FilePermissionDeniedException();
    ~FilePermissionDeniedException() override;
};

class MM_EXPORT FileRenamedException : public Exception {
public:
    FileRenamedException();
    ~FileRenamedException() override;
};

class MM_EXPORT FileNotFoundException : public Exception {
public:
    FileNotFoundException();
    ~FileNotFoundException() override;
};

class MM_EXPORT FileCorruptException : public Exception {
public:
    FileCorruptException();
    ~FileCorruptException() override;
};

class MM_EXPORT FileTypeNotSupportedException : public Exception {
public:
    FileTypeNotSupportedException();
    ~FileTypeNotSupportedException() override;
};

class MM_EXPORT CodecNotFoundException : public Exception {
public:
    explicit CodecNotFoundException(std::string message);
    ~CodecNotFoundException() override;
};

class MM_EXPORT UnknownCodecException : public Exception {
public:
    UnknownCodecException();
    ~UnknownCodecException() override;
};

class MM_EXPORT NoAudioException : public Exception {
public:
    NoAudioException();
    ~NoAudioException() override;
};

class MM_EXPORT NoVideoException : public Exception {
public:
    NoVideoException();
    ~NoVideoException() override;
};

class MM_EXPORT NoVideoOrAudioException : public Exception {
public:
    NoVideoOrAudioException();
    ~NoVideoOrAudioException() override;
};

class MM_EXPORT DurationNotSupportedException : public Exception {
public:
    DurationNotSupportedException();
    ~DurationNotSupportedException() override;
};

class MM_EXPORT SeekFailedException : public Exception {
public:
    SeekFailedException();
    ~SeekFailedException() override;
};

class MM_EXPORT StreamFormatChangedException : public Exception {
public:
    StreamFormatChangedException();
    ~StreamFormatChangedException() override;
};

class MM_EXPORT ReadNotSupportedException : public Exception {
public:
    ReadNotSupportedException();
    ~ReadNotSupportedException() override;
};

class MM_EXPORT WriteNotSupportedException : public Exception {
public:
    WriteNotSupportedException();
    ~WriteNotSupportedException() override;
};

class MM_EXPORT ReadTimeoutException : public Exception {
public:
    ReadTimeoutException();
    ~ReadTimeoutException() override;
};

class MM_EXPORT NonAsciiUnsupportedException : public Exception {
public:
    explicit NonAsciiUnsupportedException(std::string message);
    ~NonAsciiUnsupportedException() override;
};

class MM_EXPORT URLsNotSupportedException : public Exception {
public:
    URLsNotSupportedException();
    ~URLsNotSupportedException() override;
};

class MM_EXPORT WavSizeLimitException : public Exception {
public:
    WavSizeLimitException();
    ~WavSizeLimitException() override;
};

class MM_EXPORT MetadataReadFailedException : public Exception {
public:
    explicit MetadataReadFailedException(std::string message);
    ~MetadataReadFailedException() override;
};

class MM_EXPORT MetadataWriteFailedException : public Exception {
public:
    explicit MetadataWriteFailedException(std::string message);
    ~MetadataWriteFailedException() override;
};

class MM_EXPORT NonAsciiMetadataForWavException : public Exception {
public:
    explicit NonAsciiMetadataForWavException(std::string message);
    ~NonAsciiMetadataForWavException() override;
};

class MM_EXPORT UnsupportedSampleRateException : public Exception {
public:
    UnsupportedSampleRateException();
    ~UnsupportedSampleRateException() override;
};

class MM_EXPORT UnsupportedBitRateException : public Exception {
public:
    UnsupportedBitRateException();
    ~UnsupportedBitRateException() override;
};

class MM_EXPORT UnsupportedOutputChannelsException : public Exception {
public:
    UnsupportedOutputChannelsException();
    ~UnsupportedOutputChannelsException() override;
};

class MM_EXPORT Mpeg4MinNumberOfSamplesRequiredException : public Exception {
public:
    Mpeg4MinNumberOfSamplesRequiredException();
    ~Mpeg4MinNumberOfSamplesRequiredException() override;
};

class MM_EXPORT AudioPropertyUnavailableException : public Exception {
public:
    explicit AudioPropertyUnavailableException(std::string message);
    ~AudioPropertyUnavailableException() override;
};

class MM_EXPORT MaxFlacSampleRateException : public Exception {
public:
    explicit MaxFlacSampleRateException(std::string message);
    ~MaxFlacSampleRateException() override;
};

class MM_EXPORT MinOggSampleRateException : public Exception {
public:
    explicit MinOggSampleRateException(std::string message);
    ~MinOggSampleRateException() override;
};

class MM_EXPORT UnsupportedOpusSampleRateException : public Exception {
public:
    UnsupportedOpusSampleRateException();
    ~UnsupportedOpusSampleRateException() override;
};

class MM_EXPORT UnsupportedMP3SampleRateException : public Exception {
public:
    UnsupportedMP3SampleRateException();
    ~UnsupportedMP3SampleRateException() override;
};

class MM_EXPORT ColorspaceConversionException : public Exception {
public:
    ColorspaceConversionException();
    ~ColorspaceConversionException() override;
};

class MM_EXPORT BitDepthException : public Exception {
public:
    BitDepthException();
    ~BitDepthException() override;
};

class MM_EXPORT VideoPropertyUnavailableException : public Exception {
public:
    explicit VideoPropertyUnavailableException(std::string message);
    ~VideoPropertyUnavailableException() override;
};

}  // namespace exceptions
}  // namespace common
}  // namespace multimedia
