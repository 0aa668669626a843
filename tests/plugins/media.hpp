#pragma once
// Test media made with GStreamer's command line, in a scratch folder of the
// test process, and the paths of the built plugins.

#include <string>

namespace plugin_test {

// Runs `gst-launch-1.0 -q <pipeline>` with @OUT@ replaced by the path of
// `fileName` in the scratch folder; made once per process per name. Answers
// the path, or "" when the pipeline failed.
std::string makeMedia(const std::string& fileName, const std::string& pipeline);

// Theora in Ogg, 64 x 48, 25 frames/s, `frames` frames (videotestsrc ball).
std::string theoraFile(int frames = 30);
// Theora in Ogg, 30 x 20 (24-bit AVI rows of 90 bytes need 2 bytes of padding), 8 frames.
std::string oddWidthTheoraFile();
// Motion-JPEG in AVI, 32 x 24, 10 frames/s, 12 frames.
std::string mjpegAviFile();
// Vorbis in Ogg, no video.
std::string audioOnlyFile();
// Two Theora files of 10 frames at 10 frames/s, 64 x 48 then 80 x 60, one
// after the other as `cat a.ogv b.ogv` makes a chained Ogg.
std::string chainedOggFile();
// A file of the given name holding `bytes`.
std::string scratchFile(const std::string& fileName, const std::string& bytes);
// A file of the given name holding text, not media.
std::string garbageFile(const std::string& fileName);

// $MM_BUILD_DIR/lib/lib<name>.so
std::string pluginPath(const std::string& name);
std::string buildDir();

}  // namespace plugin_test
