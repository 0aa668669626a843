#pragma once
// What the mmtool commands that read through the plugins share: checking that
// a file can be read at all, finding the plugin libraries next to the tool,
// choosing one for a file (by extension and priority, or forced with
// --plugin), opening a device on it, and printing what the device published
// and posted.

#include <host/lib/flowconvert.hpp>
#include <host/lib/pluginhost.hpp>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace mmtool {

// Whether `path` opens for reading as a file. When not, prints
// "mmtool: PATH: <the system's text for the reason>" to stderr and answers false.
bool readable(const std::string& path);

// The folder the plugins are loaded from: <tool dir>/../lib.
std::string pluginDirectory();

// The video converter from the plugin folder; null after printing why to
// stderr when it does not load.
std::unique_ptr<mmhost::FlowConverter> loadFlowConverter();

// A device opened on a file through a chosen plugin.
struct OpenedFile {
    std::shared_ptr<mmhost::Plugin> plugin;
    std::unique_ptr<mmhost::Device> device;
};

// Chooses the plugin for `path` (`forced`: a plugin name such as "gstplugin"
// or a path to a library; empty to choose by extension and priority), opens a
// device on the file and initializes it. On failure prints the reasons to
// stderr and answers an empty OpenedFile; a device whose open failed is
// still answered, with its messages, when `keepFailedDevice` is set.
OpenedFile openWithPlugin(const std::string& path, const std::string& forced, bool keepFailedDevice = false);

// Prints the device's output properties, one per line, as "  Name  value".
void printProperties(std::FILE* out, const mmhost::OwnedProperties& properties);
// Prints posted messages as "  type id: text".
void printMessages(std::FILE* out, const std::vector<mmhost::PostedMessage>& messages);

}  // namespace mmtool
