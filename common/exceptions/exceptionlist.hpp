#pragma once
// The common exception classes, as one X-macro list: X(Stem, kindName,
// takesMessage) stands for the class Stem##Exception, whose failure-kind
// name is `kindName` (the stem, except for ColorspaceConversion, whose kind is
// spelt "ColorSpaceConversion") and whose constructor takes a message when
// takesMessage is true. The
// declarations, the definitions and every test that walks the family are
// made from this list.

#define MM_COMMON_EXCEPTIONS(X) \
    X(PluginNotLoaded, "PluginNotLoaded", true) \
    X(PluginRequirement, "PluginRequirement", true) \
    X(InitializationFailed, "InitializationFailed", false) \
    X(BadGraphicsCardDetected, "BadGraphicsCardDetected", false) \
    X(ReadCancelled, "ReadCancelled", false) \
    X(ReadFailed, "ReadFailed", false) \
    X(Unexpected, "Unexpected", true) \
    X(UnexpectedWarning, "UnexpectedWarning", true) \
    X(FilePermissionDenied, "FilePermissionDenied", false) \
    X(FileRenamed, "FileRenamed", false) \
    X(FileNotFound, "FileNotFound", false) \
    X(FileCorrupt, "FileCorrupt", false) \
    X(FileTypeNotSupported, "FileTypeNotSupported", false) \
    X(CodecNotFound, "CodecNotFound", true) \
    X(UnknownCodec, "UnknownCodec", false) \
    X(NoAudio, "NoAudio", false) \
    X(NoVideo, "NoVideo", false) \
    X(NoVideoOrAudio, "NoVideoOrAudio", false) \
    X(DurationNotSupported, "DurationNotSupported", false) \
    X(SeekFailed, "SeekFailed", false) \
    X(StreamFormatChanged, "StreamFormatChanged", false) \
    X(ReadNotSupported, "ReadNotSupported", false) \
    X(WriteNotSupported, "WriteNotSupported", false) \
    X(ReadTimeout, "ReadTimeout", false) \
    X(NonAsciiUnsupported, "NonAsciiUnsupported", true) \
    X(URLsNotSupported, "URLsNotSupported", false) \
    X(WavSizeLimit, "WavSizeLimit", false) \
    X(MetadataReadFailed, "MetadataReadFailed", true) \
    X(MetadataWriteFailed, "MetadataWriteFailed", true) \
    X(NonAsciiMetadataForWav, "NonAsciiMetadataForWav", true) \
    X(UnsupportedSampleRate, "UnsupportedSampleRate", false) \
    X(UnsupportedBitRate, "UnsupportedBitRate", false) \
    X(UnsupportedOutputChannels, "UnsupportedOutputChannels", false) \
    X(Mpeg4MinNumberOfSamplesRequired, "Mpeg4MinNumberOfSamplesRequired", false) \
    X(AudioPropertyUnavailable, "AudioPropertyUnavailable", true) \
    X(MaxFlacSampleRate, "MaxFlacSampleRate", true) \
    X(MinOggSampleRate, "MinOggSampleRate", true) \
    X(UnsupportedOpusSampleRate, "UnsupportedOpusSampleRate", false) \
    X(UnsupportedMP3SampleRate, "UnsupportedMP3SampleRate", false) \
    X(ColorspaceConversion, "ColorSpaceConversion", false) \
    X(BitDepth, "BitDepth", false) \
    X(VideoPropertyUnavailable, "VideoPropertyUnavailable", true)
