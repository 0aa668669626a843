#pragma once
// mmtool's commands. Each file adds its subcommand, with its options and
// arguments, to the command line and answers what runs it; main() parses the
// line and runs the command it names.

#include <CLI/CLI.hpp>

#include <functional>
#include <string>

namespace mmtool {

struct Command {
    CLI::App* app;
    std::function<int()> run;
};

Command addInfo(CLI::App& app);
Command addFrames(CLI::App& app);
Command addConvert(CLI::App& app);
Command addSample(CLI::App& app);

// Refuses NaN and the infinities, which a double option would otherwise take.
const CLI::Validator& finiteNumber();
// A whole number of at least 0.
const CLI::Validator& count();

}  // namespace mmtool
