#pragma once
// The unmangled entry points of every reader plugin, and their types as a
// host sees them after dlsym; the interface version every plugin and
// converter exports beside them.

#include <common/export.hpp>
#include <plugins/kit/interfaces.hpp>
#include <plugins/kit/interfaceversion.hpp>
#include <plugins/kit/plugininfo.hpp>

namespace asyncioplugin {
namespace kit {

// bool createDevice(IDeviceHost* host, IControl** device)
using CreateDeviceFn = bool (*)(interfaces::device::IDeviceHost*, interfaces::device::IControl**);
// IPluginInfo* createPluginInfo()
using CreatePluginInfoFn = multimedia::common::avfileio::IPluginInfo* (*)();

inline constexpr char kCreateDeviceSymbol[] = "createDevice";
inline constexpr char kCreatePluginInfoSymbol[] = "createPluginInfo";

// A new Device holding `host`, written to `*device` as its IControl face.
// Opens nothing. Answers false, creating nothing, when there is nowhere to
// write the device.
template <class Device>
bool createDeviceOf(interfaces::device::IDeviceHost* host, interfaces::device::IControl** device) {
    if (device == nullptr) return false;
    *device = new Device(host);
    return true;
}

}  // namespace kit
}  // namespace asyncioplugin

// Defines createDevice, createPluginInfo and pluginInterfaceVersion for a
// plugin; use once per plugin.
#define MM_READER_PLUGIN_ENTRY_POINTS(DeviceClass, PluginInfoClass)                                      \
    MM_PLUGIN_INTERFACE_VERSION_ENTRY_POINT                                                              \
    extern "C" MM_EXPORT bool createDevice(::asyncioplugin::interfaces::device::IDeviceHost* host,      \
                                           ::asyncioplugin::interfaces::device::IControl** device) {    \
        return ::asyncioplugin::kit::createDeviceOf<DeviceClass>(host, device);                        \
    }                                                                                                    \
    extern "C" MM_EXPORT ::multimedia::common::avfileio::IPluginInfo* createPluginInfo() {              \
        return new PluginInfoClass();                                                                    \
    }
