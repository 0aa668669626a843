#include <host/plugintool.hpp>

#include <cstring>

#include <unistd.h>

namespace mmtool {

namespace {

std::string selfDirectory() {
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return ".";
    std::string path(self, static_cast<std::size_t>(length));
    return path.substr(0, path.find_last_of('/'));
}

std::string printable(const std::u16string& text) { return mmhost::toUtf8(text); }

std::shared_ptr<mmhost::Plugin> loadForced(const std::string& forced) {
    const std::string path =
        forced.find('/') != std::string::npos ? forced : pluginDirectory() + "/lib" + forced + ".so";
    return mmhost::Plugin::load(path);
}

}  // namespace

std::string pluginDirectory() { return selfDirectory() + "/../lib"; }

std::string takeOption(int& argc, char** argv, const char* name, const std::string& fallback, bool& missingValue) {
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], name) != 0) continue;
        if (i + 1 >= argc) {
            missingValue = true;
            return fallback;
        }
        std::string value = argv[i + 1];
        for (int j = i; j + 2 < argc; ++j) argv[j] = argv[j + 2];
        argc -= 2;
        return value;
    }
    return fallback;
}

OpenedFile openWithPlugin(const std::string& path, const std::string& forced, bool keepFailedDevice) {
    OpenedFile opened;
    try {
        if (!forced.empty()) {
            opened.plugin = loadForced(forced);
        } else {
            std::vector<std::string> skipped;
            const auto plugins = mmhost::loadPlugins(pluginDirectory(), mmhost::knownReaderPlugins(), &skipped);
            std::vector<std::string> rejections;
            opened.plugin = mmhost::choosePlugin(plugins, path, &rejections);
            if (!opened.plugin) {
                std::fprintf(stderr, "mmtool: no plugin reads %s\n", path.c_str());
                for (const auto& reason : rejections) std::fprintf(stderr, "  %s\n", reason.c_str());
                if (plugins.empty()) {
                    for (const auto& reason : skipped) std::fprintf(stderr, "  %s\n", reason.c_str());
                }
                return {};
            }
        }
        opened.device = opened.plugin->createDevice();
        if (!opened.device->initialize(mmhost::toUtf16(path))) {
            std::fprintf(stderr, "mmtool: %s could not open %s\n", opened.plugin->name().c_str(), path.c_str());
            printMessages(stderr, opened.device->messages().messages());
            if (!keepFailedDevice) return {};
        }
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "mmtool: %s\n", failure.what());
        return {};
    }
    return opened;
}

void printProperties(std::FILE* out, const mmhost::OwnedProperties& properties) {
    namespace kd = asyncioplugin::kit::device;
    for (const auto* property : properties.list()) {
        if (property == nullptr) continue;
        const char* name = property->getName();
        if (const auto* p = dynamic_cast<const kd::DoubleProperty*>(property)) {
            std::fprintf(out, "  %-18s %.10g\n", name, p->value);
        } else if (const auto* p = dynamic_cast<const kd::BoolProperty*>(property)) {
            std::fprintf(out, "  %-18s %s\n", name, p->value ? "true" : "false");
        } else if (const auto* p = dynamic_cast<const kd::TextProperty*>(property)) {
            std::fprintf(out, "  %-18s \"%s\"\n", name, printable(p->value).c_str());
        } else if (const auto* p = dynamic_cast<const kd::BytesProperty*>(property)) {
            std::fprintf(out, "  %-18s %zu bytes\n", name, p->value.size());
        } else {
            std::fprintf(out, "  %-18s (value of an unknown kind)\n", name);
        }
    }
}

void printMessages(std::FILE* out, const std::vector<mmhost::PostedMessage>& messages) {
    for (const auto& message : messages) {
        std::fprintf(out, "  %s %s%s%s\n", message.type.c_str(), message.id.c_str(), message.text.empty() ? "" : ": ",
                     message.text.c_str());
    }
}

int printPluginInfo(const std::string& path, const std::string& forced) {
    OpenedFile opened = openWithPlugin(path, forced, true);
    if (!opened.plugin) return 1;
    try {
        const mmhost::PluginSummary summary = mmhost::describe(*opened.plugin);
        std::printf("plugin:           %s (priority %d)\n", summary.name.c_str(), summary.priority);
    } catch (const std::exception& failure) {
        std::printf("plugin:           %s (%s)\n", opened.plugin->name().c_str(), failure.what());
    }
    if (!opened.device) return 1;
    std::printf("properties:\n");
    printProperties(stdout, opened.device->properties());
    const auto messages = opened.device->messages().messages();
    std::printf("messages:         %zu\n", messages.size());
    printMessages(stdout, messages);
    return opened.device->properties().get<bool>("IsPluginSuccess").value_or(false) ? 0 : 1;
}

}  // namespace mmtool
