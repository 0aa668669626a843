#include "pluginchoice.hpp"

#include <common/exceptions/exceptions.hpp>

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>

namespace mmpython {

namespace {

using mmhost::PostedMessage;

// --- finding the plugins ---

std::string moduleDirectory() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&moduleDirectory), &info) == 0 || info.dli_fname == nullptr) return ".";
    const std::string path = info.dli_fname;
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// The plugins sit beside the libraries: build/lib next to build/python in the
// build tree, the library folder above the Python folder once installed.
std::string pluginDirectory() {
    const std::string here = moduleDirectory();
    for (const char* relative : {MM_PYTHON_PLUGIN_DIRS}) {
        const std::string candidate = here + "/" + relative;
        for (const std::string& name : mmhost::knownReaderPlugins()) {
            if (::access((candidate + "/lib" + name + ".so").c_str(), R_OK) == 0) return candidate;
        }
    }
    return here;
}

// Loaded once per process; plugins stay mapped for its life anyway.
const std::vector<std::shared_ptr<mmhost::Plugin>>& readerPlugins() {
    static std::once_flag once;
    static std::vector<std::shared_ptr<mmhost::Plugin>> plugins;
    static std::vector<std::string> skipped;
    std::call_once(once, [] { plugins = mmhost::loadPlugins(pluginDirectory(), mmhost::knownReaderPlugins(), &skipped); });
    if (plugins.empty()) {
        std::string why = "no reader plugin could be loaded from " + pluginDirectory();
        for (const std::string& reason : skipped) why += "; " + reason;
        throw KindError("PluginNotLoaded", why);
    }
    return plugins;
}

// "multimedia:videofile:NoVideo" -> "NoVideo".
std::string kindOf(const PostedMessage& message) {
    const auto colon = message.id.find_last_of(':');
    return colon == std::string::npos ? message.id : message.id.substr(colon + 1);
}

}  // namespace

// The common exception a refusal carried, as a failure kind and text.
KindError refusal(const std::string& plugin, const std::exception& failure) {
    if (const auto* common = dynamic_cast<const multimedia::common::exceptions::Exception*>(&failure)) {
        const std::string detail = common->what();
        return KindError(common->name(), plugin + ": " + (detail.empty() ? common->name() : detail));
    }
    return KindError("ReadFailed", plugin + ": " + failure.what());
}

// The host's choice (extension, priority, validateReadFile), keeping the
// failure kind of the refusal of the first candidate when none accepts.
std::shared_ptr<mmhost::Plugin> choosePlugin(const std::string& path) {
    const std::string extension = mmhost::extensionOf(path);
    const auto candidates = mmhost::pluginsReading(readerPlugins(), extension);
    if (candidates.empty()) {
        throw KindError("FileTypeNotSupported", path + ": no reader plugin reads \"" + extension + "\" files");
    }
    std::optional<KindError> first;
    std::string reasons;
    const std::u16string wideName = mmhost::toUtf16(path);
    for (const auto& plugin : candidates) {
        try {
            plugin->createPluginInfo()->validateReadFile(wideName);
            return plugin;
        } catch (const std::exception& failure) {
            KindError why = refusal(plugin->name(), failure);
            reasons += (reasons.empty() ? "" : "; ") + std::string(why.what());
            if (!first) first = why;
        }
    }
    throw KindError(first->kind(), path + ": no reader plugin opens the file (" + reasons + ")");
}

std::shared_ptr<mmhost::Plugin> loadPlugin(const std::string& plugin) {
    return mmhost::Plugin::load(plugin.find('/') != std::string::npos ? plugin
                                                                       : pluginDirectory() + "/lib" + plugin + ".so");
}

// Refuses a file that cannot be opened at all, with the system's reason.
void requireReadable(const std::string& path) {
    const int reason = mmhost::unreadableReason(path);
    if (reason == 0) return;
    const std::string text = path + ": " + std::strerror(reason);
    if (reason == ENOENT || reason == ENOTDIR) throw KindError("FileNotFound", text);
    if (reason == EACCES || reason == EPERM) throw KindError("FilePermissionDenied", text);
    throw KindError("ReadFailed", text);
}

// Posted warnings become Python warnings; the first posted error is raised.
// Runs with the interpreter lock held.
void deliverMessages(const std::vector<PostedMessage>& messages, const std::string& path) {
    for (const PostedMessage& message : messages) {
        if (message.type == "warning") warn(path + ": " + kindOf(message) + ": " + message.text);
    }
    for (const PostedMessage& message : messages) {
        if (message.type == "error") {
            throw KindError(kindOf(message), path + ": " + (message.text.empty() ? kindOf(message) : message.text));
        }
    }
}

}  // namespace mmpython
