#pragma once
// Text services of the environment: UTF-16 <-> UTF-8 conversion and opening a
// file by a UTF-16 name. Malformed input (bad UTF-8, unpaired surrogates)
// becomes U+FFFD; nothing is dropped and nothing throws.

#include <common/export.hpp>

#include <cstddef>
#include <cstdio>
#include <string>

namespace vq {
namespace i18n {

// Converts UTF-16 text to a narrow string in the named encoding. Only
// "UTF-8" is supported; the flag is accepted for interface compatibility.
class MM_EXPORT codecvt_ustring_to_string {
public:
    codecvt_ustring_to_string(const std::string& encoding, bool flag);
    std::string do_convert(const char16_t* text, std::size_t length) const;

private:
    [[maybe_unused]] std::string encoding_;
    [[maybe_unused]] bool flag_;
};

MM_EXPORT std::u16string to_ustring(const char* text);
MM_EXPORT std::string ustring_to_utf8(const std::u16string& text);

}  // namespace i18n

namespace filesystem {

// Converts narrow (UTF-8) text to UTF-16.
class MM_EXPORT codecvt_narrow_string_to_ustring {
public:
    explicit codecvt_narrow_string_to_ustring(bool flag);
    std::u16string do_convert(const char* text, std::size_t length) const;

private:
    [[maybe_unused]] bool flag_;
};

// Opens a file whose name is given in UTF-16; the name reaches the operating
// system as UTF-8. Returns null on failure, like std::fopen.
MM_EXPORT std::FILE* fopen(const std::u16string& path, const std::string& mode);

}  // namespace filesystem
}  // namespace vq
