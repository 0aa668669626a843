#pragma once
// The reader device and plugin information shared by every video-file reader
// plugin. A plugin is this design over one reader back end; what differs
// between back ends is gathered in a traits structure.
//
// Making a variant
// ----------------
// 1. Derive a traits structure from DefaultReaderTraits and give it:
//      kRegistryKey     the key of the plugin in the registry's priority table;
//      kReadFormats     the extensions read, lower case, no dot, in order
//                       (a `static constexpr const char* kReadFormats[]`);
//      createReader()   the back end's factory (a new reader, or a reader exception);
//      OpenFailures     the CatchList for failures of the device's open step;
//      ProbeFailures    the CatchList for failures of validateReadFile;
//      kStartPolicy     how start() positions the reader and reports failure:
//                         StartPolicy::Silent   seekToTime("ReadPosition", default 0.0);
//                                               a std::exception only clears `running`;
//                         StartPolicy::Throwing seekToTime as above, failures pass to the host;
//                         StartPolicy::Posted   "ReadPosition" absent or -100.0 starts from the
//                                               beginning, else seeks; failures are posted as
//                                               messages through StartFailures;
//      kCloseOnDestroy  whether the device closes its reader when destroyed.
//    Optional hooks (DefaultReaderTraits has the common behaviour):
//      State                       extra per-device fields (e.g. a remembered file name);
//      rememberFileName(state, f)  called with "Filename" before the open step;
//      afterOpen(reader, state)    extra open steps, inside the open step's guard;
//      publishPixelFormat(reader, outputs, host)  "BitsPerPixel" and "VideoFormat";
//      finishInitialize(reader, fileName, outputs)  the last step, normally "IsPluginSuccess" = true;
//      frameDataType(state), bytesPerSample(state)  the sample type and width of frames.
// 2. Name the classes the host sees:
//      namespace myreader {
//      class Device final : public ReaderDevice<MyTraits> { using ReaderDevice::ReaderDevice; };
//      class PluginInfo final : public ReaderPluginInfo<MyTraits> {};
//      }
// 3. Export the entry points once, in one source file of the plugin:
//      MM_READER_PLUGIN_ENTRY_POINTS(myreader::Device, myreader::PluginInfo)
//    (plugins/kit/entrypoints.hpp) and link the plugin with mm_plugin_kit.
//
// A device without an opened reader (no initialize yet, a failed factory or a
// failed open) never drives one: start is a failed positioning under each
// policy (a reader ReadFailedException, silent, thrown or posted as
// "ReadFailed") and getData answers null and clears `running`.
//
// Ownership: output properties, posted messages and delivered frames belong to
// the host; the device owns its reader through a shared pointer.
// Threads: only `running` is shared; stop() may come from another thread than
// the one that polls isDataAvailable(). Nothing else is locked.

