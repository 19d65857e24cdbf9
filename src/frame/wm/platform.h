// SPDX-License-Identifier: MIT
// The platform services the library builds on: the Win32 kernel and COM on
// Windows, their Linux stand-ins elsewhere. Everything else includes this.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <objbase.h>
#include <windows.h>
#else
// The kernel stand-in, found on the include path the build gives.
#include <windows_compat.h>
#endif

#include <cstdint>

static_assert(sizeof(WCHAR) == 2, "SDK strings are UTF-16");
static_assert(sizeof(DWORD) == 4 && sizeof(LONG) == 4 && sizeof(HRESULT) == 4,
              "Win32 integer sizes");
