#pragma once
// The video flow-model converter: a delivered video::VideoFrame becomes a list
// of five values (pixel block as unsigned char*, height, width and channel
// count as unsigned long, sample type as VideoDataType) without any copy of
// its pixels; bool, double and text properties <-> single values. There is no
// way back from a value list to a frame.

#include <converters/iconverter.hpp>

#include <boost/core/noncopyable.hpp>

namespace video {

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

}  // namespace video

extern "C" MM_EXPORT int createConverter(asyncioplugin::interfaces::converter::IConverter** out);
