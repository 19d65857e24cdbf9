// SPDX-License-Identifier: MIT
// The Linux stand-ins for the Win32 kernel services: code-page conversion with
// Windows' return conventions and auto-reset events.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "platform.h"

namespace {

std::u16string ToWideString(const std::string& text, int capacity = 64) {
    std::u16string out(static_cast<size_t>(capacity), u'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                      out.data(), capacity);
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string ToUtf8(const std::u16string& text, int capacity = 64) {
    std::string out(static_cast<size_t>(capacity), '\0');
    const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                      out.data(), capacity, nullptr, nullptr);
    out.resize(static_cast<size_t>(n));
    return out;
}

TEST(CodePageConversion, Utf8ToUtf16CoversAllSequenceLengthsAndSurrogatePairs) {
    EXPECT_EQ(ToWideString("abc"), u"abc");
    EXPECT_EQ(ToWideString("caf\xC3\xA9"), u"caf\u00E9");
    EXPECT_EQ(ToWideString("\xE2\x82\xAC"), u"\u20AC");
    EXPECT_EQ(ToWideString("\xF0\x9F\x8E\xB5"), u"\U0001F3B5");  // a surrogate pair
    EXPECT_EQ(ToWideString("\xF0\x9F\x8E\xB5").size(), 2u);
}

TEST(CodePageConversion, MalformedUtf8BecomesReplacementCharacters) {
    EXPECT_EQ(ToWideString("a\xFF"
                           "b"),
              u"a\uFFFDb");
    EXPECT_EQ(ToWideString("\xC3"), u"\uFFFD");                      // truncated sequence
    EXPECT_EQ(ToWideString("\xC0\xAF"), u"\uFFFD\uFFFD");            // overlong
    EXPECT_EQ(ToWideString("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
}

TEST(CodePageConversion, WindowsReturnConventions) {
    WCHAR small[2];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, small, 2), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, nullptr, 0), 3);   // size query
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);  // with terminator
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 0, small, 2), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    char narrow[3];
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u00E9\u00E9", 2, narrow, 3, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u00E9\u00E9", 2, nullptr, 0, nullptr, nullptr), 4);
}

TEST(CodePageConversion, Utf16ToUtf8RoundTripsAndReplacesLoneSurrogates) {
    EXPECT_EQ(ToUtf8(u"caf\u00E9 \u20AC \U0001F3B5"), "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5");
    EXPECT_EQ(ToUtf8(std::u16string(1, u'\xD83C') + u"x"), "\xEF\xBF\xBDx");
    EXPECT_EQ(ToUtf8(std::u16string(1, u'\xDF35')), "\xEF\xBF\xBD");
}

TEST(Events, AutoResetEventReleasesOneWaitAndStaysSignalledUntilWaited) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(event));
    EXPECT_TRUE(SetEvent(event));  // a second signal does not accumulate
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(event));
}

TEST(Interlocked, ReturnsTheNewValue) {
    LONG value = 1;
    EXPECT_EQ(InterlockedIncrement(&value), 2);
    EXPECT_EQ(InterlockedDecrement(&value), 1);
    EXPECT_EQ(InterlockedDecrement(&value), 0);
}

}  // namespace
