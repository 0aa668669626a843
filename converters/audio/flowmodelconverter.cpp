#include <converters/audio/flowmodelconverter.hpp>

#include <converters/audio/databuffer.hpp>
#include <converters/propertyvalues.hpp>

#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace audio {

namespace {

using asyncioplugin::interfaces::IDataBuffer;
using asyncioplugin::interfaces::IPropertyInfo;
using asyncioplugin::converter_detail::firstPropertyOf;
using asyncioplugin::converter_detail::firstValueOf;

// Positions in the four-value flow-model form of an audio block.
enum Slot : std::size_t { kBlock = 0, kCount = 1, kChannels = 2, kType = 3, kSlots = 4 };

}  // namespace

std::vector<boost::any>* FlowmodelConverter::toFlowmodelData(IDataBuffer* buffer) {
    auto* audio = dynamic_cast<DataBuffer*>(buffer);
    // A buffer whose block was already handed over has nothing left to give:
    // a list with a null block would claim samples it does not carry.
    if (audio == nullptr || audio->data == nullptr) {
        return nullptr;
    }
    try {
        auto values = std::make_unique<std::vector<boost::any>>();
        values->reserve(kSlots);
        values->emplace_back(audio->data);
        const auto count = static_cast<unsigned long>(audio->getCount());
        values->emplace_back(count);
        values->emplace_back(static_cast<unsigned long>(audio->numChannels));
        values->emplace_back(audio->dataType);
        // Only now, with the list complete, does the block change owner.
        audio->data = nullptr;
        return values.release();
    } catch (...) {
        return nullptr;
    }
}

bool FlowmodelConverter::supportsToFlowmodelData() {
    return true;
}

IDataBuffer* FlowmodelConverter::fromFlowmodelData(std::vector<boost::any>* values) {
    if (values == nullptr || values->size() < kSlots) {
        return nullptr;
    }
    try {
        auto* source = boost::any_cast<unsigned char*>((*values)[kBlock]);
        const auto count = boost::any_cast<unsigned long>((*values)[kCount]);
        const auto channels = boost::any_cast<unsigned long>((*values)[kChannels]);
        const auto type = boost::any_cast<AudioDataType>((*values)[kType]);
        std::uint64_t bytes = 0;
        if (source == nullptr || !blockSize(count, channels, type, bytes)) {
            return nullptr;
        }
        auto buffer = std::make_unique<DataBuffer>();
        buffer->count = count;
        buffer->numChannels = channels;
        buffer->dataType = type;
        buffer->sizeInBytes = bytes;
        buffer->data = new unsigned char[bytes]();
        std::memcpy(buffer->data, source, bytes);
        return buffer.release();
    } catch (const boost::bad_any_cast&) {
        return nullptr;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool FlowmodelConverter::supportsFromFlowmodelData() {
    return true;
}

boost::any* FlowmodelConverter::toFlowmodelProperty(IPropertyInfo* property) {
    return firstValueOf<double, std::u16string>(property);
}

IPropertyInfo* FlowmodelConverter::fromFlowmodelProperty(const char* name, boost::any* value) {
    return firstPropertyOf<double, std::u16string>(name, value);
}

void* FlowmodelConverter::convertOpaque(void*) {
    return nullptr;
}

void FlowmodelConverter::destroy() {
    delete this;
}

}  // namespace audio

MM_CONVERTER_ENTRY_POINTS(audio::FlowmodelConverter)
