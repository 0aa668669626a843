#pragma once
// The two forms of `mmtool info`: aligned text, and one JSON object.

#include <string>

namespace mmtool {

struct InfoOptions {
    std::string file;
    std::string plugin;  // forced plugin, empty to choose
    bool json = false;
};

// The four-character code as text, bytes outside printable ASCII as \xNN.
std::string printableFourCC(const std::string& fourcc);

// Both answer the exit status: 0 when the AVI library or a plugin read the file.
int printInfoText(const InfoOptions& options);
int printInfoJson(const InfoOptions& options);

}  // namespace mmtool
