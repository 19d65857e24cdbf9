// Path conversion: 259 wide characters fit, 260 or more give an empty path.
#include "wide_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string Convert(const std::string& path) {
    WCHAR out[mervane::kMaxWidePath];
    out[0] = u'?';
    mervane::ToWidePath(path.c_str(), out);
    return std::u16string(out);
}

TEST(ToWidePath, KeepsUpTo259WideCharacters) {
    EXPECT_EQ(Convert(std::string(259, 'a')), std::u16string(259, u'a'));
    EXPECT_EQ(Convert(std::string(260, 'a')), u"");
    EXPECT_EQ(Convert(std::string(400, 'a')), u"");
}

TEST(ToWidePath, CountsWideCharactersNotBytes) {
    std::string twoByte;
    for (int i = 0; i < 200; ++i) twoByte += "\xC3\xA9";  // 400 bytes, 200 characters
    EXPECT_EQ(Convert(twoByte), std::u16string(200, u'\u00E9'));

    std::string pairs;  // 130 characters outside the BMP need 260 UTF-16 units
    for (int i = 0; i < 130; ++i) pairs += "\xF0\x9F\x8E\xB5";
    EXPECT_EQ(Convert(pairs), u"");
}

TEST(ToWidePath, EmptyPathIsEmpty) {
    EXPECT_EQ(Convert(""), u"");
}

}  // namespace
