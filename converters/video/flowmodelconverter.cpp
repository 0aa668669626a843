#include <converters/video/flowmodelconverter.hpp>

#include <converters/propertyvalues.hpp>
#include <plugins/kit/videoframe.hpp>
#include <common/avbuffer/avbuffer.hpp>

#include <cmath>
#include <limits>
#include <memory>
#include <new>
#include <string>

namespace video {

namespace {

using asyncioplugin::interfaces::IDataBuffer;
using asyncioplugin::interfaces::IPropertyInfo;
using asyncioplugin::converter_detail::firstPropertyOf;
using asyncioplugin::converter_detail::firstValueOf;

constexpr std::size_t kSlots = 5;

}  // namespace

std::vector<boost::any>* FlowmodelConverter::toFlowmodelData(IDataBuffer* buffer) {
    auto* frame = dynamic_cast<VideoFrame*>(buffer);
    if (frame == nullptr || frame->buffer == nullptr) {
        return nullptr;
    }
    auto* pixels = frame->buffer;
    // A frame whose block was already handed over has nothing left to give:
    // a second list would point the receiver at pixels it does not own.
    if (pixels->data == nullptr) {
        return nullptr;
    }
    try {
        auto values = std::make_unique<std::vector<boost::any>>();
        values->reserve(kSlots);
        values->emplace_back(static_cast<unsigned char*>(pixels->data));
        if (isFailedFrameTime(frame->timestamp)) {
            values->emplace_back(int{0});
        } else {
            values->emplace_back(static_cast<unsigned long>(pixels->height));
        }
        values->emplace_back(static_cast<unsigned long>(pixels->width));
        values->emplace_back(static_cast<unsigned long>(pixels->numChannels));
        values->emplace_back(pixels->dataType);
        // Only now, with the list complete, does the block change owner.
        pixels->data = nullptr;
        return values.release();
    } catch (...) {
        return nullptr;
    }
}

bool FlowmodelConverter::supportsToFlowmodelData() {
    return true;
}

IDataBuffer* FlowmodelConverter::fromFlowmodelData(std::vector<boost::any>*) {
    return nullptr;
}

bool FlowmodelConverter::supportsFromFlowmodelData() {
    return true;
}

boost::any* FlowmodelConverter::toFlowmodelProperty(IPropertyInfo* property) {
    return firstValueOf<bool, double, std::u16string>(property);
}

IPropertyInfo* FlowmodelConverter::fromFlowmodelProperty(const char* name, boost::any* value) {
    return firstPropertyOf<bool, double, std::u16string>(name, value);
}

void* FlowmodelConverter::convertOpaque(void* opaque) {
    return opaque;
}

void FlowmodelConverter::destroy() {
    delete this;
}

}  // namespace video

MM_CONVERTER_ENTRY_POINTS(video::FlowmodelConverter)
