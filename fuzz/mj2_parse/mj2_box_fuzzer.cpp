// Feeds arbitrary bytes to the Motion JPEG 2000 box parser as a whole file and
// as one sample, and checks what it answers stays inside the input.

#include <platform/mj2kdecoder/mj2boxes.hpp>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    mj2k::Movie movie;
    mj2k::ParseResult result = mj2k::parseFile(data, size, movie);
    if (result.ok()) {
        if (!movie.hasVideo || movie.video.timescale == 0 || movie.video.samples.size() > mj2k::kMaxSamples)
            __builtin_trap();
        for (const mj2k::Sample& s : movie.video.samples) {
            if (s.offset > size || s.size > size - s.offset) __builtin_trap();
            mj2k::Codestream cs;
            if (mj2k::findCodestream(data + s.offset, s.size, cs) &&
                (cs.data < data + s.offset || cs.data + cs.size > data + s.offset + s.size))
                __builtin_trap();
        }
    }
    mj2k::Codestream cs;
    if (mj2k::findCodestream(data, size, cs) && (cs.data < data || cs.data + cs.size > data + size)) __builtin_trap();
    return 0;
}
