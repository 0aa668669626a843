#pragma once
// Messages a device posts to its host. The host owns a posted message and
// releases it with destroy().

#include <plugins/kit/interfaces.hpp>

#include <string>
#include <utility>

namespace asyncioplugin {
namespace kit {
namespace device {

class MM_EXPORT MessageInfo : public interfaces::IMessageInfo {
public:
    MessageInfo() = default;
    MessageInfo(std::string messageType, std::string messageId, std::string messageText)
        : type(std::move(messageType)), id(std::move(messageId)), text(std::move(messageText)) {}

    const char* getType() override { return type.c_str(); }
    const char* getId() override { return id.c_str(); }
    const char* getMessage() override { return text.c_str(); }
    void destroy() override { delete this; }

    std::string type;
    std::string id;
    std::string text;
};

// A message of type "error".
class MM_EXPORT ErrorInfo : public MessageInfo {
public:
    ErrorInfo(std::string messageId, std::string messageText)
        : MessageInfo("error", std::move(messageId), std::move(messageText)) {}
    ~ErrorInfo() override {}
};

// A message of type "warning": the device goes on.
class MM_EXPORT WarningInfo : public MessageInfo {
public:
    WarningInfo(std::string messageId, std::string messageText)
        : MessageInfo("warning", std::move(messageId), std::move(messageText)) {}
    ~WarningInfo() override {}
};

}  // namespace device
}  // namespace kit
}  // namespace asyncioplugin
