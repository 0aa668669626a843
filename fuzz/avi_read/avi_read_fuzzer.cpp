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

// The input goes to a file of its own per process, removed at exit.
struct Scratch {
    std::string path = "/tmp/avi_read_fuzzer." + std::to_string(::getpid()) + ".avi";
    ~Scratch() { std::remove(path.c_str()); }
};

const std::string& scratchPath() {
    static const Scratch scratch;
    return scratch.path;
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
