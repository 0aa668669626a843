#pragma once
// A decoder element registered in the test process only, for streams that
// go wrong in ways real files rarely do on cue. It claims files that start
// with "GSTRTEST" and "decodes" them into RGB frames as the file says:
//
//   GSTRTEST <width> <height> <fps> <fail-at> <swallow-eos> <modes>
//
// <modes> has one letter per frame: 'd' a frame with GStreamer's own row
// padding (rows rounded up to 4 bytes), 'p' a packed frame without padding,
// 's' one byte short of a packed frame, 'o' one byte more than a packed
// frame, 'u' a frame whose memory refuses to be mapped, 'n' a packed frame
// without a timestamp, 'z' a packed frame stamped 0 (a time going back). Sample (y, x, c) of
// frame i has the value (i * 31 + y * 7 + x * 3 + c) & 0xFF. At frame
// <fail-at> (-1: never) the element posts an error and stops the stream;
// with <swallow-eos> 1 it then lets no end of stream through either.

#include <cstdint>
#include <string>
#include <vector>

namespace gstreader_test {

void registerTestDecoder();

// Writes such a file into the scratch folder and answers its path.
std::string testDecoderFile(const std::string& name, int width, int height, int fps, int failAt,
                            bool swallowEos, const std::string& modes);

// Packed RGB of frame `index` as the element makes it.
std::vector<std::uint8_t> testDecoderFrame(int index, int width, int height);

}  // namespace gstreader_test
