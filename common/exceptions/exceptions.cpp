#include <common/exceptions/exceptions.hpp>

#include <platform/services/i18n/i18n.hpp>

#include <utility>

namespace multimedia {
namespace common {
namespace exceptions {

Exception::Exception(std::string name, std::string message)
    : std::runtime_error(message), name_(std::move(name)) {}

Exception::~Exception() = default;

const char* Exception::name() const { return name_.c_str(); }

const char* Exception::what() const noexcept {
    const char* raw = std::runtime_error::what();
    try {
        // Empty text needs no conversion (and the converters are not called
        // for it).
        if (*raw == '\0') {
            display_.clear();
        } else {
            display_ = vq::i18n::ustring_to_utf8(vq::i18n::to_ustring(raw));
        }
        return display_.c_str();
    } catch (...) {
        // what() must not throw: if the conversion runs out of memory, the
        // raw message (UTF-8 already for every message this system builds)
        // is the best answer left.
        return raw;
    }
}

#define MM_DEFINE_EXCEPTION_true(Stem, kindName)                                                    \
    Stem##Exception::Stem##Exception(std::string message) : Exception(kindName, std::move(message)) {} \
    Stem##Exception::~Stem##Exception() = default;
#define MM_DEFINE_EXCEPTION_false(Stem, kindName)                                  \
    Stem##Exception::Stem##Exception() : Exception(kindName, std::string()) {} \
    Stem##Exception::~Stem##Exception() = default;
#define MM_DEFINE_EXCEPTION(Stem, kindName, takesMessage) MM_DEFINE_EXCEPTION_##takesMessage(Stem, kindName)
MM_COMMON_EXCEPTIONS(MM_DEFINE_EXCEPTION)
#undef MM_DEFINE_EXCEPTION
#undef MM_DEFINE_EXCEPTION_false
#undef MM_DEFINE_EXCEPTION_true

}  // namespace exceptions
}  // namespace common
}  // namespace multimedia
