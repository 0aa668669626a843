#pragma once
// The exception family every video reader back end throws. Each class is a
// std::runtime_error holding one message and nothing else; the type
// information is exported so plugins catch them by type across libraries.

#include <common/export.hpp>

#include <stdexcept>
#include <string>

namespace qsVideoReader {

class MM_EXPORT VideoReaderException : public std::runtime_error {
public:
    explicit VideoReaderException(const std::string& message) : std::runtime_error(message) {}
};

class MM_EXPORT ReadFailedException : public VideoReaderException {
public:
    ReadFailedException() : VideoReaderException("ReadFailed") {}
};

class MM_EXPORT SeekFailedException : public VideoReaderException {
public:
    SeekFailedException() : VideoReaderException("SeekFailed") {}
};

class MM_EXPORT InitializationFailedException : public VideoReaderException {
public:
    InitializationFailedException() : VideoReaderException("InitializationFailed") {}
};

class MM_EXPORT UnexpectedException : public VideoReaderException {
public:
    explicit UnexpectedException(std::string message) : VideoReaderException(message) {}
};

class MM_EXPORT PluginRequirementException : public VideoReaderException {
public:
    explicit PluginRequirementException(const std::string& message) : VideoReaderException(message) {}
};

// Thrown by the other back ends with a message of their own.
#define QS_VIDEOREADER_MESSAGE_EXCEPTION(Name)                                      \
    class MM_EXPORT Name : public VideoReaderException {                           \
    public:                                                                         \
        explicit Name(const std::string& message) : VideoReaderException(message) {} \
    }

QS_VIDEOREADER_MESSAGE_EXCEPTION(NoVideoException);
QS_VIDEOREADER_MESSAGE_EXCEPTION(NonAsciiUnsupportedException);
QS_VIDEOREADER_MESSAGE_EXCEPTION(BitDepthException);
QS_VIDEOREADER_MESSAGE_EXCEPTION(ColorspaceConversionException);
QS_VIDEOREADER_MESSAGE_EXCEPTION(FileCorruptException);
QS_VIDEOREADER_MESSAGE_EXCEPTION(FileNotFoundException);
QS_VIDEOREADER_MESSAGE_EXCEPTION(UnknownCodecException);

#undef QS_VIDEOREADER_MESSAGE_EXCEPTION

}  // namespace qsVideoReader
