#pragma once
// What every test folder needs around the code under test: a scratch folder,
// files read and written whole, shell commands and the peer tools they call.
// Linked into every test binary (tests/support).

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// The process's scratch folder, made on first use (inside $MM_BUILD_DIR when
// set, where the large-file tests find room, else in the temporary folder)
// and removed with everything in it when the process ends.
const std::string& scratchDir();
std::string scratchPath(const std::string& name);

// A fresh folder of its own, removed with its files when the object goes.
class TempDir {
public:
    TempDir();
    explicit TempDir(const std::string& parent);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A whole file; empty when it cannot be read.
std::string readFile(const std::string& path);
std::vector<std::uint8_t> readBytes(const std::string& path);
// Writes (replaces) a whole file; returns the path.
std::string writeFile(const std::string& path, const std::string& bytes);
std::string writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Runs a shell command; returns its standard output and, in *status, the
// status pclose reports (-1 when it could not start).
std::string run(const std::string& command, int* status = nullptr);
// Runs a shell command with its output discarded; true when it exits with 0.
bool runQuiet(const std::string& command);
// The exit code of a shell command whose output is discarded, -1 when it
// did not exit normally.
int exitCode(const std::string& command);
bool haveTool(const std::string& tool);

}  // namespace testsupport
