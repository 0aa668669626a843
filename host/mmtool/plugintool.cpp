#include "plugintool.hpp"

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

std::unique_ptr<mmhost::FlowConverter> loadFlowConverter() {
    try {
        return mmhost::FlowConverter::load(pluginDirectory());
    } catch (const mmhost::HostError& failure) {
        std::fprintf(stderr, "mmtool: %s\n", failure.what());
        return nullptr;
    }
}

bool readable(const std::string& path) {
    const int reason = mmhost::unreadableReason(path);
    if (reason == 0) return true;
    std::fprintf(stderr, "mmtool: %s: %s\n", path.c_str(), std::strerror(reason));
    return false;
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

}  // namespace mmtool
