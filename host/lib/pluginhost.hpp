#pragma once
// The reference plugin host: loads reader plugins by path, asks them what they
// read, and drives their devices through the kit's interfaces exactly as an
// outside host does. Everything a plugin hands over is released by the rules
// of the kit: devices, properties, messages and frames with their destroy(),
// plugin information through its virtual destructor.
//
// Failures of the host itself (a library that does not load, a missing entry
// point, a plugin built for another interface version, a device the plugin
// refuses to create) are thrown as HostError.
// Failures inside a device arrive as posted messages, collected in the
// device's MessageLog.

#include <common/export.hpp>
#include <plugins/kit/entrypoints.hpp>
#include <plugins/kit/interfaces.hpp>
#include <plugins/kit/plugininfo.hpp>
#include <plugins/kit/properties.hpp>
#include <plugins/kit/videoframe.hpp>

#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace mmhost {

namespace interfaces = asyncioplugin::interfaces;
namespace avfileio = multimedia::common::avfileio;

class MM_EXPORT HostError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Releases a plugin object through its own destroy().
struct DestroyDeleter {
    template <class T>
    void operator()(T* object) const {
        if (object != nullptr) object->destroy();
    }
};

using BufferPtr = std::unique_ptr<interfaces::IDataBuffer, DestroyDeleter>;
using PluginInfoPtr = std::unique_ptr<avfileio::IPluginInfo>;

// The frame inside a delivered buffer, or null when the buffer is no frame.
MM_EXPORT video::VideoFrame* asFrame(const BufferPtr& buffer);

struct PostedMessage {
    std::string type;
    std::string id;
    std::string text;
};

// The host object given to devices: copies each posted message and releases
// the plugin's object at once. Safe to post to from any thread.
class MM_EXPORT MessageLog final : public interfaces::device::IDeviceHost {
public:
    void postMessage(interfaces::IMessageInfo* message) override;

    std::vector<PostedMessage> messages() const;
    // The messages posted since the last take().
    std::vector<PostedMessage> take();
    std::size_t size() const;

private:
    mutable std::mutex mutex_;
    std::vector<PostedMessage> messages_;
};

// A list of properties the holder owns; each is released with destroy().
class MM_EXPORT OwnedProperties {
public:
    OwnedProperties() = default;
    OwnedProperties(const OwnedProperties&) = delete;
    OwnedProperties& operator=(const OwnedProperties&) = delete;
    OwnedProperties(OwnedProperties&& other) noexcept;
    OwnedProperties& operator=(OwnedProperties&& other) noexcept;
    ~OwnedProperties();

    // Adds a new scalar property (for input properties made by the host).
    template <class T>
    OwnedProperties& add(const char* name, T value) {
        asyncioplugin::kit::device::publish<T>(list_, name, std::move(value));
        return *this;
    }

    template <class T>
    std::optional<T> get(const char* name) const {
        return asyncioplugin::kit::device::scalar<T>(list_, name);
    }

    template <class P>
    const P* find(const char* name) const {
        return asyncioplugin::kit::device::findProperty<P>(list_, name);
    }

    void clear();
    interfaces::PropertyList& list() { return list_; }
    const interfaces::PropertyList& list() const { return list_; }
    std::size_t size() const { return list_.size(); }

private:
    interfaces::PropertyList list_;
};

class Device;

// Checks that the loaded library `handle` (from `path`) exports
// pluginInterfaceVersion and that it answers this host's version; throws
// HostError saying which is wrong otherwise. Plugins and converters alike.
MM_EXPORT void requireInterfaceVersion(void* handle, const std::string& path);

// A loaded reader plugin library. The library stays mapped for the life of
// the process (see load()), so objects it made stay usable after this object
// is gone; still, devices keep their plugin alive.
class MM_EXPORT Plugin : public std::enable_shared_from_this<Plugin> {
public:
    // Loads the library at `path` and checks that it exports createDevice,
    // createPluginInfo and this host's interface version. Throws HostError
    // when any of them fails.
    static std::shared_ptr<Plugin> load(const std::string& path);
    ~Plugin();

    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    const std::string& path() const { return path_; }
    // The file name without "lib" and ".so", e.g. "gstplugin".
    std::string name() const;

