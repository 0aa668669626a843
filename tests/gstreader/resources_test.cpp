// Resources: opening, reading and closing many times leaves no file
// descriptors and no memory behind; the debug log gets the reader's lines.

#include "reader.hpp"

#include <gst/gst.h>

#include <gtest/gtest.h>

#include <dirent.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace gstreader_test;

std::size_t openDescriptors() {
    std::size_t count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr) ++count;
        closedir(dir);
    }
    return count;
}

std::size_t residentKiB() {
    std::ifstream statm("/proc/self/statm");
    std::size_t total = 0, resident = 0;
    statm >> total >> resident;
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE)) / 1024;
}

void cycle(const std::string& path, bool seek) {
    Reader reader = openReader(path);
    if (seek) {
        reader->seekToTime(0.7);
    } else {
        reader->startFromBeginning();
    }
    std::vector<std::uint8_t> frame(reader->getHeight() * reader->getWidth() * 3);
    for (int i = 0; i < 5; ++i) reader->readFrame(i % 2 == 0, frame.data());
    (void)reader->getVideoCodec();
    (void)reader->getDuration();
    reader->close();
}

// GStreamer itself keeps a few KiB per pipeline it ever built (measured:
// the same growth with a bare playbin), so the reader's growth is held
// against a bare playbin's over the same number of files, in the same run.
TEST(GstReaderResources, TwoHundredCyclesLeaveNoDescriptorsOrMemory) {
    const std::string path = theoraFile(50, true);
    // Warm up: plugin loading, type registration and thread pools are
    // GStreamer's one-time costs.
    for (int i = 0; i < 20; ++i) cycle(path, i % 2 == 0);
    const std::size_t fds = openDescriptors();

    malloc_trim(0);
    const std::size_t bareBefore = residentKiB();
    for (int i = 0; i < 200; ++i) plainPlaybinCycle(path);
    malloc_trim(0);
    const std::size_t bareGrowth = residentKiB() - std::min(bareBefore, residentKiB());

    const std::size_t readerBefore = residentKiB();
    for (int i = 0; i < 200; ++i) cycle(path, i % 2 == 0);
    malloc_trim(0);
    const std::size_t readerGrowth = residentKiB() - std::min(readerBefore, residentKiB());

    RecordProperty("bare_playbin_growth_kib", static_cast<int>(bareGrowth));
    RecordProperty("reader_growth_kib", static_cast<int>(readerGrowth));
    EXPECT_EQ(openDescriptors(), fds);
    // One leaked frame (9 KiB) or sample per cycle would add 1.8 MiB.
    EXPECT_LT(readerGrowth, bareGrowth + 1024)
        << "reader " << readerGrowth << " KiB, bare playbin " << bareGrowth << " KiB";
}

TEST(GstReaderResources, DestroyingWithoutCloseReleasesEverything) {
    const std::string path = theoraFile(50, true);
    for (int i = 0; i < 5; ++i) {
        Reader reader = openReader(path);
        reader->startFromBeginning();
    }
    const std::size_t fds = openDescriptors();
    for (int i = 0; i < 50; ++i) {
        Reader reader = openReader(path);
        reader->startFromBeginning();
        std::vector<std::uint8_t> frame(reader->getHeight() * reader->getWidth() * 3);
        reader->readFrame(true, frame.data());
    }
    EXPECT_EQ(openDescriptors(), fds);
}

struct LogLine {
    GstDebugLevel level;
    std::string file;
    std::string function;
    std::string message;
};

std::vector<LogLine>* captured = nullptr;

void captureLog(GstDebugCategory* category, GstDebugLevel level, const gchar* file,
                const gchar* function, gint, GObject*, GstDebugMessage* message, gpointer) {
    if (captured != nullptr && category == GST_CAT_DEFAULT && std::string(file) == "GstReader") {
        captured->push_back({level, file, function, gst_debug_message_get(message)});
    }
}

class GstReaderLog : public ::testing::Test {
protected:
    void SetUp() override {
        gst_init(nullptr, nullptr);
        captured = &lines_;
        gst_debug_remove_log_function(gst_debug_log_default);
        gst_debug_add_log_function(captureLog, nullptr, nullptr);
    }
    void TearDown() override {
        gst_debug_remove_log_function(captureLog);
        gst_debug_set_default_threshold(GST_LEVEL_NONE);
        captured = nullptr;
    }
    std::vector<LogLine> lines_;
};

TEST_F(GstReaderLog, OpenLogsItsStepsAtInfoOnTheDefaultCategory) {
    gst_debug_set_default_threshold(GST_LEVEL_INFO);
    Reader reader = openReader(theoraFile(60));
    const std::vector<std::string> expected = {
        "Playbin has been created", "RGB caps set on the Appsink", "Appsink has been created",
        "playbin initialization has been completed", "playbin successfully changed to paused",
        "Obtain the videoCaps from the appsink", "Obtain the videoCapsStruct from the videoCaps"};
    std::vector<std::string> got;
    for (const auto& line : lines_) {
        if (line.function == "createVideoElements") {
            EXPECT_EQ(line.level, GST_LEVEL_INFO);
            got.push_back(line.message);
        }
    }
    EXPECT_EQ(got, expected);

    lines_.clear();
    const double duration = reader->getDuration();
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0].function, "getDuration");
    EXPECT_EQ(lines_[0].level, GST_LEVEL_INFO);
    char text[64];
    std::snprintf(text, sizeof text, "Duration in seconds is %f", duration);
    EXPECT_EQ(lines_[0].message, text);
}

TEST_F(GstReaderLog, UnknownDurationIsAWarning) {
    gst_debug_set_default_threshold(GST_LEVEL_WARNING);
    Reader reader(qsVideoReader::createGstReaderInstance());
    EXPECT_EQ(reader->getDuration(), -1.0);
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0].level, GST_LEVEL_WARNING);
    EXPECT_EQ(lines_[0].function, "getDuration");
    EXPECT_EQ(lines_[0].message, "Could not determine pipeline duration");
}

TEST_F(GstReaderLog, NothingBelowTheThreshold) {
    gst_debug_set_default_threshold(GST_LEVEL_WARNING);
    Reader reader = openReader(theoraFile(60));
    (void)reader->getDuration();
    EXPECT_TRUE(lines_.empty());
}

}  // namespace
