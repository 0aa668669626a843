#pragma once
// Ratios against baselines measured in the same run, printed the same way by
// every benchmark and gathered by scripts/bench into one table.
//
// Use (link mm_bench_support; scripts/bench finds every program in
// build/bench that does):
//
//     int main(int argc, char** argv) {
//         benchratio::Session session("my_bench", argc, argv);
//         session.run();                              // the registered benchmarks
//         session.speed("ours / theirs", "BM_Ours", "BM_Theirs", 1.2);
//         return session.finish();                    // prints the ratios
//     }
//
// speed() compares two benchmarks by time per iteration (median of
// repetitions when repeated; wall clock, or the benchmark thread's CPU time
// with Reporter::Timer::Cpu): baseline time / subject time, so 1.2 means
// the subject is 20% faster. Benchmarks are named as Google Benchmark names
// them, arguments included ("BM_Copy/1920/1080"), without the min_time,
// repeats and real_time suffixes. cpu() does the same with the CPU seconds per
// iteration a benchmark noted with noteCpu() (its own or its children's,
// see cpuSeconds()); value() reports a figure computed by the benchmark.
// A goal of benchratio::kNoGoal marks an informational row. With
// BENCHRATIO_FILE set, finish() appends each row to that file as
//     benchmark <TAB> label <TAB> value <TAB> comparison <TAB> goal <TAB> met|missed|-|n/a

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace benchratio {

constexpr double kNoGoal = -1.0;

// User + system seconds of this process (RUSAGE_SELF) or of its waited-for
// children (RUSAGE_CHILDREN) so far.
double cpuSeconds(int who);

// Runs a shell command once per iteration of `state` and notes, under
// `name`, the CPU seconds its processes used per iteration (see
// Session::cpu). A failed run skips the benchmark with an error; returns
// whether every run succeeded.
bool runCommand(benchmark::State& state, const std::string& name, const std::string& command);

// The console reporter that also keeps each benchmark's time per iteration.
class Reporter : public benchmark::ConsoleReporter {
public:
    Reporter();  // colours only on a terminal
    void ReportRuns(const std::vector<Run>& runs) override;
    // Seconds per iteration, or a negative value when the benchmark did not
    // run: wall-clock time, or with `timer` CPU time of the benchmark's
    // thread as Google Benchmark measures it (a loaded machine stretches it
    // less).
    enum class Timer { Real, Cpu };
    double seconds(const std::string& name, Timer timer = Timer::Real) const;

private:
    std::map<std::string, double> seconds_;
    std::map<std::string, double> cpuSeconds_;
    std::map<std::string, bool> median_;
};

class Session {
public:
    // Initialises Google Benchmark with the program's arguments.
    Session(std::string benchmark, int& argc, char** argv);

    void run();
    Reporter& reporter() { return reporter_; }

    // CPU seconds one iteration of a benchmark used.
    static void noteCpu(benchmark::State& state, const std::string& name, double seconds);

    // baseline / subject by time per iteration; met when >= goal.
    void speed(const std::string& label, const std::string& subject, const std::string& baseline,
               double goal = kNoGoal, Reporter::Timer timer = Reporter::Timer::Real);
    // subject / baseline by CPU seconds per iteration; met when <= goal.
    void cpu(const std::string& label, const std::string& subject, const std::string& baseline,
             double goal = kNoGoal);
    // A figure of the benchmark's own; met when >= goal (or <= goal with atMost).
    void value(const std::string& label, double value, double goal = kNoGoal, bool atMost = false);

    // Prints the rows (and writes them to BENCHRATIO_FILE); returns 0.
    int finish();

private:
    struct Row {
        std::string label;
        double value;  // negative: not measured
        double goal;
        bool atMost;
    };
    std::string benchmark_;
    std::string context_;
    Reporter reporter_;
    std::vector<Row> rows_;
};

}  // namespace benchratio
