#pragma once
// What a plugin tells its host before any device exists: the extensions it
// reads and writes, its rank against other plugins, and whether it can open a
// given file. Slot order is binary interface.

#include <common/export.hpp>
#include <platform/services/pluginregistry/pluginregistry.hpp>

#include <string>
#include <utility>
#include <vector>

namespace multimedia {
namespace common {
namespace avfileio {

// A file extension in lower case, without the dot.
class MM_EXPORT FormatInfo {
public:
    FormatInfo() = default;
    explicit FormatInfo(std::string fileExtension) : extension(std::move(fileExtension)) {}
    FormatInfo(const FormatInfo&) = default;
    FormatInfo& operator=(const FormatInfo&) = default;
    virtual ~FormatInfo() {}  // slots 0, 1

    std::string extension;
};

class MM_EXPORT IPluginInfo {
public:
    virtual multimedia::PluginInfo::PluginPriority getPriority() = 0;  // 0
    // Returns when the plugin can read the file; throws a common exception otherwise.
    virtual void validateReadFile(const std::u16string& fileName) = 0;  // 1
    // Throws a common exception when the plugin cannot write the file.
    virtual void validateWriteFile(const std::u16string& fileName) = 0;  // 2
    virtual std::vector<FormatInfo> getReadFormats() = 0;               // 3
    virtual std::vector<FormatInfo> getWriteFormats() = 0;              // 4
    virtual ~IPluginInfo() {}                                           // 5, 6
};

}  // namespace avfileio
}  // namespace common
}  // namespace multimedia
