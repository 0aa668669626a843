#pragma once
// The last leg of the reference host's frame path: every delivered frame goes
// through the video converter plugin (videoflowconverter, loaded with dlopen)
// and the host reads the pixels from the converter's value list, exactly as
// the block-diagram environment receives them.
//
// Defined in this header so that any host-side program (mmtool, tests) gets
// it with the host library's headers; it needs only dlopen.

#include <common/avbuffer/datatypes.hpp>
#include <converters/iconverter.hpp>
#include <host/lib/pluginhost.hpp>

#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace mmhost {

// One frame as the flow model sees it: the five values of the converter's list
// taken apart, and the pixel block, now the host's.
struct FlowFrame {
    // Allocated by the device with array new; released here with array delete.
    std::unique_ptr<unsigned char[]> pixels;
    // The list marks a failed read by an int 0 in place of the height.
    bool failed = false;
    unsigned long height = 0;  // 0 for a failed frame
    unsigned long width = 0;
    unsigned long channels = 0;
    multimedia::common::avbuffer::VideoDataType dataType{};
    // Not part of the list: the size of the block the device allocated, read
    // from the frame before it was converted. Bounds every read of `pixels`.
    std::uint64_t blockBytes = 0;
    // Also not part of the list: the frame's time, for reports.
    double timestamp = 0.0;

    // The five values as the list holds them, e.g.
    // "block=0x5581e0 height=48 width=64 channels=3 type=3"; a failed frame
    // shows "height=(int)0".
    std::string describe() const;
};

class FlowConverter {
public:
    // Loads libvideoflowconverter.so from `directory` (the folder the reader
    // plugins come from) and creates its converter. Throws HostError when the
    // library, its entry point or the converter is missing, or when it was
    // built for another interface version.
    static std::unique_ptr<FlowConverter> load(const std::string& directory);
    ~FlowConverter();

    FlowConverter(const FlowConverter&) = delete;
    FlowConverter& operator=(const FlowConverter&) = delete;

    // Passes a delivered buffer through the converter and releases it. Null
    // (no value) when the converter does not take the buffer (not a frame, a
    // frame without pixels); the buffer is released all the same. Throws
    // HostError when the converter's list is not the five-value form.
    std::optional<FlowFrame> convert(BufferPtr buffer);

    asyncioplugin::interfaces::converter::IConverter& converter() { return *converter_; }

private:
    FlowConverter(void* handle, asyncioplugin::interfaces::converter::IConverter* converter)
        : handle_(handle), converter_(converter) {}

    void* handle_;
    asyncioplugin::interfaces::converter::IConverter* converter_;
};

// ---------------------------------------------------------------------------

inline std::string FlowFrame::describe() const {
    char text[160];
    const std::string height = failed ? std::string("(int)0") : std::to_string(this->height);
    std::snprintf(text, sizeof text, "block=%p height=%s width=%lu channels=%lu type=%d",
                  static_cast<const void*>(pixels.get()), height.c_str(), width, channels,
                  static_cast<int>(dataType));
    return text;
}

inline std::unique_ptr<FlowConverter> FlowConverter::load(const std::string& directory) {
    const std::string path = directory + "/libvideoflowconverter.so";
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        throw HostError("cannot load " + path + ": " + (why != nullptr ? why : "unknown error"));
    }
    try {
        requireInterfaceVersion(handle, path);
    } catch (...) {
        dlclose(handle);
        throw;
    }
    auto create = reinterpret_cast<asyncioplugin::interfaces::converter::CreateConverterFn>(
        dlsym(handle, "createConverter"));
    asyncioplugin::interfaces::converter::IConverter* converter = nullptr;
    if (create == nullptr || create(&converter) != 1 || converter == nullptr) {
        dlclose(handle);
        throw HostError(path + " does not hand out a converter");
    }
    return std::unique_ptr<FlowConverter>(new FlowConverter(handle, converter));
}

inline FlowConverter::~FlowConverter() {
    converter_->destroy();
    dlclose(handle_);
}

inline std::optional<FlowFrame> FlowConverter::convert(BufferPtr buffer) {
    using multimedia::common::avbuffer::VideoDataType;
    FlowFrame frame;
    if (const video::VideoFrame* delivered = asFrame(buffer)) {
        frame.timestamp = delivered->timestamp;
        if (delivered->buffer != nullptr) frame.blockBytes = delivered->buffer->sizeInBytes;
    }
    std::unique_ptr<std::vector<boost::any>> values(converter_->toFlowmodelData(buffer.get()));
    buffer.reset();
    if (!values) return std::nullopt;

    // Whatever else the list holds, a block in its first place is ours now.
    if (!values->empty()) {
        if (auto* const* block = boost::any_cast<unsigned char*>(&(*values)[0])) {
            frame.pixels.reset(*block);
        }
    }
    const auto* height = values->size() == 5 ? boost::any_cast<unsigned long>(&(*values)[1]) : nullptr;
    const auto* mark = values->size() == 5 ? boost::any_cast<int>(&(*values)[1]) : nullptr;
    const auto* width = values->size() == 5 ? boost::any_cast<unsigned long>(&(*values)[2]) : nullptr;
    const auto* channels = values->size() == 5 ? boost::any_cast<unsigned long>(&(*values)[3]) : nullptr;
    const auto* type = values->size() == 5 ? boost::any_cast<VideoDataType>(&(*values)[4]) : nullptr;
    if (!frame.pixels || (height == nullptr && (mark == nullptr || *mark != 0)) || width == nullptr ||
        channels == nullptr || type == nullptr) {
        throw HostError("the video converter answered a list that is not a frame");
    }
    frame.failed = height == nullptr;
    frame.height = height != nullptr ? *height : 0;
    frame.width = *width;
    frame.channels = *channels;
    frame.dataType = *type;
    return frame;
}

}  // namespace mmhost
