#pragma once
// The two kinds of `mmtool convert`, each in its own file.

#include <avi/avifile.hpp>

#include <string>

namespace mmtool {

// Whether avi::File opened `path` (into `in`) and can deliver each of its
// streams as stored: uncompressed video, PCM audio.
bool copyableAvi(avi::File& in, const std::string& path);

// Copies every stream of `in` into a new uncompressed OpenDML AVI at
// `output`, keeping its bit depth, palette and audio (convert_avi.cpp).
int copyAvi(avi::File& in, const std::string& input, const std::string& output);

// Reads `input` through a reader plugin (chosen as by openWithPlugin) and
// writes every delivered frame into `output` as an uncompressed 24-bit AVI
// (convert_plugin.cpp).
//
// Both draw a progress bar on stderr when it is a terminal, remove a partial
// output on failure and answer the exit status.
int convertThroughPlugin(const std::string& input, const std::string& output, const std::string& forced);

}  // namespace mmtool
