#include <plugins/gst/gstplugin.hpp>

#include <plugins/kit/entrypoints.hpp>
#include <videoreader/gstreader.hpp>

namespace gstvideoreader {

qsVideoReader::IVideoReader* GstTraits::createReader() {
    return qsVideoReader::createGstReaderInstance();
}

}  // namespace gstvideoreader

MM_READER_PLUGIN_ENTRY_POINTS(gstvideoreader::Device, gstvideoreader::PluginInfo)
