#pragma once
// The converter interface shared by the audio and video converters and their
// host. A converter turns a device's data buffer into a list of loosely typed
// values for the block-diagram environment (and, where offered, back), and
// translates property objects to and from single values.
//
// The host dispatches by the order of the virtual operations below, so the
// order is part of the binary interface: never insert, remove or reorder one.
//
// Ownership: every object a converter returns is new and belongs to the
// caller. Vectors and `any` values are released with plain `delete`;
// properties and data buffers through their own `destroy`.
// Converters never throw; input they do not handle is answered with null.

#include <common/export.hpp>
#include <plugins/kit/interfaceversion.hpp>

#include <boost/any.hpp>

#include <new>
#include <vector>

namespace asyncioplugin {
namespace interfaces {

class IDataBuffer;
class IPropertyInfo;

namespace converter {

class MM_EXPORT IConverter {
public:
    // Slot 0: a buffer as a new value list, or null for a buffer this
    // converter does not handle.
    virtual std::vector<boost::any>* toFlowmodelData(IDataBuffer* buffer) = 0;
    // Slot 1.
    virtual bool supportsToFlowmodelData() = 0;
    // Slot 2: a value list as a new data buffer, or null.
    virtual IDataBuffer* fromFlowmodelData(std::vector<boost::any>* values) = 0;
    // Slot 3.
    virtual bool supportsFromFlowmodelData() = 0;
    // Slot 4: a property's value as a new `any`, or null.
    virtual boost::any* toFlowmodelProperty(IPropertyInfo* property) = 0;
    // Slot 5: a new property with the given name and value, or null.
    virtual IPropertyInfo* fromFlowmodelProperty(const char* name, boost::any* value) = 0;
    // Slot 6.
    virtual void* convertOpaque(void* opaque) = 0;
    // Slot 7: deletes the converter.
    virtual void destroy() = 0;
    // Slots 8 and 9.
    virtual ~IConverter() = default;

protected:
    IConverter() = default;
    IConverter(const IConverter&) = default;
    IConverter& operator=(const IConverter&) = default;
};

// Signature of the `createConverter` entry point each converter plugin
// exports unmangled: stores a new converter through `out` and returns 1.
using CreateConverterFn = int (*)(IConverter** out);

}  // namespace converter
}  // namespace interfaces
}  // namespace asyncioplugin

// Defines createConverter (a new ConverterClass, 0 when there is no memory
// or nowhere to store it) and pluginInterfaceVersion for a converter plugin;
// use once per converter.
#define MM_CONVERTER_ENTRY_POINTS(ConverterClass)                                                        \
    MM_PLUGIN_INTERFACE_VERSION_ENTRY_POINT                                                              \
    extern "C" MM_EXPORT int createConverter(::asyncioplugin::interfaces::converter::IConverter** out) { \
        if (out == nullptr) {                                                                            \
            return 0;                                                                                    \
        }                                                                                                \
        *out = new (std::nothrow) ConverterClass();                                                      \
        return *out != nullptr ? 1 : 0;                                                                  \
    }
