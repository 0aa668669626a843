// Every GStreamer object and mini object the reader makes or receives
// (pipelines, pads, caps, samples, buffers, tag lists, messages) is released
// again: GStreamer's own leak tracer lists what is still alive when GStreamer
// shuts down, and sees what the address sanitizer's GStreamer suppressions
// hide. Its own binary, because the tracer must be on before GStreamer
// starts and GStreamer cannot start again after the check.

#include "reader.hpp"

#include <gst/gst.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace gstreader_test;

std::vector<std::string>* alive = nullptr;

void collectAlive(GstDebugCategory* category, GstDebugLevel, const gchar*, const gchar*, gint,
                  GObject*, GstDebugMessage* message, gpointer) {
    if (alive == nullptr || std::string(gst_debug_category_get_name(category)) != "GST_TRACER") {
        return;
    }
    const std::string text = gst_debug_message_get(message);
    // playbin's audio chain leaks its volume element and the element's two
    // pads once per pipeline with an audio stream, also with nothing but
    // gst-launch-1.0 playbin: GStreamer's, not ours.
    const bool playsinkVolume = text.find("type-name=(string)GstVolume") != std::string::npos ||
                                text.find("description=(string)<volume:") != std::string::npos;
    if (text.find("object-alive") != std::string::npos && !playsinkVolume) {
        alive->push_back(text);
    }
}

void cycle(const std::string& path, int variant) {
    Reader reader = openReader(path);
    switch (variant % 3) {
    case 0: reader->startFromBeginning(); break;
    case 1: reader->seekToTime(0.9); break;
    default: reader->seekToTime(qsVideoReader::NO_START_TIME); break;
    }
    std::vector<std::uint8_t> frame(reader->getHeight() * reader->getWidth() * 3);
    for (int i = 0; i < 4; ++i) reader->readFrame(i % 2 == 0, frame.data());
    (void)reader->getVideoCodec();
    (void)reader->getAudioCodec();
    (void)reader->getDuration();
    (void)reader->hasVideo();
    if (variant % 2 == 0) reader->close();  // else the destructor does it
}

TEST(GstReaderObjects, NothingIsAliveWhenGStreamerShutsDown) {
    ::setenv("GST_TRACERS", "leaks", 1);
    ::setenv("GST_DEBUG", "GST_TRACER:7", 1);
    gst_init(nullptr, nullptr);
    gst_debug_remove_log_function(gst_debug_log_default);
    std::vector<std::string> found;
    alive = &found;
    gst_debug_add_log_function(collectAlive, nullptr, nullptr);

    const std::string video = theoraFile(50, true);
    const std::string narrow = narrowFile();
    for (int i = 0; i < 12; ++i) cycle(i % 3 == 2 ? narrow : video, i);
    {
        Reader failing(qsVideoReader::createGstReaderInstance());
        EXPECT_ANY_THROW(failing->open(u"/nonexistent/file.ogv", false));
        Reader audio = openReader(audioOnlyFile());
        audio->startFromBeginning();
    }

    gst_deinit();
    alive = nullptr;
    std::string listing;
    for (const auto& line : found) listing += line.substr(0, 160) + "\n";
    EXPECT_TRUE(found.empty()) << found.size() << " objects alive:\n" << listing;
}

}  // namespace
