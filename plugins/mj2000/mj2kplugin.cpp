#include <plugins/mj2000/mj2kplugin.hpp>

#include <platform/decoders/mj2kdecoder/mj2kdecoder.hpp>
#include <plugins/kit/entrypoints.hpp>

namespace mj2kreader {

vr::IVideoReader* Mj2kTraits::createReader() { return vr::createMj2kReaderInstance(); }

}  // namespace mj2kreader

MM_READER_PLUGIN_ENTRY_POINTS(mj2kreader::Device, mj2kreader::PluginInfo)
