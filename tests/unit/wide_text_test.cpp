// SPDX-License-Identifier: MIT
// Path conversion: kMaxWidePath - 1 wide characters fit (259 on Windows, any
// Linux path), more give an empty path; on Linux bytes that are not UTF-8
// travel as U+DC80..U+DCFF.
#include "wide_text.h"

#include <gtest/gtest.h>

#include <string>

#include "path_bytes.h"

namespace {

constexpr size_t kFit = mervane::kMaxWidePath - 1;

std::u16string Convert(const std::string& path) {
    static WCHAR out[mervane::kMaxWidePath];
    out[0] = u'?';
    mervane::ToWidePath(path.c_str(), out);
    return std::u16string(out);
}

TEST(ToWidePath, KeepsWhatFitsAndNothingLonger) {
    EXPECT_EQ(Convert(std::string(kFit, 'a')), std::u16string(kFit, u'a'));
    EXPECT_EQ(Convert(std::string(kFit + 1, 'a')), u"");
    EXPECT_EQ(Convert(std::string(kFit + 140, 'a')), u"");
}

TEST(ToWidePath, CountsWideCharactersNotBytes) {
    std::string twoByte;
    for (size_t i = 0; i < kFit - 59; ++i) twoByte += "\xC3\xA9";  // more bytes than fit
    EXPECT_EQ(Convert(twoByte), std::u16string(kFit - 59, u'\u00E9'));

    std::string pairs;  // characters outside the BMP need two UTF-16 units each
    for (size_t i = 0; i < (kFit + 1) / 2; ++i) pairs += "\xF0\x9F\x8E\xB5";
    EXPECT_EQ(Convert(pairs), u"");
}

TEST(ToWidePath, EmptyPathIsEmpty) {
    EXPECT_EQ(Convert(""), u"");
}

#ifndef _WIN32
TEST(ToWidePath, BytesThatAreNotUtf8BecomeLoneLowSurrogates) {
    EXPECT_EQ(Convert("a\xff\xfe.wma"), u"a\xDCFF\xDCFE.wma");
    // A cut sequence, an overlong form and an encoded surrogate: byte by byte.
    EXPECT_EQ(Convert("\xC3"), u"\xDCC3");
    EXPECT_EQ(Convert("\xC0\xAF"), u"\xDCC0\xDCAF");
    EXPECT_EQ(Convert("\xED\xB2\x80"), u"\xDCED\xDCB2\xDC80");
    EXPECT_EQ(Convert("\xF4\x90\x80\x80"), u"\xDCF4\xDC90\xDC80\xDC80");
    // Valid UTF-8 around them is decoded as usual.
    EXPECT_EQ(Convert("\xC3\xA9\x80\xF0\x9F\x8E\xB5"), u"\u00E9\xDC80\U0001F3B5");
}
#endif

// The stand-in decodes what the library encodes back to the very bytes.
TEST(PathBytes, DecodingGivesBackTheBytesEncoded) {
    for (const std::string path :
         {"a\xff\xfe.wma", "\xC3", "\xED\xB2\x80", "caf\xC3\xA9 \xF0\x9F\x8E\xB5"}) {
        WCHAR wide[64];
        ASSERT_TRUE(wm::EncodePathBytes(path.c_str(), wide, 64));
        std::string back;
        ASSERT_TRUE(wm::DecodePathBytes(wide, &back));
        EXPECT_EQ(back, path);
    }
    WCHAR valid[16];
    ASSERT_TRUE(wm::EncodePathBytes("caf\xC3\xA9", valid, 16));
    EXPECT_EQ(std::u16string(valid, valid + 4), u"caf\u00E9") << "valid UTF-8 stays plain UTF-16";
    std::string refused;
    EXPECT_FALSE(wm::DecodePathBytes(SDK_TEXT("\xDC7F"), &refused)) << "never encoded";
}

}  // namespace
