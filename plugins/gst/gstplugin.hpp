#pragma once
// The GStreamer reader plugin: the shared reader device over GstReader. It
// reads "avi", "ogg" and "ogv", ranks under the registry key "Gstreamer",
// starts from the beginning unless a "ReadPosition" is given, and posts
// positioning failures to the host.

#include <plugins/kit/readerdevice.hpp>

namespace gstvideoreader {

namespace kit = asyncioplugin::kit::device;
namespace ex = multimedia::common::exceptions;

struct GstTraits : kit::DefaultReaderTraits {
    static constexpr const char* kRegistryKey = multimedia::PluginInfo::kGstreamerKey;
    static constexpr const char* kReadFormats[] = {"avi", "ogg", "ogv"};
    static constexpr kit::StartPolicy kStartPolicy = kit::StartPolicy::Posted;
    static constexpr bool kCloseOnDestroy = true;

    // The same list serves the device's open step and the file probe. A
    // video stream without a decoder here is reported with the codec's name.
    using OpenFailures = kit::CatchList<
        kit::WithMessage<qsVideoReader::PluginRequirementException, ex::PluginRequirementException>,
        kit::WithMessage<qsVideoReader::UnknownCodecException, ex::CodecNotFoundException>,
        kit::Becomes<qsVideoReader::InitializationFailedException, ex::InitializationFailedException>,
        kit::WithMessage<qsVideoReader::UnexpectedException, ex::UnexpectedException>,
        kit::Becomes<qsVideoReader::ReadFailedException, ex::ReadFailedException>,
        kit::Otherwise<ex::ReadFailedException>>;
    using ProbeFailures = OpenFailures;

    static qsVideoReader::IVideoReader* createReader();
};

class Device final : public kit::ReaderDevice<GstTraits> {
public:
    using ReaderDevice::ReaderDevice;
};

class PluginInfo final : public kit::ReaderPluginInfo<GstTraits> {};

}  // namespace gstvideoreader
