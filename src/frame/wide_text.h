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
// On Linux a path is bytes, not text: it is encoded as path_bytes.h states, so
// the Format SDK stand-in opens exactly the file named.
void ToWidePath(const char* path, WCHAR (&dst)[kMaxWidePath]);

}  // namespace mervane
