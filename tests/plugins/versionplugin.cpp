// A library with both reader-plugin factories but built for another
// interface version (MMTEST_INTERFACE_VERSION) or exporting none, as an old
// or foreign plugin would be; the host must refuse it before calling either.

#include <common/export.hpp>

#include <cstdint>

extern "C" MM_EXPORT bool createDevice(void*, void**) { return false; }
extern "C" MM_EXPORT void* createPluginInfo() { return nullptr; }

#ifdef MMTEST_INTERFACE_VERSION
extern "C" MM_EXPORT std::uint32_t pluginInterfaceVersion() { return MMTEST_INTERFACE_VERSION; }
#endif
