// SPDX-License-Identifier: MIT
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

// Room for a wide path and its terminator. Windows paths are limited to
// MAX_PATH; Linux takes paths of up to PATH_MAX - 1 bytes, and no byte needs
// more than one wide character.
#ifdef _WIN32
constexpr int kMaxWidePath = 260;
#else
constexpr int kMaxWidePath = 4096;
#endif

// Converts a 0-terminated ANSI string into `dst` of `capacity` WCHARs and
// terminates it. A conversion that fails or that fills the whole destination
// (leaving no room for the terminator) yields an empty string.
void ToWide(const char* text, WCHAR* dst, int capacity);

// A path: at most kMaxWidePath - 1 wide characters survive the conversion.
// On Linux a path is bytes, not text: a byte that is not part of valid UTF-8
// becomes the lone low surrogate U+DC00 + byte (U+DC80..U+DCFF), which no valid
// UTF-8 produces and which the Format SDK stand-in turns back into the same
// byte, so exactly the file named is opened.
void ToWidePath(const char* path, WCHAR (&dst)[kMaxWidePath]);

}  // namespace mervane
