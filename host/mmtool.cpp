// mmtool: a command-line front end to the libraries, one subcommand per file.
#include "mmtool.hpp"

#include <cstring>

namespace mmtool {

namespace {

Command* head = nullptr;

}  // namespace

Registrar::Registrar(const char* name, const char* usage, const char* summary, CommandFn run)
    : command{name, usage, summary, run, nullptr} {
    // Kept sorted by name so the help lists them in a stable order.
    Command** at = &head;
    while (*at && std::strcmp((*at)->name, name) < 0) at = &(*at)->next;
    command.next = *at;
    *at = &command;
}

const Command* commands() { return head; }

}  // namespace mmtool

namespace {

void usage(std::FILE* out) {
    std::fprintf(out, "usage: mmtool COMMAND [ARGS]\n\ncommands:\n");
    for (const mmtool::Command* c = mmtool::commands(); c; c = c->next)
        std::fprintf(out, "  %-28s %s\n", c->usage, c->summary);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0) {
        usage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    for (const mmtool::Command* c = mmtool::commands(); c; c = c->next)
        if (std::strcmp(c->name, argv[1]) == 0) return c->run(argc - 2, argv + 2);
    std::fprintf(stderr, "mmtool: unknown command '%s'\n\n", argv[1]);
    usage(stderr);
    return 2;
}
