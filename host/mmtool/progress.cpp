#include "progress.hpp"

#include <algorithm>
#include <cstdio>
#include <utility>

#include <unistd.h>

namespace mmtool {

Progress::Progress(std::uint64_t total, std::string unit)
    : total_(total), unit_(std::move(unit)), enabled_(isatty(STDERR_FILENO) != 0) {}

void Progress::update(std::uint64_t done) {
    if (!enabled_) return;
    if (total_ == 0) {
        // No end known: redraw the count now and then.
        if (drawn_ && done - lastDone_ < 25) return;
        lastDone_ = done;
        drawn_ = true;
        std::fprintf(stderr, "\r%llu %s", static_cast<unsigned long long>(done), unit_.c_str());
        std::fflush(stderr);
        return;
    }
    const std::uint64_t shown = std::min(done, total_);
    const int percent = static_cast<int>(shown * 100 / total_);
    if (percent == lastPercent_) return;
    lastPercent_ = percent;
    drawn_ = true;
    constexpr int kWidth = 30;
    std::string bar(kWidth, '.');
    std::fill(bar.begin(), bar.begin() + percent * kWidth / 100, '#');
    std::fprintf(stderr, "\r[%s] %3d%%  %llu/%llu %s", bar.c_str(), percent, static_cast<unsigned long long>(shown),
                 static_cast<unsigned long long>(total_), unit_.c_str());
    std::fflush(stderr);
}

void Progress::finish() {
    if (drawn_) std::fprintf(stderr, "\n");
    drawn_ = false;
}

}  // namespace mmtool
