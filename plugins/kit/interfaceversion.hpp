#pragma once
// The interface version every reader plugin and converter exports, and the
// entry point that tells it to a host. Header-only: converters include it
// without the rest of the kit.

#include <common/export.hpp>

#include <cstdint>

namespace asyncioplugin {
namespace kit {

// The version of the interfaces a plugin and its host share: the entry
// points, the device, plugin-information and converter interfaces with their
// slot order, and the objects that cross between them. A host loads only
// plugins built for its own version; raise it with any change a plugin built
// before would misread.
inline constexpr std::uint32_t kPluginInterfaceVersion = 1;
// std::uint32_t pluginInterfaceVersion()
using PluginInterfaceVersionFn = std::uint32_t (*)();
inline constexpr char kPluginInterfaceVersionSymbol[] = "pluginInterfaceVersion";

}  // namespace kit
}  // namespace asyncioplugin

// Defines pluginInterfaceVersion for a plugin or converter; use once per
// library (MM_READER_PLUGIN_ENTRY_POINTS includes it).
#define MM_PLUGIN_INTERFACE_VERSION_ENTRY_POINT                                                          \
    extern "C" MM_EXPORT std::uint32_t pluginInterfaceVersion() {                                         \
        return ::asyncioplugin::kit::kPluginInterfaceVersion;                                            \
    }
