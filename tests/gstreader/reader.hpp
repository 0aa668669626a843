#pragma once
// Opening a reader the way the plugins do, and reading a whole stream.

#include "media.hpp"

#include <videoreader/gstreader.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace gstreader_test {

using Reader = std::shared_ptr<qsVideoReader::IVideoReader>;

inline Reader openReader(const std::string& path) {
    Reader reader(qsVideoReader::createGstReaderInstance());
    reader->open(toU16(path), false);
    return reader;
}

struct ReadFrame {
    double time = 0.0;
    std::vector<std::uint8_t> pixels;
};

// Reads until the reader reports the end of the stream (at most `limit`
// frames), in the layout asked for.
inline std::vector<ReadFrame> readAll(qsVideoReader::IVideoReader& reader, bool interleaved,
                                      std::size_t limit = 100000) {
    std::vector<ReadFrame> frames;
    const std::size_t size = reader.getHeight() * reader.getWidth() * 3;
    while (frames.size() < limit) {
        ReadFrame frame;
        frame.pixels.assign(size, 0);
        reader.readFrame(interleaved, frame.pixels.data());
        if (reader.isEndOfStream()) {
            break;
        }
        frame.time = reader.getCurrentTime();
        frames.push_back(std::move(frame));
    }
    return frames;
}

inline double seconds(std::uint64_t ns) {
    return static_cast<double>(ns) / 1e9;
}

}  // namespace gstreader_test
