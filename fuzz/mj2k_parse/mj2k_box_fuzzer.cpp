// Feeds arbitrary bytes to the Motion JPEG 2000 box parser as a whole file and
// as one sample, and checks that what it answers stays inside the input. When
// the file parses, the first sample's codestream also goes through decoding
// and the copy into both frame layouts, into a buffer of exactly the declared
// size (small pictures only, to keep the run fast).

#include <platform/decoders/mj2kdecoder/j2kcodec.hpp>
#include <platform/decoders/mj2kdecoder/mj2boxes.hpp>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

void decodeFirstSample(const std::uint8_t* data, const mj2k::Movie& movie) {
    const mj2k::Sample& s = movie.video.samples.front();
    mj2k::Codestream cs;
    if (!mj2k::findCodestream(data + s.offset, s.size, cs)) return;
    mj2k::FrameFormat format;
    if (!mj2k::readHeader(cs.data, cs.size, movie.video.colour, format)) return;
    const std::size_t bytes = std::size_t(format.width) * format.height * format.channels * format.bytesPerSample();
    if (bytes == 0 || format.width > 256 || format.height > 256) return;
    mj2k::ImageHandle image = mj2k::decode(cs.data, cs.size);
    if (!image) return;
    std::vector<std::uint8_t> frame(bytes);
    mj2k::copyFrame(*image, format, true, frame.data());
    mj2k::copyFrame(*image, format, false, frame.data());
}

}  // namespace

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
        if (!movie.video.samples.empty()) decodeFirstSample(data, movie);
    }
    mj2k::Codestream cs;
    if (mj2k::findCodestream(data, size, cs) && (cs.data < data || cs.data + cs.size > data + size)) __builtin_trap();
    return 0;
}
