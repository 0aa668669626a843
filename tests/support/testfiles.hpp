#pragma once
// Scratch files and peer tools for tests.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace avitest {

// A fresh directory removed with its files when the object goes.
class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/mmtest-XXXXXX";
        const char* made = ::mkdtemp(tmpl);
        path_ = made ? made : "/tmp";
    }
    ~TempDir() {
        if (path_ != "/tmp") {
            const std::string cmd = "rm -rf '" + path_ + "'";
            (void)std::system(cmd.c_str());
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Runs a shell command; returns its standard output, and its exit status in *status.
inline std::string run(const std::string& command, int* status = nullptr) {
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

inline bool haveTool(const std::string& tool) {
    int rc = 0;
    run("command -v " + tool + " >/dev/null 2>&1", &rc);
    return rc == 0;
}

}  // namespace avitest
