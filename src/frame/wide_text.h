// ANSI (CP_ACP) text to the SDK's wide strings.
#pragma once

#include "platform.h"

// Wide literals for the SDK: WCHAR is wchar_t on Windows, char16_t elsewhere.
#ifdef _WIN32
#define SDK_TEXT(text) L##text
#else
#define SDK_TEXT(text) u##text
#endif

namespace mervane {

constexpr int kMaxWidePath = 260;

// Converts a 0-terminated ANSI string into `dst` of `capacity` WCHARs and
// terminates it. A conversion that fails or that fills the whole destination
// (leaving no room for the terminator) yields an empty string.
void ToWide(const char* text, WCHAR* dst, int capacity);

// A path: at most 259 wide characters survive the conversion.
inline void ToWidePath(const char* path, WCHAR (&dst)[kMaxWidePath]) {
    ToWide(path, dst, kMaxWidePath);
}

}  // namespace mervane
