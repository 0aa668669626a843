#pragma once
// The audio flow-model converter: audio::DataBuffer <-> a list of four values
// (sample block as unsigned char*, samples per channel and channel count as
// unsigned long, sample type as AudioDataType), and double or text
// properties <-> single values.

#include <converters/iconverter.hpp>

#include <boost/core/noncopyable.hpp>

namespace audio {

class FlowmodelConverter : public asyncioplugin::interfaces::converter::IConverter,
                           public boost::noncopyable {
public:
    std::vector<boost::any>* toFlowmodelData(asyncioplugin::interfaces::IDataBuffer* buffer) override;
    bool supportsToFlowmodelData() override;
    asyncioplugin::interfaces::IDataBuffer* fromFlowmodelData(std::vector<boost::any>* values) override;
    bool supportsFromFlowmodelData() override;
    boost::any* toFlowmodelProperty(asyncioplugin::interfaces::IPropertyInfo* property) override;
    asyncioplugin::interfaces::IPropertyInfo* fromFlowmodelProperty(const char* name,
                                                                   boost::any* value) override;
    void* convertOpaque(void* opaque) override;
    void destroy() override;
};

}  // namespace audio

extern "C" MM_EXPORT int createConverter(asyncioplugin::interfaces::converter::IConverter** out);
