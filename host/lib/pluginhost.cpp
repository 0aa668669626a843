#include <host/lib/pluginhost.hpp>

#include <common/exceptions/exceptions.hpp>
#include <platform/services/i18n/i18n.hpp>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <utility>

namespace mmhost {

namespace {

std::string lastDlError(const char* fallback) {
    const char* reason = dlerror();
    return reason != nullptr ? reason : fallback;
}

std::string describeFailure(const std::exception& failure) {
    if (const auto* common = dynamic_cast<const multimedia::common::exceptions::Exception*>(&failure)) {
        std::string text = common->name();
        const std::string detail = common->what();
        if (!detail.empty()) text += ": " + detail;
        return text;
    }
    return failure.what();
}

}  // namespace

video::VideoFrame* asFrame(const BufferPtr& buffer) {
    return dynamic_cast<video::VideoFrame*>(buffer.get());
}

// --- MessageLog ---

void MessageLog::postMessage(interfaces::IMessageInfo* message) {
    if (message == nullptr) return;
    // Ours from here on: copy what we keep, then release the plugin's object
    // whatever happens while copying.
    std::unique_ptr<interfaces::IMessageInfo, DestroyDeleter> owned(message);
    auto text = [](const char* characters) { return std::string(characters != nullptr ? characters : ""); };
    PostedMessage copy{text(message->getType()), text(message->getId()), text(message->getMessage())};
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(std::move(copy));
}

std::vector<PostedMessage> MessageLog::messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

std::vector<PostedMessage> MessageLog::take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<PostedMessage> taken;
    taken.swap(messages_);
    return taken;
}

std::size_t MessageLog::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_.size();
}

// --- OwnedProperties ---

OwnedProperties::OwnedProperties(OwnedProperties&& other) noexcept : list_(std::move(other.list_)) {
    other.list_.clear();
}

OwnedProperties& OwnedProperties::operator=(OwnedProperties&& other) noexcept {
    if (this != &other) {
        clear();
        list_.swap(other.list_);
    }
    return *this;
}

OwnedProperties::~OwnedProperties() { clear(); }

void OwnedProperties::clear() {
    for (interfaces::IPropertyInfo* property : list_) {
        if (property != nullptr) property->destroy();
    }
    list_.clear();
}

// --- Plugin ---

void requireInterfaceVersion(void* handle, const std::string& path) {
    using asyncioplugin::kit::kPluginInterfaceVersion;
    dlerror();
    auto version = reinterpret_cast<asyncioplugin::kit::PluginInterfaceVersionFn>(
        dlsym(handle, asyncioplugin::kit::kPluginInterfaceVersionSymbol));
    if (version == nullptr) {
        throw HostError(path + " exports no plugin interface version (" +
                        asyncioplugin::kit::kPluginInterfaceVersionSymbol + "): built for another host; this host uses version " +
                        std::to_string(kPluginInterfaceVersion));
    }
    const std::uint32_t theirs = version();
    if (theirs != kPluginInterfaceVersion) {
        throw HostError(path + " was built for plugin interface version " + std::to_string(theirs) +
                        "; this host uses version " + std::to_string(kPluginInterfaceVersion));
    }
}

std::shared_ptr<Plugin> Plugin::load(const std::string& path) {
    dlerror();
    // RTLD_NODELETE: a plugin that brought up GStreamer (or any GLib type
    // system) cannot be unmapped safely, and frames it delivered must stay
    // destroyable after the plugin object is gone.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (handle == nullptr) throw HostError("cannot load " + path + ": " + lastDlError("unknown error"));

    auto resolve = [&](const char* symbol) {
        dlerror();
        void* address = dlsym(handle, symbol);
        if (address == nullptr) {
            const std::string reason = lastDlError("symbol is null");
            dlclose(handle);
            throw HostError(path + " is no reader plugin: " + symbol + " missing (" + reason + ")");
        }
        return address;
    };
    auto createDevice =
        reinterpret_cast<asyncioplugin::kit::CreateDeviceFn>(resolve(asyncioplugin::kit::kCreateDeviceSymbol));
    auto createPluginInfo = reinterpret_cast<asyncioplugin::kit::CreatePluginInfoFn>(
        resolve(asyncioplugin::kit::kCreatePluginInfoSymbol));
    try {
        requireInterfaceVersion(handle, path);
    } catch (...) {
        dlclose(handle);
        throw;
    }
    try {
        return std::shared_ptr<Plugin>(new Plugin(path, handle, createDevice, createPluginInfo));
    } catch (...) {
        dlclose(handle);
        throw;
    }
}

Plugin::Plugin(std::string path, void* handle, asyncioplugin::kit::CreateDeviceFn createDevice,
               asyncioplugin::kit::CreatePluginInfoFn createPluginInfo)
    : path_(std::move(path)), handle_(handle), createDevice_(createDevice), createPluginInfo_(createPluginInfo) {}

Plugin::~Plugin() {
    if (handle_ != nullptr) dlclose(handle_);
}

std::string Plugin::name() const {
    std::string base = path_.substr(path_.find_last_of('/') == std::string::npos ? 0 : path_.find_last_of('/') + 1);
    if (base.rfind("lib", 0) == 0) base.erase(0, 3);
    const auto dot = base.find(".so");
    if (dot != std::string::npos) base.erase(dot);
    return base;
}

PluginInfoPtr Plugin::createPluginInfo() const {
    PluginInfoPtr info(createPluginInfo_());
    if (!info) throw HostError(path_ + ": createPluginInfo returned nothing");
    return info;
}