    PluginInfoPtr createPluginInfo() const;
    std::unique_ptr<Device> createDevice() const;

private:
    Plugin(std::string path, void* handle, asyncioplugin::kit::CreateDeviceFn createDevice,
           asyncioplugin::kit::CreatePluginInfoFn createPluginInfo);

    std::string path_;
    void* handle_;
    asyncioplugin::kit::CreateDeviceFn createDevice_;
    asyncioplugin::kit::CreatePluginInfoFn createPluginInfo_;
};

// What a plugin's information object answers.
struct PluginSummary {
    std::string name;
    std::string path;
    int priority = 0;
    std::vector<std::string> readFormats;
    std::vector<std::string> writeFormats;

    bool reads(const std::string& extension) const;
};

MM_EXPORT PluginSummary describe(const Plugin& plugin);

// One device of a plugin, with the host object it posts to.
class MM_EXPORT Device {
public:
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // Calls initialize with "Filename" and "IsErrorOnInitFail"; the output
    // properties replace those of an earlier call. Answers the published
    // "IsPluginSuccess" (false when it is missing). Exceptions the device lets
    // out pass to the caller.
    bool initialize(const std::u16string& fileName, bool errorOnInitFail = true);
    // Calls initialize with the caller's own input properties.
    void initialize(const OwnedProperties& inputs);
    const OwnedProperties& properties() const { return outputs_; }

    // Calls start with "ReadPosition" (when given) and "IsOutputRowMajorInterleaved".
    void start(std::optional<double> readPosition, bool rowMajorInterleaved);
    void start(const OwnedProperties& inputs);
    void stop();
    bool isDataAvailable();
    bool isDone();
    // The next buffer, or null.
    BufferPtr getData();

    const MessageLog& messages() const { return log_; }
    MessageLog& messages() { return log_; }

    // The device's faces, for callers that drive it by hand.
    interfaces::device::IControl* control() { return control_; }
    interfaces::device::IDataSource* source() { return source_; }
    interfaces::device::IDataSourcePolling* polling() { return polling_; }

private:
    friend class Plugin;
    explicit Device(std::shared_ptr<const Plugin> plugin);

    std::shared_ptr<const Plugin> plugin_;
    MessageLog log_;  // declared before the device, which holds a pointer to it
    interfaces::device::IControl* control_ = nullptr;
    interfaces::device::IDataSource* source_ = nullptr;
    interfaces::device::IDataSourcePolling* polling_ = nullptr;
    OwnedProperties outputs_;
};

// The lower-case extension of a file name without the dot ("" when none).
MM_EXPORT std::string extensionOf(const std::string& fileName);

// Why `path` cannot be read, as an errno value (EISDIR for a folder), or 0
// when it can. A host asks before trying any plugin, so that a missing file
// is refused with the system's reason rather than every plugin's refusal.
MM_EXPORT int unreadableReason(const std::string& path);

// Loads every library in `directory` whose name is one of `names` (e.g.
// "gstplugin" for libgstplugin.so) and that loads as a reader plugin; those
// that do not are skipped, their reason appended to `skipped` when given.
MM_EXPORT std::vector<std::shared_ptr<Plugin>> loadPlugins(const std::string& directory,
                                                           const std::vector<std::string>& names,
                                                           std::vector<std::string>* skipped = nullptr);

// The reader plugins this project builds, by name.
MM_EXPORT const std::vector<std::string>& knownReaderPlugins();

// The plugins that list `extension` among their read formats, highest
// priority first (ties keep their order). A plugin that cannot describe
// itself is left out, its reason appended to `rejections` when given.
MM_EXPORT std::vector<std::shared_ptr<Plugin>> pluginsReading(const std::vector<std::shared_ptr<Plugin>>& plugins,
                                                              const std::string& extension,
                                                              std::vector<std::string>* rejections = nullptr);

// The plugin to read `fileName`: among the plugins that list its extension,
// highest priority first, the first whose validateReadFile accepts the file.
// Null when none does; `rejections` then says why each candidate refused.
MM_EXPORT std::shared_ptr<Plugin> choosePlugin(const std::vector<std::shared_ptr<Plugin>>& plugins,
                                               const std::string& fileName,
                                               std::vector<std::string>* rejections = nullptr);

// UTF-8 <-> UTF-16 for file names and property texts.
MM_EXPORT std::u16string toUtf16(const std::string& text);
MM_EXPORT std::string toUtf8(const std::u16string& text);

}  // namespace mmhost
