#include <platform/services/i18n/i18n.hpp>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

std::string toUtf8(const std::u16string& s) {
    return vq::i18n::codecvt_ustring_to_string("UTF-8", true).do_convert(s.data(), s.size());
}

std::u16string fromUtf8(const std::string& s) {
    return vq::filesystem::codecvt_narrow_string_to_ustring(true).do_convert(s.data(), s.size());
}

TEST(I18n, RoundTripsBeyondAsciiIncludingSurrogatePairs) {
    const std::u16string text = u"caf\u00e9 \u65e5\u672c \U0001F3A5.avi";
    const std::string utf8 = toUtf8(text);
    EXPECT_EQ(utf8, "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x8e\xa5.avi");
    EXPECT_EQ(fromUtf8(utf8), text);
    EXPECT_EQ(vq::i18n::to_ustring(utf8.c_str()), text);
    EXPECT_EQ(vq::i18n::ustring_to_utf8(text), utf8);
}

TEST(I18n, EmptyAndNullGiveEmpty) {
    EXPECT_EQ(toUtf8(u""), "");
    EXPECT_EQ(fromUtf8(""), u"");
    EXPECT_EQ(vq::i18n::to_ustring(nullptr), u"");
    EXPECT_EQ(vq::i18n::to_ustring(""), u"");
}

TEST(I18n, MalformedInputBecomesReplacementWithoutLosingNeighbours) {
    // Lone high surrogate before a letter, lone low surrogate at the end.
    const std::u16string bad16 = {u'a', char16_t(0xD800), u'b', char16_t(0xDC00)};
    EXPECT_EQ(toUtf8(bad16), "a\xef\xbf\xbd" "b\xef\xbf\xbd");
    // High surrogate as the last unit.
    EXPECT_EQ(toUtf8(std::u16string{u'x', char16_t(0xDBFF)}), "x\xef\xbf\xbd");

    // Truncated two-byte sequence before ASCII, stray continuation byte, overlong form.
    EXPECT_EQ(fromUtf8("\xc3" "A"), u"\uFFFDA");
    EXPECT_EQ(fromUtf8("A\x80" "B"), u"A\uFFFDB");
    const std::u16string overlong = fromUtf8("\xc0\xaf");
    EXPECT_FALSE(overlong.empty());
    for (char16_t c : overlong) EXPECT_EQ(c, u'\uFFFD');
    EXPECT_EQ(fromUtf8("\xe6\x97"), u"\uFFFD\uFFFD");
}

TEST(I18n, FopenTakesAUtf16Name) {
    const auto dir = std::filesystem::temp_directory_path();
    const std::u16string name16 = fromUtf8(dir.string()) + u"/i18n-\u00e9\U0001F3A5.bin";
    const std::string name8 = toUtf8(name16);
    std::FILE* f = vq::filesystem::fopen(name16, "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("ok", f);
    std::fclose(f);
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::u8path(name8)));
    std::filesystem::remove(std::filesystem::u8path(name8));
    EXPECT_EQ(vq::filesystem::fopen(u"/nonexistent-dir/x", "rb"), nullptr);
    EXPECT_EQ(vq::filesystem::fopen(u"", "rb"), nullptr);
}

}  // namespace
