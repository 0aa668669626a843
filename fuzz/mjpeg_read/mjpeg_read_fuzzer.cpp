// Feeds arbitrary bytes to the Motion-JPEG AVI reader as a file: open, then
// every frame (up to a bound) in both layouts into buffers of exactly the size
// the reader reports, a few seeks, and close. The seeds are small Motion-JPEG
// and uncompressed AVI files, so mutations reach the JPEG decoder as well as
// the file layer.
#include <platform/services/i18n/i18n.hpp>
#include <platform/decoders/mjpegavidecoder/mjpegavidecoder.hpp>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

const std::string& scratchPath() {
    static const std::string path = "/tmp/mjpeg_read_fuzzer." + std::to_string(::getpid()) + ".avi";
    return path;
}

// Frames bigger than this are opened and described but not read: a header
// may claim any size, and the fuzzer's memory is bounded.
constexpr std::size_t kMaxFrameBytes = std::size_t{16} << 20;
constexpr int kMaxFrames = 32;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = scratchPath();
    if (std::FILE* out = std::fopen(path.c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, out);
        std::fclose(out);
    } else {
        return 0;
    }
    std::unique_ptr<qsVideoReader::IVideoReader> reader(qsVideoReader::createMjpegAviReaderInstance());
    try {
        reader->open(vq::i18n::to_ustring(path.c_str()), false);
    } catch (const std::exception&) {
        return 0;  // refused files throw the reader family
    }
    const std::size_t bytes = reader->getWidth() * reader->getHeight() * reader->getNumColorChannels();
    reader->getDuration();
    reader->getFrameRate();
    if (bytes > 0 && bytes <= kMaxFrameBytes) {
        std::vector<std::uint8_t> frame(bytes);
        for (bool interleaved : {true, false}) {
            reader->startFromBeginning();
            for (int i = 0; i < kMaxFrames; ++i) {
                reader->readFrame(interleaved, frame.data());
                if (reader->isEndOfStream()) break;
                reader->getCurrentTime();
            }
        }
        for (double t : {0.0, 0.5, 1e9}) {
            try {
                reader->seekToTime(t);
                reader->readFrame(true, frame.data());
            } catch (const std::exception&) {
            }
        }
    }
    reader->close();
    return 0;
}
