// mmtool convert IN OUT.avi [--plugin NAME]: any video a reader plugin reads,
// written as an uncompressed 24-bit AVI by avi::File, with a progress bar.
#include "mmtool.hpp"

#include <host/plugintool.hpp>

#include <cstdio>
#include <string>

MMTOOL_COMMAND(convert, "convert IN OUT.avi [--plugin P]",
               "any readable video into an uncompressed AVI, through a reader plugin");

int convert(int argc, char** argv) {
    bool missing = false;
    const std::string forced = mmtool::takeOption(argc, argv, "--plugin", "", missing);
    if (missing || argc != 2) {
        std::fprintf(stderr, "usage: mmtool convert IN OUT.avi [--plugin NAME]\n");
        return 2;
    }
    return mmtool::convertThroughPlugin(argv[0], argv[1], forced);
}
