// Feeds arbitrary bytes to avi::File as a file: both ways of opening, every
// frame in all three read modes with buffers of exactly the sizes the reader
// reports, and all the audio.
#include <avi/avifile.hpp>
#include <fuzz/avi_read/read_everything.hpp>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

const std::string& scratchPath() {
    static const std::string path = "/tmp/avi_read_fuzzer." + std::to_string(::getpid()) + ".avi";
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = scratchPath();
    if (std::FILE* out = std::fopen(path.c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, out);
        std::fclose(out);
    } else {
        return 0;
    }
    {
        avi::File info;
        if (info.openToGetInformation(path.c_str())) avifuzz::readEverything(info);
        info.close();
    }
    {
        avi::File reader;
        try {
            if (reader.open(path.c_str(), "r")) avifuzz::readEverything(reader);
        } catch (const std::exception&) {
            // an offset beyond 32 bits: the one exception the library lets out
        }
    }
    return 0;
}
