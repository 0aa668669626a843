#pragma once
// The Motion-JPEG AVI reader plugin: the shared reader device over the reader
// of mjpegavidecoder. It reads "avi", ranks under the registry key
// "MotionJpegAvi", seeks to "ReadPosition" on start and fails silently there
// (only `running` stays false), and ends initialize with the palette step:
// for an 8-bit uncompressed file the AVI library's colormap is published as
// "Colormap" (red, green, blue bytes per entry) and "NumColormapEntries".

#include <plugins/kit/readerdevice.hpp>

namespace mjpegavireader {

namespace kit = asyncioplugin::kit::device;
namespace ex = multimedia::common::exceptions;

struct MjpegAviTraits : kit::DefaultReaderTraits {
    static constexpr const char* kRegistryKey = multimedia::PluginInfo::kMotionJpegAviKey;
    static constexpr const char* kReadFormats[] = {"avi"};
    static constexpr kit::StartPolicy kStartPolicy = kit::StartPolicy::Silent;
    static constexpr bool kCloseOnDestroy = true;

    // The same list serves the device's open step and the file probe.
    using OpenFailures = kit::CatchList<
        kit::Becomes<qsVideoReader::InitializationFailedException, ex::InitializationFailedException>,
        kit::Becomes<qsVideoReader::NoVideoException, ex::NoVideoException>,
        kit::WithMessage<qsVideoReader::PluginRequirementException, ex::PluginRequirementException>,
        kit::WithMessage<qsVideoReader::UnexpectedException, ex::UnexpectedException>,
        kit::Otherwise<ex::ReadFailedException>>;
    using ProbeFailures = OpenFailures;

    static qsVideoReader::IVideoReader* createReader();

    // The palette step, then "IsPluginSuccess" = true, in one guarded block:
    // the palette comes from the file the reader opened (one open and parse
    // per device); any failure inside leaves both out and posts nothing.
    static void finishInitialize(qsVideoReader::IVideoReader& reader, const std::u16string& fileName,
                                 asyncioplugin::interfaces::PropertyList& outputs);
};

class Device final : public kit::ReaderDevice<MjpegAviTraits> {
public:
    using ReaderDevice::ReaderDevice;
};

class PluginInfo final : public kit::ReaderPluginInfo<MjpegAviTraits> {};

}  // namespace mjpegavireader