#include <common/avbuffer/blocksize.hpp>
#include <common/avbuffer/datatypes.hpp>
#include <common/exceptions/exceptions.hpp>
#include <plugins/kit/catchlist.hpp>
#include <plugins/kit/interfaces.hpp>
#include <plugins/kit/plugininfo.hpp>
#include <plugins/kit/properties.hpp>
#include <plugins/kit/reporterror.hpp>
#include <plugins/kit/videoframe.hpp>
#include <videoreader/ivideoreader.hpp>

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace asyncioplugin {
namespace kit {
namespace device {

enum class StartPolicy { Silent, Throwing, Posted };

// Sentinel of "ReadPosition" meaning "no start time" (Posted policy).
inline constexpr double kNoReadPosition = -100.0;

// The property publication every reader device shares.
inline void publishBitsPerPixel(qsVideoReader::IVideoReader& reader, interfaces::PropertyList& outputs) {
    publish<double>(outputs, "BitsPerPixel", static_cast<double>(reader.getBitsPerPixel()));
}

inline void publishVideoFormat(qsVideoReader::IVideoReader& reader, interfaces::PropertyList& outputs) {
    publish<std::u16string>(outputs, "VideoFormat", reader.getVideoFormat());
}

struct DefaultReaderTraits {
    struct State {};

    static constexpr StartPolicy kStartPolicy = StartPolicy::Silent;
    static constexpr bool kCloseOnDestroy = true;

    // Failures of a Posted start.
    using StartFailures =
        CatchList<Becomes<qsVideoReader::SeekFailedException, multimedia::common::exceptions::SeekFailedException>,
                  Otherwise<multimedia::common::exceptions::ReadFailedException>>;

    template <class S>
    static void rememberFileName(S&, const std::u16string&) {}

    template <class S>
    static void afterOpen(qsVideoReader::IVideoReader&, S&) {}

    static void publishPixelFormat(qsVideoReader::IVideoReader& reader, interfaces::PropertyList& outputs,
                                   interfaces::device::IDeviceHost*) {
        publishBitsPerPixel(reader, outputs);
        publishVideoFormat(reader, outputs);
    }

    static void finishInitialize(qsVideoReader::IVideoReader&, const std::u16string&,
                                 interfaces::PropertyList& outputs) {
        publish<bool>(outputs, "IsPluginSuccess", true);
    }

    template <class S>
    static multimedia::common::avbuffer::VideoDataType frameDataType(const S&) {
        return multimedia::common::avbuffer::VIDEO_UINT8;
    }

    template <class S>
    static std::size_t bytesPerSample(const S&) {
        return 1;
    }
};

// Frames larger than this cannot be real: no process here can map more.
inline constexpr std::size_t kMaxFrameBytes = multimedia::common::avbuffer::kMaxBlockBytes;

// width x height x channels x bytes per sample, or throws std::bad_array_new_length
// when the product overflows or exceeds kMaxFrameBytes (a reader reporting
// nonsense sizes must not lead to a buffer smaller than what readFrame writes).
inline std::size_t frameBytes(std::size_t width, std::size_t height, std::size_t channels,
                              std::size_t bytesPerSample) {
    std::uint64_t size = 0;
    if (!multimedia::common::avbuffer::blockBytes(size, width, height, channels, bytesPerSample)) {
        throw std::bad_array_new_length();
    }
    return size;
}

template <class Traits>
class ReaderDevice : public interfaces::device::IControl,
                     public interfaces::device::IDataSource,
                     public interfaces::device::IDataSourcePolling {
public:
    using IDeviceHost = interfaces::device::IDeviceHost;
    using PropertyList = interfaces::PropertyList;

    explicit ReaderDevice(IDeviceHost* deviceHost) : host(deviceHost) {}
    ReaderDevice(const ReaderDevice&) = delete;
    ReaderDevice& operator=(const ReaderDevice&) = delete;

    ~ReaderDevice() override {
        if (Traits::kCloseOnDestroy && reader && opened) {
            try {
                reader->close();
            } catch (...) {
                // Destruction goes on whatever the back end says.
            }
        }
    }

    // --- IControl, slots 0 to 8 ---

    void initialize(const PropertyList& inputs, PropertyList& outputs) override {
        const std::u16string fileName = scalarOr<std::u16string>(inputs, "Filename", std::u16string());
        const bool errorOnInitFail = scalarOr<bool>(inputs, "IsErrorOnInitFail", true);
        Traits::rememberFileName(state, fileName);

        opened = false;
        std::exception_ptr failure;
        try {
            // The previous reader goes first: a failed re-open must not leave
            // the device able to deliver frames of the previous file.
            reader.reset();
            reader.reset(Traits::createReader());
            if (!reader) throw qsVideoReader::InitializationFailedException();
            reader->open(fileName, false);
            Traits::afterOpen(*reader, state);
        } catch (...) {
            failure = std::current_exception();
        }
        postReaderWarnings();
        if (failure) {
            Traits::OpenFailures::translate(failure, [&](const multimedia::common::exceptions::Exception& reported) {
                if (errorOnInitFail) {
                    reportError(reported, host);
                } else {
                    publish<bool>(outputs, "IsPluginSuccess", false);
                }
            });
            return;
        }
        opened = true;

        // Each getter runs right before its property is published; a getter's
        // exception leaves initialize with what was published so far.
        qsVideoReader::IVideoReader& r = *reader;
        publish<double>(outputs, "Height", static_cast<double>(r.getHeight()));
        publish<double>(outputs, "Width", static_cast<double>(r.getWidth()));
        publish<double>(outputs, "FrameRate", r.getFrameRate());
        publish<double>(outputs, "Duration", r.getDuration());
        Traits::publishPixelFormat(r, outputs, host);
        publish<std::u16string>(outputs, "VideoCodec", r.getVideoCodec());
        publish<std::u16string>(outputs, "AudioCodec", r.getAudioCodec());
        publish<double>(outputs, "NumAudioChannels", r.getNumAudioChannels());
        publish<double>(outputs, "NumColorChannels", static_cast<double>(r.getNumColorChannels()));
        publish<bool>(outputs, "HasAudio", r.hasAudio());
        publish<bool>(outputs, "HasVideo", r.hasVideo());
        Traits::finishInitialize(r, fileName, outputs);
    }

    interfaces::device::IDataSource* getDataSource() override { return this; }

    interfaces::device::IDataSink* getDataSink() override { return nullptr; }

    void start(const PropertyList& inputs) override {
        if constexpr (Traits::kStartPolicy == StartPolicy::Posted) {
            outputRowMajorInterleaved = scalarOr<bool>(inputs, "IsOutputRowMajorInterleaved", false);
            const double position = scalarOr<double>(inputs, "ReadPosition", kNoReadPosition);
            std::exception_ptr failure;
            try {
                requireOpenReader();
                if (position != kNoReadPosition) {
                    reader->seekToTime(position);
                } else {
                    reader->startFromBeginning();
                }
                running.store(true);
            } catch (...) {
                failure = std::current_exception();
            }
            if (failure) {
                running.store(false);
                Traits::StartFailures::translate(
                    failure, [&](const multimedia::common::exceptions::Exception& reported) {
                        reportError(reported, host);
                    });
            }
        } else {
            const double position = scalarOr<double>(inputs, "ReadPosition", 0.0);
            outputRowMajorInterleaved = scalarOr<bool>(inputs, "IsOutputRowMajorInterleaved", false);
            if constexpr (Traits::kStartPolicy == StartPolicy::Silent) {
                try {
                    requireOpenReader();
                    reader->seekToTime(position);
                    running.store(true);
                } catch (const std::exception&) {
                    running.store(false);
                }
            } else {
                requireOpenReader();
                reader->seekToTime(position);
                running.store(true);
            }
        }
    }

    void pause() override {}

    void stop() override { running.store(false); }

    void destroy() override { delete this; }

    // --- IDataSource and IDataSourcePolling overriders, in primary-table order ---

    bool isDone() override { return !running.load(); }

    interfaces::device::IDataSourcePolling* getDataSourcePolling() override { return this; }

    double getPollingPeriod() override { return 0.0; }

    bool isDataAvailable() override { return running.load(); }

    interfaces::IDataBuffer* getData() override {
        if (!reader || !opened) {
            running.store(false);
            return nullptr;
        }
        qsVideoReader::IVideoReader& r = *reader;
        const std::size_t width = r.getWidth();
        const std::size_t height = r.getHeight();
        const std::size_t channels = r.getNumColorChannels();
        const std::size_t size = frameBytes(width, height, channels, Traits::bytesPerSample(state));

        std::unique_ptr<video::VideoFrame> frame(new video::VideoFrame());
        frame->isRowMajorInterleaved = outputRowMajorInterleaved;
        frame->buffer = new multimedia::common::avbuffer::VideoDataBuffer(size, height, width,
                                                                         Traits::frameDataType(state), channels);
        bool readThrew = false;
        try {
            r.readFrame(outputRowMajorInterleaved, frame->buffer->data);
        } catch (...) {
            readThrew = true;
        }
        postReaderWarnings();
        // A read that threw is a failed read like one the reader marks: the
        // frame goes out with an infinite time and delivery ends with it.
        if (readThrew) {
            frame->timestamp = std::numeric_limits<double>::infinity();
        } else {
            frame->timestamp = r.getCurrentTime();
            if (r.isEndOfStream()) {
                running.store(false);
                return nullptr;  // the unique_ptr releases the unused frame
            }
        }
        if (video::isFailedFrameTime(frame->timestamp)) {
            // Never hand out memory the reader did not fill.
            std::memset(frame->buffer->data, 0, size);
            running.store(false);
        }
        return frame.release();
    }

protected:
    // Hands what the reader had to say (see IReaderWarnings) to the host.
    void postReaderWarnings() {
        auto* warnings = dynamic_cast<qsVideoReader::IReaderWarnings*>(reader.get());
        if (warnings == nullptr) return;
        try {
            for (const qsVideoReader::ReaderWarning& w : warnings->takeWarnings()) {
                reportWarning(w.kind, w.text, host);
            }
        } catch (...) {
            // A warning that cannot be delivered must not fail the frame.
        }
    }

    // A device without an opened reader treats positioning as a failed read.
    void requireOpenReader() {
        if (!reader || !opened) throw qsVideoReader::ReadFailedException();
    }

    IDeviceHost* host;
    typename Traits::State state{};
    std::atomic<bool> running{false};
    std::shared_ptr<qsVideoReader::IVideoReader> reader;
    bool opened = false;  // the last initialize opened `reader`
    bool outputRowMajorInterleaved = false;
};

template <class Traits>
class ReaderPluginInfo : public multimedia::common::avfileio::IPluginInfo {
public:
    multimedia::PluginInfo::PluginPriority getPriority() override {
        auto table = multimedia::PluginInfo::getVideoPluginInfoMap();
        return table[Traits::kRegistryKey];
    }

    void validateReadFile(const std::u16string& fileName) override {
        std::exception_ptr failure;
        try {
            std::shared_ptr<qsVideoReader::IVideoReader> probe(Traits::createReader());
            if (!probe) throw qsVideoReader::InitializationFailedException();
            probe->open(fileName, false);
            probe->close();
        } catch (...) {
            failure = std::current_exception();
        }
        // The probe is gone before the mapped exception leaves.
        if (failure) {
            Traits::ProbeFailures::translate(failure, [](const auto& reported) { throw reported; });
        }
    }

    void validateWriteFile(const std::u16string&) override {
        throw multimedia::common::exceptions::WriteNotSupportedException();
    }

    std::vector<multimedia::common::avfileio::FormatInfo> getReadFormats() override {
        std::vector<multimedia::common::avfileio::FormatInfo> formats;
        for (const char* extension : Traits::kReadFormats) formats.emplace_back(extension);
        return formats;
    }

    std::vector<multimedia::common::avfileio::FormatInfo> getWriteFormats() override { return {}; }
};

}  // namespace device
}  // namespace kit
}  // namespace asyncioplugin
