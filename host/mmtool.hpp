#pragma once
// mmtool subcommands. Each lives in its own file and registers itself with
// one line:
//     MMTOOL_COMMAND(info, "info FILE.avi", "what avi::File reports about FILE");
// where `int info(int argc, char** argv)` gets the arguments after the name.

#include <cstdio>

namespace mmtool {

using CommandFn = int (*)(int argc, char** argv);

struct Command {
    const char* name;
    const char* usage;
    const char* summary;
    CommandFn run;
    Command* next;
};

// Adds a command to the table; MMTOOL_COMMAND makes one per command, with
// static lifetime, at start-up.
struct Registrar {
    Registrar(const char* name, const char* usage, const char* summary, CommandFn run);
    Command command;
};

const Command* commands();

}  // namespace mmtool

#define MMTOOL_COMMAND(fn, usage, summary) \
    int fn(int argc, char** argv);         \
    static const ::mmtool::Registrar mmtoolRegistrar_##fn{#fn, usage, summary, fn}
