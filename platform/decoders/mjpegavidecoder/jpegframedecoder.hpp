#pragma once
// One libjpeg decompressor, kept for the life of a reader and reused for every
// frame. Fatal libjpeg errors arrive as multimedia::common::jpeg::Exception
// (our error manager is installed before the first libjpeg call). A frame
// decoded from corrupt data (libjpeg's warnings) is still delivered, as
// peers do, and what libjpeg said about it is kept for the caller to pass on.
// Every frame is decoded to its end, as djpeg does, so damage after the last
// row (a broken marker, bytes where none belong) is met too; a fatal error
// there comes after the picture is complete and counts as one more warning.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace mjpegavidecoder {

class JpegFrameDecoder {
public:
    JpegFrameDecoder();
    ~JpegFrameDecoder();
    JpegFrameDecoder(const JpegFrameDecoder&) = delete;
    JpegFrameDecoder& operator=(const JpegFrameDecoder&) = delete;

    // Decodes the JPEG image data[0, size) into rgb: height rows of width
    // pixels, red, green, blue, no padding. The image must have exactly the
    // given size (or be two fields of it), else std::runtime_error is thrown
    // before anything is decoded. Frames without Huffman tables get the standard ones of the
    // JPEG format (what Motion-JPEG writers leave out), whatever an earlier
    // frame defined. A chunk holding two fields of half the height (as
    // interlaced capture writes them) is woven into one frame, its first
    // field on the odd lines. rgb is left partly written when an exception
    // leaves.
    void decode(const std::uint8_t* data, std::size_t size, std::size_t width,
                std::size_t height, std::uint8_t* rgb);
    // The same frame in framekit's default layout (planar, column-major),
    // laid out band by band as libjpeg decodes it: the bytes framekit's copy
    // of the decode() result gives.
    void decodePlanar(const std::uint8_t* data, std::size_t size, std::size_t width,
                      std::size_t height, std::uint8_t* planar);

    // What libjpeg warned about during the last decode: how many warnings
    // (0: the frame was clean) and the text of the first, as libjpeg formats
    // it. The text of a fatal error met after the last row is added to it.
    struct Warnings {
        int count = 0;
        std::string text;
    };
    const Warnings& lastWarnings() const;

    // Thrown out of a decode when *cancel turns true while it runs; the
    // decoder is ready for the next frame. Null (the default) watches nothing.
    struct Cancelled {};
    void watchForCancel(const std::atomic<bool>* cancel);

private:
    void decodeInto(const std::uint8_t* data, std::size_t size, std::size_t width,
                    std::size_t height, std::uint8_t* out, bool interleaved);

    struct State;
    std::unique_ptr<State> state_;
};

// The four standard tables (luminance DC and AC, chrominance DC and AC) as
// libjpeg holds them: 16 code counts, then the symbol values.
struct StandardHuffmanTable {
    std::uint8_t bits[17];  // bits[0] unused, bits[k] = codes of length k
    std::uint8_t values[256];
    std::size_t valueCount;
};
const StandardHuffmanTable& standardDcTable(int tableIndex);  // 0 luminance, 1 chrominance
const StandardHuffmanTable& standardAcTable(int tableIndex);

}  // namespace mjpegavidecoder
