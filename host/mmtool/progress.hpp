#pragma once
// The progress bar of the long-running commands: "[#####.........]  45%  135/300 frames"
// on stderr while stderr is a terminal, nothing otherwise, so that logs and
// pipes see only the one-line summary.

#include <cstdint>
#include <string>

namespace mmtool {

class Progress {
public:
    // `total` units are expected; 0 when unknown, which shows a bare count.
    Progress(std::uint64_t total, std::string unit);
    void update(std::uint64_t done);
    // Ends the bar's line, when one was drawn.
    void finish();

private:
    std::uint64_t total_;
    std::string unit_;
    bool enabled_;
    bool drawn_ = false;
    int lastPercent_ = -1;
    std::uint64_t lastDone_ = 0;
};

}  // namespace mmtool
