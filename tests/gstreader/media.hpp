#pragma once
// Test media made by GStreamer itself, and an independent decode of a file
// to RGB frames with their timestamps, to hold the reader's answers against.

#include <cstdint>
#include <string>
#include <vector>

namespace gstreader_test {

// Runs a gst-launch style description to its end (at most 60 s) and answers
// the path of `fileName` in the test's scratch folder; the description names
// that path as `@OUT@`. Made once per process per file name.
std::string makeMedia(const std::string& fileName, const std::string& description);
// `fileName` in the test's scratch folder.
std::string scratchPath(const std::string& fileName);

// Theora in Ogg, 64 x 48 at 25 frames/s, a moving ball, a keyframe every
// `keyframeDistance` frames, `frames` frames; with `withAudio` a Vorbis
// stream as well.
std::string theoraFile(int frames = 60, bool withAudio = false, int keyframeDistance = 16);
// Theora in Ogg, width 5 (RGB rows of 15 bytes, padded to 16 by GStreamer).
std::string narrowFile();
// Motion-JPEG in AVI, 32 x 24 at 10 frames/s.
std::string mjpegAviFile();
// Vorbis in Ogg, no video.
std::string audioOnlyFile();
// A single JPEG picture: its caps carry frame rate 0/1, it cannot seek.
std::string stillImageFile();
// Motion-JPEG in Matroska, 32 x 24, frames 0.1 s apart, caps frame rate 0/1.
std::string noFrameRateFile();
// Two Theora files of 10 frames at 10 frames/s (`first` x `firstHeight`,
// then `second` x `secondHeight`, colour bars moving by a bar a frame) one after the other, as
// `cat a.ogv b.ogv` makes a chained Ogg; `parts` receives the two files.
std::string chainedOgg(int firstWidth, int firstHeight, int secondWidth, int secondHeight,
                       std::vector<std::string>* parts = nullptr);
// Motion-JPEG in Matroska, 32 x 24, caps 10 frames/s, frames 0.1 s apart
// except the one at 1.0 s, which is held for 0.3 s (16 frames, the last at 1.9 s).
std::string heldFrameFile();
// The first `bytes` bytes of `source`, under a new name.
std::string truncatedCopy(const std::string& source, std::size_t bytes, const std::string& name);
// `source` with its bytes from `offset` on replaced by noise.
std::string corruptedCopy(const std::string& source, std::size_t offset, const std::string& name);

// A copy of the Motion-JPEG AVI `source` whose frames from `firstBroken` on
// declare a JPEG process the decoder does not support: the container stays
// intact and the decoder fails in the middle of the stream.
std::string brokenJpegFramesCopy(const std::string& source, int firstBroken, const std::string& name);

// Builds a bare playbin for `path`, prerolls it and tears it down: what
// GStreamer itself costs per file, without the reader.
void plainPlaybinCycle(const std::string& path);

struct DecodedFrame {
    std::uint64_t pts = 0;           // nanoseconds
    std::vector<std::uint8_t> rgb;   // packed rows, no padding
};

struct Decoded {
    int width = 0;
    int height = 0;
    std::vector<DecodedFrame> frames;
};

// Every frame of the file as the decoder puts it out, its planar Y'CbCr
// turned into RGB in real numbers; with a width and height, converted and
// scaled to that size by GStreamer (the whole picture, no borders).
Decoded decodeReference(const std::string& path, int width = 0, int height = 0);

// Two pictures of the same size whose samples differ by at most 1: the
// reader's fixed-point conversion against the real-valued one.
bool samePicture(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

// Peak signal-to-noise ratio of two frames of 8-bit samples, in dB
// (infinite when they are equal).
double psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

// The default layout by its definition: sample (y, x, c) at c*H*W + x*H + y.
std::vector<std::uint8_t> toColumnMajorPlanes(const std::vector<std::uint8_t>& rgb, int width,
                                              int height);

std::u16string toU16(const std::string& text);

// An AVI written by FFmpeg from its moving test pattern (320 x 240, 25
// frames/s, 4 s) with `codecArguments` (e.g. "-c:v mpeg4 -vtag XVID -bf 2");
// made once per process. Empty when FFmpeg cannot make it.
std::string ffmpegAvi(const std::string& name, const std::string& codecArguments);
// FFmpeg's own decode of every frame of `path`, in the order it decodes
// them (its frame n is display number n), packed RGB rows.
std::vector<std::vector<std::uint8_t>> ffmpegFrames(const std::string& path);
// `source` with every FourCC naming its video codec replaced by `fourcc`.
std::string withVideoFourcc(const std::string& source, const std::string& from, const std::string& fourcc,
                            const std::string& name);

}  // namespace gstreader_test
