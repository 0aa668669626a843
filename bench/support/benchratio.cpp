#include <bench/support/benchratio.hpp>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>

namespace benchratio {

namespace {

// scripts/bench runs every program under build/bench holding this text.
[[gnu::used]] const char kMarker[] = "benchratio-session-v1";

std::mutex cpuMutex;
std::map<std::string, double>& cpuPerIteration() {
    static std::map<std::string, double> perIteration;
    return perIteration;
}

double cpuOf(const std::string& name) {
    std::lock_guard<std::mutex> lock(cpuMutex);
    const auto it = cpuPerIteration().find(name);
    return it == cpuPerIteration().end() ? -1.0 : it->second;
}

// The machine's load when the ratios were taken: the benchmarks run on
// shared machines, and the figures mean little without it.
std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    double one = 0, five = 0;
    if (!(in >> one >> five)) return "load unknown";
    char text[64];
    std::snprintf(text, sizeof text, "load %.2f (1 min) %.2f (5 min)", one, five);
    return text;
}

}  // namespace

double cpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool runCommand(benchmark::State& state, const std::string& name, const std::string& command) {
    const double before = cpuSeconds(RUSAGE_CHILDREN);
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError(("failed: " + command).c_str());
            return false;
        }
    }
    Session::noteCpu(state, name, cpuSeconds(RUSAGE_CHILDREN) - before);
    return true;
}

Reporter::Reporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_Defaults : OO_None) {}

void Reporter::ReportRuns(const std::vector<Run>& runs) {
    for (const Run& run : runs) {
        if (run.error_occurred) continue;
        // "BM_Copy" or, for a benchmark with arguments, "BM_Copy/1920/1080".
        const std::string name = run.run_name.function_name +
                                 (run.run_name.args.empty() ? "" : "/" + run.run_name.args);
        const double unit = benchmark::GetTimeUnitMultiplier(run.time_unit);
        const bool keep = run.run_type == Run::RT_Aggregate ? run.aggregate_name == "median" : !median_[name];
        if (keep) {
            seconds_[name] = run.GetAdjustedRealTime() / unit;
            cpuSeconds_[name] = run.GetAdjustedCPUTime() / unit;
            if (run.run_type == Run::RT_Aggregate) median_[name] = true;
        }
    }
    ConsoleReporter::ReportRuns(runs);
}

double Reporter::seconds(const std::string& name, Timer timer) const {
    const auto& times = timer == Timer::Real ? seconds_ : cpuSeconds_;
    const auto it = times.find(name);
    return it == times.end() ? -1.0 : it->second;
}

Session::Session(std::string benchmark, int& argc, char** argv) : benchmark_(std::move(benchmark)) {
    benchmark::Initialize(&argc, argv);
}

void Session::run() {
    benchmark::RunSpecifiedBenchmarks(&reporter_);
    context_ = loadAverage();
}

void Session::noteCpu(benchmark::State& state, const std::string& name, double seconds) {
    if (state.iterations() == 0) return;
    const double perIteration = seconds / static_cast<double>(state.iterations());
    state.counters["cpu_ms"] = 1e3 * perIteration;
    std::lock_guard<std::mutex> lock(cpuMutex);
    cpuPerIteration()[name] = perIteration;
}

void Session::speed(const std::string& label, const std::string& subject, const std::string& baseline,
                    double goal, Reporter::Timer timer) {
    const double s = reporter_.seconds(subject, timer), b = reporter_.seconds(baseline, timer);
    rows_.push_back({label, s > 0 && b > 0 ? b / s : -1.0, goal, false});
}

void Session::cpu(const std::string& label, const std::string& subject, const std::string& baseline,
                  double goal) {
    const double s = cpuOf(subject), b = cpuOf(baseline);
    rows_.push_back({label, s > 0 && b > 0 ? s / b : -1.0, goal, true});
}

void Session::value(const std::string& label, double value, double goal, bool atMost) {
    rows_.push_back({label, value, goal, atMost});
}

int Session::finish() {
    if (context_.empty()) context_ = loadAverage();
    std::printf("\nRatios of %s (same run; %s):\n", benchmark_.c_str(), context_.c_str());
    const char* file = std::getenv("BENCHRATIO_FILE");
    std::ofstream out;
    if (file != nullptr && *file != '\0') out.open(file, std::ios::app);
    for (const Row& row : rows_) {
        const bool measured = row.value >= 0;
        const bool hasGoal = row.goal != kNoGoal;
        const bool met = row.atMost ? row.value <= row.goal : row.value >= row.goal;
        const char* verdict = !measured ? "n/a" : !hasGoal ? "-" : met ? "met" : "missed";
        char value[32] = "n/a", goal[32] = "-";
        if (measured) std::snprintf(value, sizeof value, "%.3f", row.value);
        if (hasGoal) std::snprintf(goal, sizeof goal, "%s %.2f", row.atMost ? "<=" : ">=", row.goal);
        std::printf("  %-60s %9s  goal %-8s %s\n", row.label.c_str(), value, goal, verdict);
        if (out) {
            out << benchmark_ << '\t' << row.label << '\t' << value << '\t' << goal << '\t' << verdict << '\n';
        }
    }
    if (out) out << benchmark_ << '\t' << "(" << context_ << ")" << "\t\t\t\n";
    benchmark::Shutdown();
    return 0;
}

}  // namespace benchratio