std::unique_ptr<Device> Plugin::createDevice() const {
    std::unique_ptr<Device> device(new Device(shared_from_this()));
    interfaces::device::IControl* control = nullptr;
    if (!createDevice_(&device->log_, &control) || control == nullptr) {
        throw HostError(path_ + ": createDevice refused");
    }
    device->control_ = control;
    device->source_ = control->getDataSource();
    device->polling_ = device->source_ != nullptr ? device->source_->getDataSourcePolling() : nullptr;
    if (device->polling_ == nullptr) throw HostError(path_ + ": the device is no polled data source");
    return device;
}

// --- PluginSummary ---

bool PluginSummary::reads(const std::string& extension) const {
    return std::find(readFormats.begin(), readFormats.end(), extension) != readFormats.end();
}

PluginSummary describe(const Plugin& plugin) {
    PluginInfoPtr info = plugin.createPluginInfo();
    PluginSummary summary;
    summary.name = plugin.name();
    summary.path = plugin.path();
    summary.priority = static_cast<int>(info->getPriority());
    for (const auto& format : info->getReadFormats()) summary.readFormats.push_back(format.extension);
    for (const auto& format : info->getWriteFormats()) summary.writeFormats.push_back(format.extension);
    return summary;
}

// --- Device ---

Device::Device(std::shared_ptr<const Plugin> plugin) : plugin_(std::move(plugin)) {}

Device::~Device() {
    outputs_.clear();
    if (control_ != nullptr) control_->destroy();
}

bool Device::initialize(const std::u16string& fileName, bool errorOnInitFail) {
    OwnedProperties inputs;
    inputs.add<std::u16string>("Filename", fileName).add<bool>("IsErrorOnInitFail", errorOnInitFail);
    initialize(inputs);
    return outputs_.get<bool>("IsPluginSuccess").value_or(false);
}

void Device::initialize(const OwnedProperties& inputs) {
    outputs_.clear();
    control_->initialize(inputs.list(), outputs_.list());
}

void Device::start(std::optional<double> readPosition, bool rowMajorInterleaved) {
    OwnedProperties inputs;
    if (readPosition) inputs.add<double>("ReadPosition", *readPosition);
    inputs.add<bool>("IsOutputRowMajorInterleaved", rowMajorInterleaved);
    start(inputs);
}

void Device::start(const OwnedProperties& inputs) { control_->start(inputs.list()); }

void Device::stop() { control_->stop(); }

bool Device::isDataAvailable() { return polling_->isDataAvailable(); }

bool Device::isDone() { return source_->isDone(); }

BufferPtr Device::getData() { return BufferPtr(polling_->getData()); }

// --- choosing a plugin ---

std::string extensionOf(const std::string& fileName) {
    const auto slash = fileName.find_last_of('/');
    const auto dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string extension = fileName.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

int unreadableReason(const std::string& path) {
    // Non-blocking, so that a FIFO with no writer does not hang the check.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno;
    int reason = 0;
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        reason = errno;
    } else if (S_ISDIR(status.st_mode)) {
        reason = EISDIR;
    }
    ::close(fd);
    return reason;
}

const std::vector<std::string>& knownReaderPlugins() {
    static const std::vector<std::string> names = {"mjpegaviplugin", "mj2kplugin", "gstplugin"};
    return names;
}

std::vector<std::shared_ptr<Plugin>> loadPlugins(const std::string& directory, const std::vector<std::string>& names,
                                                 std::vector<std::string>* skipped) {
    std::vector<std::shared_ptr<Plugin>> plugins;
    for (const std::string& name : names) {
        const std::string path = directory + "/lib" + name + ".so";
        try {
            plugins.push_back(Plugin::load(path));
        } catch (const std::exception& failure) {
            if (skipped != nullptr) skipped->push_back(failure.what());
        }
    }
    return plugins;
}

std::vector<std::shared_ptr<Plugin>> pluginsReading(const std::vector<std::shared_ptr<Plugin>>& plugins,
                                                    const std::string& extension, std::vector<std::string>* rejections) {
    struct Candidate {
        std::shared_ptr<Plugin> plugin;
        int priority;
    };
    std::vector<Candidate> candidates;
    for (const auto& plugin : plugins) {
        try {
            PluginSummary summary = describe(*plugin);
            if (summary.reads(extension)) candidates.push_back({plugin, summary.priority});
        } catch (const std::exception& failure) {
            if (rejections != nullptr) rejections->push_back(plugin->name() + ": " + describeFailure(failure));
        }
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.priority > b.priority; });
    std::vector<std::shared_ptr<Plugin>> ordered;
    ordered.reserve(candidates.size());
    for (Candidate& candidate : candidates) ordered.push_back(std::move(candidate.plugin));
    return ordered;
}

std::shared_ptr<Plugin> choosePlugin(const std::vector<std::shared_ptr<Plugin>>& plugins, const std::string& fileName,
                                     std::vector<std::string>* rejections) {
    const std::string extension = extensionOf(fileName);
    const auto candidates = pluginsReading(plugins, extension, rejections);
    const std::u16string wideName = toUtf16(fileName);
    for (const auto& plugin : candidates) {
        try {
            plugin->createPluginInfo()->validateReadFile(wideName);
            return plugin;
        } catch (const std::exception& failure) {
            if (rejections != nullptr) rejections->push_back(plugin->name() + ": " + describeFailure(failure));
        }
    }
    if (candidates.empty() && rejections != nullptr) {
        rejections->push_back("no plugin reads the extension \"" + extension + "\"");
    }
    return nullptr;
}

std::u16string toUtf16(const std::string& text) {
    return vq::filesystem::codecvt_narrow_string_to_ustring(false).do_convert(text.data(), text.size());
}

std::string toUtf8(const std::u16string& text) { return vq::i18n::ustring_to_utf8(text); }

}  // namespace mmhost
