#pragma once
// What the mmtool subcommands that read through the plugins share: finding
// the plugin libraries next to the tool, choosing one for a file (by
// extension and priority, or forced with --plugin), opening a device on it,
// and printing what the device published and posted.

#include <host/pluginhost.hpp>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace mmtool {

// The folder the plugins are loaded from: <tool dir>/../lib.
std::string pluginDirectory();

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

// Prints the device's output properties, one per line, as "  Name = value".
void printProperties(std::FILE* out, const mmhost::OwnedProperties& properties);
// Prints posted messages as "  type id: text".
void printMessages(std::FILE* out, const std::vector<mmhost::PostedMessage>& messages);

// The plugin-information section of `mmtool info`; answers the exit status.
int printPluginInfo(const std::string& path, const std::string& forced);

// Reads `input` through a reader plugin (chosen as by openWithPlugin) and
// writes every delivered frame into `output` as an uncompressed 24-bit AVI,
// drawing a progress bar on stderr when it is a terminal. A failed conversion
// removes the partial output. Answers the exit status.
int convertThroughPlugin(const std::string& input, const std::string& output, const std::string& forced);

// Removes "--name VALUE" from argv (argc, argv are updated) and answers VALUE,
// or `fallback` when the option is absent. Sets `missingValue` when the
// option ends the line.
std::string takeOption(int& argc, char** argv, const char* name, const std::string& fallback, bool& missingValue);

}  // namespace mmtool
