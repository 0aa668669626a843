#pragma once
// The priority table of the environment's plugins. A host that finds several
// plugins for one file extension prefers the one with the higher priority; a
// plugin made for one format outranks a general one that also reads it.

#include <common/export.hpp>

#include <cstdint>
#include <map>
#include <string>

namespace multimedia {
namespace PluginInfo {

enum PluginPriority : std::int32_t {
    PRIORITY_NONE = 0,          // not registered (what a lookup of an unknown key gives)
    PRIORITY_FALLBACK = 10,     // reads many formats, none of them best
    PRIORITY_GENERAL = 50,      // general-purpose back end (GStreamer)
    PRIORITY_SPECIALISED = 100, // made for one format
};

// Keys of the reader plugins.
inline constexpr char kMotionJpegAviKey[] = "MotionJpegAvi";
inline constexpr char kMotionJpeg2000Key[] = "MotionJpeg2000";
inline constexpr char kGstreamerKey[] = "Gstreamer";

// A fresh copy of the table, from plugin key to priority.
MM_EXPORT std::map<std::string, PluginPriority> getVideoPluginInfoMap();

}  // namespace PluginInfo
}  // namespace multimedia
