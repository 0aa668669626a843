#include "media.hpp"

#include <support/files.hpp>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>

#include <unistd.h>

namespace plugin_test {

namespace {

const std::string& scratch() { return testsupport::scratchDir(); }


std::mutex gMutex;
std::map<std::string, std::string> gMade;

}  // namespace

std::string makeMedia(const std::string& fileName, const std::string& pipeline) {
    std::lock_guard<std::mutex> lock(gMutex);
    auto found = gMade.find(fileName);
    if (found != gMade.end()) return found->second;
    const std::string path = scratch() + "/" + fileName;
    std::string description = pipeline;
    for (auto at = description.find("@OUT@"); at != std::string::npos; at = description.find("@OUT@")) {
        description.replace(at, 5, path);
    }
    const std::string command = "timeout 60 gst-launch-1.0 -q " + description + " >/dev/null 2>&1";
    const bool ok = std::system(command.c_str()) == 0;
    return gMade[fileName] = ok ? path : std::string();
}

std::string theoraFile(int frames) {
    return makeMedia("theora" + std::to_string(frames) + ".ogv",
                     "videotestsrc num-buffers=" + std::to_string(frames) +
                         " pattern=ball ! video/x-raw,width=64,height=48,framerate=25/1 ! theoraenc ! oggmux ! "
                         "filesink location=@OUT@");
}

std::string oddWidthTheoraFile() {
    return makeMedia("odd.ogv",
                     "videotestsrc num-buffers=8 pattern=snow ! video/x-raw,width=30,height=20,framerate=25/1 ! "
                     "theoraenc ! oggmux ! filesink location=@OUT@");
}

std::string mjpegAviFile() {
    return makeMedia("mjpeg.avi",
                     "videotestsrc num-buffers=12 ! video/x-raw,width=32,height=24,framerate=10/1 ! jpegenc ! "
                     "avimux ! filesink location=@OUT@");
}

std::string audioOnlyFile() {
    return makeMedia("audio.ogg",
                     "audiotestsrc num-buffers=20 ! audioconvert ! vorbisenc ! oggmux ! filesink location=@OUT@");
}

std::string chainedOggFile() {
    std::string joined;
    for (const char* size : {"width=64,height=48", "width=80,height=60"}) {
        const std::string part = makeMedia(std::string("part-") + size + ".ogv",
                                           std::string("videotestsrc num-buffers=10 pattern=ball ! video/x-raw,") +
                                               size + ",framerate=10/1 ! theoraenc ! oggmux ! filesink location=@OUT@");
        if (part.empty()) return std::string();
        std::ifstream in(part, std::ios::binary);
        joined.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return scratchFile("chained.ogv", joined);
}

std::string scratchFile(const std::string& fileName, const std::string& bytes) {
    return testsupport::writeFile(testsupport::scratchPath(fileName), bytes);
}

std::string garbageFile(const std::string& fileName) {
    const std::string path = scratch() + "/" + fileName;
    std::ofstream(path) << "this is not a video file\n";
    return path;
}

std::string buildDir() {
    const char* dir = std::getenv("MM_BUILD_DIR");
    if (dir != nullptr && *dir != '\0') return dir;
    // Test binaries live in <build>/tests.
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return ".";
    std::string path(self, static_cast<std::size_t>(length));
    path.erase(path.find_last_of('/'));
    return path.substr(0, path.find_last_of('/'));
}

std::string pluginPath(const std::string& name) { return buildDir() + "/lib/lib" + name + ".so"; }

}  // namespace plugin_test
