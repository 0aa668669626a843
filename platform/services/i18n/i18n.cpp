#include <platform/services/i18n/i18n.hpp>

#include <boost/locale/utf.hpp>

#include <cstring>

namespace {

namespace utf = boost::locale::utf;
constexpr utf::code_point kReplacement = 0xFFFD;

// Decodes [first, last) one code point at a time with Boost.Locale's traits and
// re-encodes it. A malformed sequence yields one U+FFFD and decoding resumes at
// the next code unit, so a bad unit never swallows the good one after it.
template <typename In, typename Out>
std::basic_string<Out> transcode(const In* first, const In* last) {
    std::basic_string<Out> out;
    out.reserve(static_cast<std::size_t>(last - first));
    auto sink = std::back_inserter(out);
    const In* p = first;
    while (p != last) {
        const In* start = p;
        utf::code_point cp = utf::utf_traits<In>::decode(p, last);
        if (cp == utf::illegal || cp == utf::incomplete) {
            cp = kReplacement;
            p = start + 1;
        }
        utf::utf_traits<Out>::encode(cp, sink);
    }
    return out;
}

}  // namespace

namespace vq {
namespace i18n {

codecvt_ustring_to_string::codecvt_ustring_to_string(const std::string& encoding, bool flag)
    : encoding_(encoding), flag_(flag) {}

std::string codecvt_ustring_to_string::do_convert(const char16_t* text, std::size_t length) const {
    if (text == nullptr || length == 0) return {};
    return transcode<char16_t, char>(text, text + length);
}

std::u16string to_ustring(const char* text) {
    if (text == nullptr) return {};
    return transcode<char, char16_t>(text, text + std::strlen(text));
}

std::string ustring_to_utf8(const std::u16string& text) {
    return transcode<char16_t, char>(text.data(), text.data() + text.size());
}

}  // namespace i18n

namespace filesystem {

codecvt_narrow_string_to_ustring::codecvt_narrow_string_to_ustring(bool flag) : flag_(flag) {}

std::u16string codecvt_narrow_string_to_ustring::do_convert(const char* text, std::size_t length) const {
    if (text == nullptr || length == 0) return {};
    return transcode<char, char16_t>(text, text + length);
}

std::FILE* fopen(const std::u16string& path, const std::string& mode) {
    if (path.empty()) return nullptr;
    const std::string narrow = vq::i18n::ustring_to_utf8(path);
    return std::fopen(narrow.c_str(), mode.c_str());
}

}  // namespace filesystem
}  // namespace vq
