#include <platform/services/pluginregistry/pluginregistry.hpp>

namespace multimedia {
namespace PluginInfo {

std::map<std::string, PluginPriority> getVideoPluginInfoMap() {
    return {
        {kMotionJpegAviKey, PRIORITY_SPECIALISED},
        {kMotionJpeg2000Key, PRIORITY_SPECIALISED},
        {kGstreamerKey, PRIORITY_GENERAL},
    };
}

}  // namespace PluginInfo
}  // namespace multimedia
