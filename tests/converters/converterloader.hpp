#pragma once
// Loads a converter plugin from the build tree the way a host does: dlopen,
// look up the unmangled `createConverter`, and release the converter through
// its own `destroy`.

#include <converters/iconverter.hpp>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace convtest {

using asyncioplugin::interfaces::converter::CreateConverterFn;
using asyncioplugin::interfaces::converter::IConverter;

struct ConverterDeleter {
    void operator()(IConverter* converter) const {
        if (converter != nullptr) converter->destroy();
    }
};
using ConverterPtr = std::unique_ptr<IConverter, ConverterDeleter>;

// The build tree's library folder: $MM_BUILD_DIR/lib, or, when the test runs
// without that variable, the lib folder beside the test's own folder.
inline std::string libraryDir() {
    if (const char* build = std::getenv("MM_BUILD_DIR"); build != nullptr && *build != '\0') {
        return std::string(build) + "/lib";
    }
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "lib";
    std::string exe(self, static_cast<std::size_t>(n));
    const std::string dir = exe.substr(0, exe.find_last_of('/'));
    return dir.substr(0, dir.find_last_of('/')) + "/lib";
}

inline std::string pluginPath(const std::string& library) {
    return libraryDir() + "/lib" + library + ".so";
}

class Plugin {
public:
    explicit Plugin(const std::string& library) {
        handle_ = dlopen(pluginPath(library).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) {
            error_ = dlerror();
            return;
        }
        create_ = reinterpret_cast<CreateConverterFn>(dlsym(handle_, "createConverter"));
        if (create_ == nullptr) error_ = "no createConverter";
    }
    ~Plugin() {
        if (handle_ != nullptr) dlclose(handle_);
    }
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    bool ok() const { return create_ != nullptr; }
    const std::string& error() const { return error_; }

    // A fresh converter, or null when the entry point does not answer 1.
    ConverterPtr create() const {
        IConverter* converter = nullptr;
        if (create_ == nullptr || create_(&converter) != 1) return ConverterPtr();
        return ConverterPtr(converter);
    }
    CreateConverterFn entry() const { return create_; }

private:
    void* handle_ = nullptr;
    CreateConverterFn create_ = nullptr;
    std::string error_;
};

// Takes ownership of a returned value list.
template <class T>
std::unique_ptr<T> own(T* p) {
    return std::unique_ptr<T>(p);
}

// Kit objects handed to the caller are released through destroy().
struct DestroyDeleter {
    template <class T>
    void operator()(T* p) const {
        if (p != nullptr) p->destroy();
    }
};
template <class T>
std::unique_ptr<T, DestroyDeleter> owned(T* p) {
    return std::unique_ptr<T, DestroyDeleter>(p);
}

}  // namespace convtest
