#pragma once
// Test media for the Motion-JPEG AVI reader: files made by GStreamer and
// FFmpeg, a RIFF walker that finds each video chunk on its own (without the
// AVI library under test), an AVI builder for the quirks peers never write,
// and reference decodes of a chunk.

#include <support/files.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mjpegtest {

using Bytes = std::vector<std::uint8_t>;

using testsupport::scratchDir;
using testsupport::scratchPath;
using testsupport::writeFile;
// Runs a shell command; true when it exits with status 0.
inline bool run(const std::string& command) { return testsupport::runQuiet(command); }
inline Bytes readFile(const std::string& path) { return testsupport::readBytes(path); }

// Files made by peers; each is made once per process and cached by name.
struct PeerFile {
    std::string path;
    int width;
    int height;
    int frames;
    int fps;
    bool audio;
};
// GStreamer: videotestsrc ! jpegenc ! avimux (audiotestsrc for audio).
PeerFile gstreamerFile(int width, int height, int frames, int fps, bool audio);
// FFmpeg: testsrc into -c:v mjpeg; huffman "default" writes the standard
// tables, "optimal" tables of its own for each frame.
// pixelFormat: yuvj420p, yuvj422p or yuvj444p (odd sizes need 4:4:4).
PeerFile ffmpegFile(int width, int height, int frames, int fps, bool audio,
                    const std::string& huffman = "optimal", const std::string& pixelFormat = "yuvj444p");

// Where each video frame's data lies in an AVI file, in stream order, found by
// walking the movi lists (rec lists included) of every RIFF segment.
struct Chunk {
    std::size_t offset;  // of the data, past the 8-byte header
    std::size_t size;
};
std::vector<Chunk> videoChunks(const Bytes& file);
Bytes chunkData(const Bytes& file, const Chunk& chunk);

// Turns every DHT segment of a JPEG frame into a comment of the same length,
// so the frame keeps its size but carries no Huffman table. Returns how many
// segments were turned.
int stripHuffmanTables(std::uint8_t* frame, std::size_t size);

// Reference decodes of one JPEG frame to packed RGB rows.
Bytes libjpegDecode(const Bytes& jpeg, int& width, int& height);
// djpeg's decode of one JPEG frame to packed RGB rows (empty when djpeg wrote
// no picture), and what it printed on stderr in *messages.
Bytes djpegDecode(const Bytes& jpeg, std::string* messages = nullptr);
// FFmpeg's decode of every frame of a file as packed RGB24.
std::vector<Bytes> ffmpegDecode(const std::string& path, int width, int height);

// The planar column-major layout: sample (y, x, c) at c*H*W + x*H + y.
Bytes toColumnMajorPlanes(const Bytes& packed, int width, int height);

// Builds an AVI file sample by sample.
struct AviRecipe {
    bool video = true;
    std::string fourCC = "MJPG";  // empty: uncompressed (compression 0)
    std::uint16_t bitCount = 24;
    std::int32_t width = 16;
    std::int32_t height = 8;
    std::uint32_t rate = 25;
    std::uint32_t scale = 1;
    std::vector<std::uint8_t> palette;  // 4 bytes per entry: blue, green, red, 0
    std::vector<Bytes> frames;
    bool audio = false;
    std::uint16_t audioFormatTag = 1;
    std::vector<Bytes> audioChunks;
};
Bytes buildAvi(const AviRecipe& recipe);

// Encodes packed RGB rows as a baseline JPEG with libjpeg's standard tables.
Bytes encodeJpeg(const Bytes& rgb, int width, int height, int quality = 90);

// A test picture: smooth gradients with a little noise, different per seed.
Bytes testPicture(int width, int height, int seed);

// The largest absolute difference of two equally long byte blocks, and
// their mean absolute difference.
int maxDifference(const Bytes& a, const Bytes& b);
double meanDifference(const Bytes& a, const Bytes& b);

}  // namespace mjpegtest

#include <videoreader/ivideoreader.hpp>

#include <memory>

namespace mjpegtest {

// A reader from the factory, opened on path.
std::unique_ptr<qsVideoReader::IVideoReader> openReader(const std::string& path);

// Every frame from the current position to the end, with its time.
struct Frames {
    std::vector<Bytes> pixels;
    std::vector<double> times;
};
Frames readAll(qsVideoReader::IVideoReader& reader, bool interleaved = true);

// One frame from the current position (size from the reader's getters).
Bytes readOne(qsVideoReader::IVideoReader& reader, bool interleaved = true);

}  // namespace mjpegtest
