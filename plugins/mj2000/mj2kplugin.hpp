#pragma once
// The Motion JPEG 2000 reader plugin: the shared reader device over the
// mj2kdecoder reader. It reads "mj2", ranks under the registry key
// "MotionJpeg2000", takes the frames' sample type from the reader (so frames
// may carry 16-bit samples), reports an undeliverable bit depth without
// failing the open, and lets positioning failures of start pass to the host.

#include <plugins/kit/readerdevice.hpp>

#include <array>
#include <cstdint>
#include <string>

namespace mj2kreader {

namespace kit = asyncioplugin::kit::device;
namespace ex = multimedia::common::exceptions;
namespace vr = qsVideoReader;
using multimedia::common::avbuffer::VideoDataType;

// Sample type of a device that has not learnt one from its reader.
inline constexpr VideoDataType kDefaultDataType = static_cast<VideoDataType>(9);

// Video types 9 and 10 name no sample width (the buffer library's widths for
// those values are the audio types'): they get the widest width any type has,
// so a buffer is never smaller than what a reader writes.
inline constexpr std::size_t kWidestSample = 8;

struct Mj2kTraits : kit::DefaultReaderTraits {
    static constexpr const char* kRegistryKey = multimedia::PluginInfo::kMotionJpeg2000Key;
    static constexpr const char* kReadFormats[] = {"mj2"};
    static constexpr kit::StartPolicy kStartPolicy = kit::StartPolicy::Throwing;
    // The device only releases its reader; closing is the reader's destructor's job.
    static constexpr bool kCloseOnDestroy = false;

    using OpenFailures = kit::CatchList<
        kit::WithMessage<vr::NonAsciiUnsupportedException, ex::NonAsciiUnsupportedException>,
        kit::Becomes<vr::InitializationFailedException, ex::InitializationFailedException>,
        kit::Becomes<vr::NoVideoException, ex::NoVideoException>,
        kit::Becomes<vr::ColorspaceConversionException, ex::ColorspaceConversionException>,
        kit::Becomes<vr::VideoReaderException, ex::ReadFailedException>,
        kit::Otherwise<ex::ReadFailedException>>;

    using ProbeFailures = kit::CatchList<
        kit::Becomes<vr::InitializationFailedException, ex::InitializationFailedException>,
        kit::Becomes<vr::NoVideoException, ex::NoVideoException>,
        kit::Becomes<vr::FileNotFoundException, ex::FileNotFoundException>,
        kit::Becomes<vr::UnknownCodecException, ex::UnknownCodecException>,
        kit::WithMessage<vr::UnexpectedException, ex::UnexpectedException>,
        kit::Becomes<vr::ReadFailedException, ex::ReadFailedException>,
        kit::Becomes<vr::FileCorruptException, ex::FileCorruptException>,
        kit::Becomes<vr::VideoReaderException, ex::ReadFailedException>,
        kit::Otherwise<ex::ReadFailedException>>;

    // The device fields only this variant has.
    struct State {
        std::u16string fileName;
        VideoDataType dataType = kDefaultDataType;
    };

    static vr::IVideoReader* createReader();

    static void rememberFileName(State& state, const std::u16string& fileName) { state.fileName = fileName; }

    // Inside the open step's guard: the sample type, then the first frame.
    static void afterOpen(vr::IVideoReader& reader, State& state) {
        const VideoDataType type = reader.getVideoDataType();
        if (static_cast<std::uint32_t>(type) <= 10u) state.dataType = type;
        reader.seekToTime(0.0);
    }

    // A depth the reader cannot deliver is reported, whatever the host asked
    // for failed opens, and the rest of the properties still follow.
    static void publishPixelFormat(vr::IVideoReader& reader, asyncioplugin::interfaces::PropertyList& outputs,
                                   asyncioplugin::interfaces::device::IDeviceHost* host) {
        try {
            kit::publishBitsPerPixel(reader, outputs);
            kit::publishVideoFormat(reader, outputs);
        } catch (const vr::BitDepthException&) {
            kit::reportError(ex::BitDepthException(), host);
        }
    }

    static VideoDataType frameDataType(const State& state) { return state.dataType; }

    static std::size_t bytesPerSample(const State& state) {
        const auto type = static_cast<std::int32_t>(state.dataType);
        return type >= 0 && type <= multimedia::common::avbuffer::VIDEO_BOOL
                   ? multimedia::common::avbuffer::sampleBytes(type)
                   : kWidestSample;
    }
};

class Device final : public kit::ReaderDevice<Mj2kTraits> {
public:
    using ReaderDevice::ReaderDevice;

    // What tests and diagnostics may look at.
    const std::u16string& fileName() const { return state.fileName; }
    VideoDataType dataType() const { return state.dataType; }
};

class PluginInfo final : public kit::ReaderPluginInfo<Mj2kTraits> {};

}  // namespace mj2kreader
