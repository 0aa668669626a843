#include <plugins/mj2000/mj2kplugin.hpp>

#include <platform/mj2kdecoder/mj2kdecoder.hpp>
#include <plugins/kit/entrypoints.hpp>

namespace mj2000reader {

vr::IVideoReader* Mj2000Traits::createReader() { return vr::createMj2000ReaderInstance(); }

}  // namespace mj2000reader

MM_READER_PLUGIN_ENTRY_POINTS(mj2000reader::Device, mj2000reader::PluginInfo)
