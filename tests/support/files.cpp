#include <support/files.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <system_error>

namespace testsupport {

namespace {

std::string makeTempDir(const std::filesystem::path& parent) {
    std::string pattern = (parent / "mmtest-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
    return pattern;
}

}  // namespace

TempDir::TempDir() : path_(makeTempDir(std::filesystem::temp_directory_path())) {}
TempDir::TempDir(const std::string& parent) : path_(makeTempDir(parent)) {}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

const std::string& scratchDir() {
    // A function-local static: made on first use, removed at exit.
    static const std::unique_ptr<TempDir> dir = [] {
        const char* build = std::getenv("MM_BUILD_DIR");
        return build != nullptr && *build != '\0' ? std::make_unique<TempDir>(build) : std::make_unique<TempDir>();
    }();
    return dir->path();
}

std::string scratchPath(const std::string& name) { return scratchDir() + "/" + name; }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(),
                                                                 static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::string writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::string run(const std::string& command, int* status) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) {
        if (status) *status = -1;
        return out;
    }
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int rc = ::pclose(p);
    if (status) *status = rc;
    return out;
}

int exitCode(const std::string& command) {
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool runQuiet(const std::string& command) { return exitCode(command) == 0; }

bool haveTool(const std::string& tool) { return runQuiet("command -v " + tool); }

}  // namespace testsupport
