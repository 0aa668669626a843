// mmtool: the libraries from the command line, the way an outside program
// drives them. Exit status: 0 done, 1 the work failed, 2 the command line was
// wrong (usage on stderr).
#include "commands.hpp"

#include <cmath>
#include <iostream>
#include <vector>

namespace mmtool {

const CLI::Validator& finiteNumber() {
    static const CLI::Validator validator(
        [](std::string& text) -> std::string {
            double value = 0;
            if (!CLI::detail::lexical_cast(text, value) || !std::isfinite(value)) return "not a finite number: " + text;
            return {};
        },
        "NUMBER");
    return validator;
}

const CLI::Validator& count() {
    static const CLI::Validator validator(
        [](std::string& text) -> std::string {
            long value = 0;
            if (!CLI::detail::lexical_cast(text, value) || value < 0) return "not a count: " + text;
            return {};
        },
        "N");
    return validator;
}

}  // namespace mmtool

int main(int argc, char** argv) {
    CLI::App app{"Reads and writes video files through the multimedia libraries and their reader plugins.", "mmtool"};
    app.set_version_flag("--version", "mmtool " MMTOOL_VERSION);
    app.require_subcommand(1);
    const std::vector<mmtool::Command> commands = {mmtool::addInfo(app), mmtool::addFrames(app),
                                                   mmtool::addConvert(app), mmtool::addSample(app)};
    // CLI11 would call a mistyped command a missing one.
    const std::string first = argc > 1 ? argv[1] : "-";
    if (first[0] != '-' && app.get_subcommands([&](CLI::App* c) { return c->check_name(first); }).empty()) {
        std::cerr << "mmtool: unknown command: " << argv[1] << "\n\n" << app.help();
        return 2;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();  // the help of the command named, if any
        return 0;
    } catch (const CLI::CallForAllHelp&) {
        std::cout << app.help("", CLI::AppFormatMode::All);
        return 0;
    } catch (const CLI::CallForVersion& version) {
        std::cout << version.what() << '\n';
        return 0;
    } catch (const CLI::ParseError& wrong) {
        std::cerr << "mmtool: " << wrong.what() << "\n\n" << app.help();
        return 2;
    }
    std::cout.flush();
    for (const mmtool::Command& command : commands) {
        if (command.app->parsed()) return command.run();
    }
    return 2;  // require_subcommand makes this unreachable
}
