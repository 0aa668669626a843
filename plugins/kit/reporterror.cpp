#include <plugins/kit/reporterror.hpp>

#include <common/exceptions/exceptions.hpp>
#include <plugins/kit/messages.hpp>

#include <memory>

namespace asyncioplugin {
namespace kit {
namespace device {

std::string messageId(const char* exceptionName) {
    std::string id = kMessagePrefix;
    id += ':';
    id += exceptionName != nullptr ? exceptionName : "";
    return id;
}

void reportError(const multimedia::common::exceptions::Exception& failure,
                 interfaces::device::IDeviceHost* host) {
    if (host == nullptr) return;
    auto message = std::make_unique<ErrorInfo>(messageId(failure.name()), failure.what());
    // Ownership passes with the call.
    host->postMessage(message.release());
}

void reportWarning(const std::string& kind, const std::string& text, interfaces::device::IDeviceHost* host) {
    if (host == nullptr) return;
    auto message = std::make_unique<WarningInfo>(messageId(kind.c_str()), text);
    host->postMessage(message.release());
}

}  // namespace device
}  // namespace kit
}  // namespace asyncioplugin
