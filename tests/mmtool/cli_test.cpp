// mmtool run as a user runs it: help and version, usage errors, unreadable
// files, the JSON form of `info` and the images of `frames --ppm`.

#include "plugins/media.hpp"

#include <avi/avifile.hpp>
#include <support/files.hpp>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs mmtool with `arguments` (shell words) in `folder`, with `environment`
// (shell assignments) added to its environment.
ToolRun mmtool(const std::string& arguments, const std::string& folder = "/",
               const std::string& environment = "") {
    static const testsupport::TempDir logs;
    ToolRun run;
    const std::string errFile = logs.file("stderr");
    int status = 0;
    run.out = testsupport::run("cd '" + folder + "' && " + environment + " '" + plugin_test::buildDir() +
                               "/bin/mmtool' " + arguments +
                               " 2>'" + errFile + "'",
                           &status);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream err(errFile);
    run.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
    return run;
}

using testsupport::readFile;

// Our own sample AVI (320x240 RGB at 30 frames/s, stereo tone), made once.
const std::string& sampleAvi() {
    static const testsupport::TempDir folder;
    static const std::string path = [] {
        const std::string p = folder.file("sample.avi");
        EXPECT_EQ(mmtool("sample --seconds 0.2 '" + p + "'").status, 0);
        return p;
    }();
    return path;
}

TEST(MmtoolCommandLine, HelpAndVersionGoToStdoutAndDoNoWork) {
    const testsupport::TempDir cwd;
    ToolRun run = mmtool("--version", cwd.path());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("mmtool ", 0), 0u) << run.out;
    EXPECT_EQ(run.err, "");
    for (const char* command : {"info", "frames", "convert", "sample"}) {
        run = mmtool(std::string(command) + " --help", cwd.path());
        EXPECT_EQ(run.status, 0) << command;
        EXPECT_NE(run.out.find(std::string("Usage: mmtool ") + command), std::string::npos) << run.out;
        EXPECT_EQ(run.err, "");
    }
    run = mmtool("--help", cwd.path());
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("frames"), std::string::npos);
    // `sample --help` once wrote an AVI named "--help".
    EXPECT_EQ(testsupport::run("ls -A '" + cwd.path() + "'"), "");
}

TEST(MmtoolCommandLine, UsageErrorsGiveUsageOnStderrAndStatusTwo) {
    for (const char* arguments :
         {"", "bogus", "info", "info --bogus x.avi", "info x.avi --plugin", "frames --count", "frames --count -1 x",
          "frames --start soon x", "frames --start nan x", "convert only-one.avi", "sample --seconds 0 x.avi",
          "info a.avi b.avi"}) {
        const ToolRun run = mmtool(arguments);
        EXPECT_EQ(run.status, 2) << arguments;
        EXPECT_EQ(run.out, "") << arguments;
        EXPECT_NE(run.err.find("Usage: mmtool"), std::string::npos) << arguments << ": " << run.err;
    }
}

TEST(MmtoolCommandLine, AnUnreadableFileIsRefusedWithTheSystemsReasonBeforeAnyPlugin) {
    const testsupport::TempDir folder;
    for (const char* command : {"info", "info --json", "frames", "convert"}) {
        const std::string out = command == std::string("convert") ? " '" + folder.file("out.avi") + "'" : "";
        ToolRun run = mmtool(std::string(command) + " /nonexistent/clip.avi" + out);
        EXPECT_EQ(run.status, 1) << command;
        EXPECT_EQ(run.out, "") << command;
        EXPECT_EQ(run.err, "mmtool: /nonexistent/clip.avi: No such file or directory\n") << command;
        run = mmtool(std::string(command) + " '" + folder.path() + "'" + out);
        EXPECT_EQ(run.err, "mmtool: " + folder.path() + ": Is a directory\n") << command;
    }
    // After "--" an option's name is a file's.
    EXPECT_EQ(mmtool("info -- --help").err, "mmtool: --help: No such file or directory\n");
}

