#pragma once
// The exceptions with which multimedia components report failures. Every
// class carries a fixed failure-kind name (name(), e.g. "FileNotFound"),
// which plugins turn into the message identifier they post, and an optional
// free-text message (what(), in UTF-8).
//
// The classes cross shared-library boundaries: their destructors are defined
// in mmexceptions, which anchors the exported type information there, so a
// catch by type works in any library or plugin that links mmexceptions.

#include <common/exceptions/exceptionlist.hpp>
#include <common/export.hpp>

#include <stdexcept>
#include <string>

namespace multimedia {
namespace common {
namespace exceptions {

class MM_EXPORT Exception : public std::runtime_error {
public:
    // `message` becomes the raw std::runtime_error text; `name` is the
    // failure kind.
    Exception(std::string name, std::string message);
    ~Exception() override;

    // The failure-kind name; valid as long as the object lives.
    const char* name() const;

    // The message converted through UTF-16 to UTF-8. Each call repeats the
    // conversion and replaces the cached display string, so the pointer stays
    // valid until the next what() on this object or its destruction. Not to
    // be called on one object from two threads at once.
    const char* what() const noexcept override;

private:
    std::string name_;
    mutable std::string display_;
};

#define MM_DECLARE_EXCEPTION_true(Stem)            \
    class MM_EXPORT Stem##Exception : public Exception { \
    public:                                            \
        explicit Stem##Exception(std::string message); \
        ~Stem##Exception() override;                   \
    };
#define MM_DECLARE_EXCEPTION_false(Stem)           \
    class MM_EXPORT Stem##Exception : public Exception { \
    public:                                            \
        Stem##Exception();                             \
        ~Stem##Exception() override;                   \
    };
#define MM_DECLARE_EXCEPTION(Stem, kindName, takesMessage) MM_DECLARE_EXCEPTION_##takesMessage(Stem)
MM_COMMON_EXCEPTIONS(MM_DECLARE_EXCEPTION)
#undef MM_DECLARE_EXCEPTION
#undef MM_DECLARE_EXCEPTION_false
#undef MM_DECLARE_EXCEPTION_true

}  // namespace exceptions
}  // namespace common
}  // namespace multimedia
