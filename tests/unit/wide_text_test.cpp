// SPDX-License-Identifier: MIT
// Path conversion: kMaxWidePath - 1 wide characters fit (259 on Windows, any
// Linux path), more give an empty path; on Linux bytes that are not UTF-8
// travel as U+DC80..U+DCFF, and every path decodes back to its bytes.
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
#ifndef _WIN32
    // The stand-in decodes what fits back to the very bytes.
    std::string back;
    EXPECT_TRUE(wm::DecodePathBytes(out, &back));
    if (out[0] != 0) {
        EXPECT_EQ(back, path);
    }
#endif
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
    std::string never;
    EXPECT_FALSE(wm::DecodePathBytes(u"\xDC7F", &never)) << "no byte is encoded below U+DC80";
}
#endif

}  // namespace
