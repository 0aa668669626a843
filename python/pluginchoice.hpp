#pragma once
// The reference host's part of VideoReader: finding and choosing the reader
// plugin for a file the way the host does, refusing files that cannot be
// opened at all, and turning what a device posted into Python warnings and
// exceptions.

#include "module.hpp"

#include <host/lib/pluginhost.hpp>

#include <memory>
#include <string>
#include <vector>

namespace mmpython {

// Among the plugins beside the module that read the file's extension,
// highest priority first, the first whose validateReadFile accepts the file.
// Throws KindError with the kind of the first refusal when none does.
std::shared_ptr<mmhost::Plugin> choosePlugin(const std::string& path);

// A plugin by name ("gstplugin", from the plugin folder) or library path.
std::shared_ptr<mmhost::Plugin> loadPlugin(const std::string& plugin);

// Throws KindError (FileNotFound, FilePermissionDenied, ReadFailed) with the
// system's reason when `path` does not open for reading as a file.
void requireReadable(const std::string& path);

// The failure kind and text a plugin's exception carries, as "plugin: text".
KindError refusal(const std::string& plugin, const std::exception& failure);

// Posted warnings become Python warnings; the first posted error is raised
// as KindError. Needs the interpreter lock.
void deliverMessages(const std::vector<mmhost::PostedMessage>& messages, const std::string& path);

}  // namespace mmpython