TEST(MmtoolInfoJson, AnAviGivesBothMembersWithTheirTypesKept) {
    const ToolRun run = mmtool("info --json '" + sampleAvi() + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    const auto doc = nlohmann::json::parse(run.out);
    EXPECT_EQ(doc["file"], sampleAvi());
    const auto& avi = doc["avi"];
    EXPECT_EQ(avi["width"], 320);
    EXPECT_EQ(avi["height"], 240);
    EXPECT_TRUE(avi["rate"].is_number_float());
    EXPECT_DOUBLE_EQ(avi["rate"].get<double>(), 30.0);
    EXPECT_EQ(avi["frames"], 6);
    EXPECT_EQ(avi["depth"], 24);
    EXPECT_TRUE(avi["fourcc"].is_string());
    EXPECT_EQ(avi["index"], "indx");
    EXPECT_EQ(avi["audio"]["channels"], 2);
    EXPECT_EQ(avi["audio"]["sample_rate"], 44100);
    EXPECT_EQ(avi["error"], (nlohmann::json{{"code", 0}, {"text", ""}}));

    const auto& plugin = doc["plugin"];
    EXPECT_TRUE(plugin["name"].is_string());
    EXPECT_TRUE(plugin["priority"].is_number_integer());
    const auto& properties = plugin["properties"];
    EXPECT_TRUE(properties["Width"].is_number_float());
    EXPECT_EQ(properties["Width"], 320.0);
    EXPECT_EQ(properties["HasAudio"], true);
    EXPECT_EQ(properties["IsPluginSuccess"], true);
    EXPECT_TRUE(properties["VideoFormat"].is_string());
    EXPECT_TRUE(plugin["messages"].is_array());
}

TEST(MmtoolInfoJson, APaletteIsAnArrayOfBytes) {
    const testsupport::TempDir folder;
    const std::string path = folder.file("palette.avi");
    {
        avi::File out;
        ASSERT_TRUE(out.open(path.c_str(), "w"));
        out.setColormap({{1, 2, 3, 0}, {250, 251, 252, 0}});  // blue, green, red
        out.setVideoInfo(4, 2, 10, "", 8);
        char frame[8] = {0, 1, 0, 1, 1, 0, 1, 0};
        out.writeVideoFrame(frame, sizeof frame);
        out.close();
        ASSERT_EQ(out.getErrorCode(), avi::errors::NO_ERROR) << out.getErrorMsg();
    }
    const ToolRun run = mmtool("info --json --plugin mjpegaviplugin '" + path + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    const auto doc = nlohmann::json::parse(run.out);
    EXPECT_EQ(doc["avi"]["colormap_entries"], 2);
    EXPECT_EQ(doc["plugin"]["properties"]["Colormap"], (nlohmann::json{3, 2, 1, 252, 251, 250}));
}

TEST(MmtoolInfoJson, OtherFilesHaveANullAviMemberAndRefusalsStayJson) {
    ToolRun run = mmtool("info --json '" + plugin_test::theoraFile() + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    auto doc = nlohmann::json::parse(run.out);
    EXPECT_TRUE(doc["avi"].is_null());
    EXPECT_EQ(doc["plugin"]["name"], "gstplugin");

    // Text named .avi: the library's refusal is kept, no plugin takes it.
    run = mmtool("info --json '" + plugin_test::garbageFile("garbage.avi") + "'");
    EXPECT_EQ(run.status, 1);
    doc = nlohmann::json::parse(run.out);
    EXPECT_NE(doc["avi"]["error"]["code"], 0);
    EXPECT_FALSE(doc["avi"]["error"]["text"].get<std::string>().empty());
    EXPECT_FALSE(doc["avi"].contains("width"));
    if (doc["plugin"].is_object()) {
        EXPECT_EQ(doc["plugin"]["properties"]["IsPluginSuccess"], false);
    }
}

TEST(MmtoolFramesPpm, EveryFrameBecomesAnImageInAFolderMadeOnDemandTheSameFromEitherLayout) {
    const testsupport::TempDir folder;
    const std::string rowMajor = folder.file("made/on/demand"), planar = folder.file("planar");
    ASSERT_EQ(mmtool("frames --ppm '" + rowMajor + "' '" + sampleAvi() + "'").status, 0);
    ASSERT_EQ(mmtool("frames --default-layout --ppm '" + planar + "' '" + sampleAvi() + "'").status, 0);
    for (int i = 0; i < 6; ++i) {
        const std::string name = "/frame00000" + std::to_string(i) + ".ppm";
        const std::string image = readFile(rowMajor + name);
        ASSERT_EQ(image.size(), 15u + 320u * 240u * 3u) << name;
        EXPECT_EQ(image.substr(0, 15), "P6\n320 240\n255\n");
        EXPECT_TRUE(image == readFile(planar + name)) << name;
    }
    EXPECT_TRUE(readFile(rowMajor + "/frame000006.ppm").empty());
    // Frame 1 of the sample: a white bar at the left (191), the square (240)
    // over rows 103 to 142 from column 4: upside down or transposed it is elsewhere.
    const std::string image = readFile(rowMajor + "/frame000001.ppm");
    auto red = [&](int row, int column) { return static_cast<unsigned char>(image[15 + (row * 320 + column) * 3]); };
    EXPECT_EQ(red(140, 10), 240);
    EXPECT_EQ(red(100, 10), 191);
    EXPECT_EQ(red(140, 50), 191);
}

// MM_FORCE_PLAIN_CPU=1 makes the pixel conversions and the default layout's
// copy take their plain paths: the same images as the SIMD ones, for every
// stored depth, at a width that leaves a tail after the vector blocks.
TEST(MmtoolFramesPpm, ThePlainCpuPathsGiveTheSameImages) {
    const testsupport::TempDir folder;
    const unsigned width = 99, height = 37;
    unsigned seed = 12345;
    auto nextByte = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<char>(seed >> 16);
    };
    for (unsigned bits : {8u, 16u, 32u}) {
        const std::string path = folder.file("depth" + std::to_string(bits) + ".avi");
        {
            avi::File out;
            ASSERT_TRUE(out.open(path.c_str(), "w"));
            if (bits == 8) {
                std::vector<avi::tagRGBQUAD> palette(256);
                for (auto& entry : palette) entry = {static_cast<unsigned char>(nextByte()),
                                                     static_cast<unsigned char>(nextByte()),
                                                     static_cast<unsigned char>(nextByte()), 0};
                out.setColormap(palette);
            }
            out.setVideoInfo(width, height, 10, "", bits);
            std::vector<char> frame((width * bits + 31) / 32 * 4 * height);
            for (int n = 0; n < 2; ++n) {
                for (char& byte : frame) byte = nextByte();
                out.writeVideoFrame(frame.data(), static_cast<unsigned>(frame.size()));
            }
            out.close();
            ASSERT_EQ(out.getErrorCode(), avi::errors::NO_ERROR) << out.getErrorMsg();
        }
        for (const std::string layout : {"", "--default-layout "}) {
            const std::string simd = folder.file("simd" + std::to_string(bits) + layout.substr(0, 3));
            const std::string plain = folder.file("plain" + std::to_string(bits) + layout.substr(0, 3));
            const std::string args = "frames " + layout + "--plugin mjpegaviplugin --ppm '";
            ASSERT_EQ(mmtool(args + simd + "' '" + path + "'").status, 0) << bits;
            ASSERT_EQ(mmtool(args + plain + "' '" + path + "'", "/", "MM_FORCE_PLAIN_CPU=1").status, 0) << bits;
            for (const char* name : {"/frame000000.ppm", "/frame000001.ppm"}) {
                const std::string image = readFile(simd + name);
                EXPECT_GT(image.size(), width * height * 3u) << bits << layout << name;
                EXPECT_TRUE(image == readFile(plain + name)) << bits << " bits " << layout << name;
            }
        }
    }
}

// The same for the GStreamer reader's own Y'CbCr conversion, on each planar
// chroma layout at an odd size (a tail after the vector blocks, a last
// chroma row and column half used).
TEST(MmtoolFramesPpm, ThePlainCpuPathConvertsYuvLikeTheSimdOne) {
    const testsupport::TempDir folder;
    for (const std::string format : {"I420", "Y42B", "Y444"}) {
        const std::string path = folder.file(format + ".mkv");
        testsupport::run("gst-launch-1.0 -q videotestsrc num-buffers=2 pattern=smpte ! video/x-raw,format=" + format +
                         ",width=99,height=37 ! jpegenc ! matroskamux ! filesink location='" + path + "'");
        const std::string simd = folder.file("simd" + format);
        const std::string plain = folder.file("plain" + format);
        const std::string args = "frames --plugin gstplugin --ppm '";
        ASSERT_EQ(mmtool(args + simd + "' '" + path + "'").status, 0) << format;
        ASSERT_EQ(mmtool(args + plain + "' '" + path + "'", "/", "MM_FORCE_PLAIN_CPU=1").status, 0) << format;
        for (const char* name : {"/frame000000.ppm", "/frame000001.ppm"}) {
            const std::string image = readFile(simd + name);
            EXPECT_GT(image.size(), 99u * 37u * 3u) << format << name;
            EXPECT_TRUE(image == readFile(plain + name)) << format << name;
        }
    }
}

// Grey Motion JPEG 2000 (64x48, 3 frames of a gradient) in GRAY8 or GRAY16_LE; "" without the encoder.
std::string greyMj2(const testsupport::TempDir& folder, const std::string& format) {
    const std::string path = folder.file(format + ".mj2");
    int status = 0;
    testsupport::run("gst-launch-1.0 -q videotestsrc num-buffers=3 pattern=gradient ! video/x-raw,format=" + format +
                     ",width=64,height=48,framerate=10/1 ! avenc_jpeg2000 ! capssetter "
                     "caps=image/x-j2c,colorspace=GRAY,num-components=1 ! mj2mux ! filesink location='" +
                     path + "' >/dev/null 2>&1",
                 &status);
    return status == 0 ? path : "";
}

TEST(MmtoolFramesPpm, GreyFramesAreP5AndSixteenBitSamplesBigEndian) {
    const testsupport::TempDir folder;
    const std::string grey8 = greyMj2(folder, "GRAY8"), grey16 = greyMj2(folder, "GRAY16_LE");
    if (grey8.empty() || grey16.empty()) GTEST_SKIP() << "no avenc_jpeg2000 or mj2mux";
    for (const std::string& file : {grey8, grey16}) {
        for (const char* layout : {"", "--default-layout "}) {
            const std::string images = file + ".d" + layout;
            const ToolRun run = mmtool(std::string("frames ") + layout + "--ppm '" + images + "' '" + file + "'");
            ASSERT_EQ(run.status, 0) << run.err;
        }
    }
    const std::string image8 = readFile(grey8 + ".d/frame000002.pgm");
    const std::string image16 = readFile(grey16 + ".d/frame000002.pgm");
    ASSERT_EQ(image8.size(), 13u + 64u * 48u);
    ASSERT_EQ(image16.size(), 15u + 64u * 48u * 2u);
    EXPECT_EQ(image8.substr(0, 13), "P5\n64 48\n255\n");
    EXPECT_EQ(image16.substr(0, 15), "P5\n64 48\n65535\n");
    EXPECT_TRUE(image8 == readFile(grey8 + ".d--default-layout /frame000002.pgm"));
    EXPECT_TRUE(image16 == readFile(grey16 + ".d--default-layout /frame000002.pgm"));
    // The high byte comes first: it follows the 8-bit picture of the same gradient.
    for (std::size_t at : {0u, 64u * 24u + 32u, 64u * 48u - 1u}) {
        const int eight = static_cast<unsigned char>(image8[13 + at]);
        const int high = static_cast<unsigned char>(image16[15 + 2 * at]);
        EXPECT_NEAR(high, eight, 4) << "sample " << at;
    }
}

}  // namespace
