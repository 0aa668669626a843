// mmtool convert [--plugin P] IN OUT.avi: an AVI that avi::File reads
// (uncompressed video, PCM audio) is copied stream by stream; any other video
// goes through a reader plugin into a 24-bit AVI.
#include "convert.hpp"

#include "commands.hpp"
#include "plugintool.hpp"

#include <memory>
#include <string>

namespace mmtool {

namespace {

struct ConvertOptions {
    std::string input;
    std::string output;
    std::string plugin;
};

int run(const ConvertOptions& options) {
    if (!readable(options.input)) return 1;
    if (options.plugin.empty()) {
        avi::File in;
        if (copyableAvi(in, options.input)) return copyAvi(in, options.input, options.output);
    }
    return convertThroughPlugin(options.input, options.output, options.plugin);
}

}  // namespace

Command addConvert(CLI::App& app) {
    auto options = std::make_shared<ConvertOptions>();
    CLI::App* convert = app.add_subcommand(
        "convert", "an AVI (or, through a reader plugin, any video) into an uncompressed OpenDML AVI");
    convert
        ->add_option("--plugin", options->plugin,
                     "read through this plugin even when the AVI library could copy the file")
        ->type_name("NAME");
    convert->add_option("IN", options->input, "the video to read")->required();
    convert->add_option("OUT", options->output, "the AVI to write")->required();
    return {convert, [options] { return run(*options); }};
}

}  // namespace mmtool
