#include "samplecount.hpp"

#include <platform/decoders/mj2kdecoder/mj2boxes.hpp>

#include <cstdint>
#include <fstream>
#include <vector>

namespace mmpython {

std::optional<long> isoVideoSampleCount(const std::string& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) return std::nullopt;
    const auto fileSize = static_cast<std::uint64_t>(file.tellg());
    const mj2k::ReadAt read = [&](std::uint64_t offset, std::uint8_t* out, std::size_t n) {
        file.clear();
        file.seekg(static_cast<std::streamoff>(offset));
        return static_cast<bool>(file.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(n)));
    };
    std::uint64_t moovOffset = 0, moovSize = 0;
    if (!mj2k::locateMovie(read, fileSize, moovOffset, moovSize).ok()) return std::nullopt;
    std::vector<std::uint8_t> moov(static_cast<std::size_t>(moovSize));
    if (!read(moovOffset, moov.data(), moov.size())) return std::nullopt;
    mj2k::Movie movie;
    if (!mj2k::parseMovie(mj2k::ByteCursor(moov.data(), moov.size()), fileSize, movie).ok()) return std::nullopt;
    return static_cast<long>(movie.video.samples.size());
}

}  // namespace mmpython
