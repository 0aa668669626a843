#pragma once
// How a reader device tells its host that something failed: an ErrorInfo whose
// identifier is kMessagePrefix, ":" and the failure kind of a common exception.

#include <plugins/kit/interfaces.hpp>

#include <string>

namespace multimedia {
namespace common {
namespace exceptions {
class Exception;
}
}  // namespace common
}  // namespace multimedia

namespace asyncioplugin {
namespace kit {
namespace device {

inline constexpr char kMessagePrefix[] = "multimedia:videofile";

// kMessagePrefix + ":" + name, e.g. "multimedia:videofile:NoVideo".
std::string messageId(const char* exceptionName);

// Posts a new ErrorInfo for `failure` to `host` (which then owns it). The
// exception is a value describing the failure; it is not thrown. With a null
// host the report has nowhere to go and is dropped.
void reportError(const multimedia::common::exceptions::Exception& failure,
                 interfaces::device::IDeviceHost* host);

// Posts a new WarningInfo with identifier messageId(kind) and `text`; dropped
// with a null host.
void reportWarning(const std::string& kind, const std::string& text, interfaces::device::IDeviceHost* host);

}  // namespace device
}  // namespace kit
}  // namespace asyncioplugin
