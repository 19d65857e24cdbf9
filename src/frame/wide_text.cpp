// SPDX-License-Identifier: MIT
#include "wide_text.h"

#include <cstring>

#include "path_bytes.h"

#ifndef _WIN32
#include <climits>
static_assert(PATH_MAX <= mervane::kMaxWidePath, "every Linux path fits a wide path buffer");
#endif

namespace mervane {

void ToWide(const char* text, WCHAR* dst, int capacity) {
    const size_t length = std::strlen(text);
    int written = 0;
    // An empty source is not a conversion error, just an empty string; Windows
    // would reject a zero source length, so it is not asked.
    if (length > 0 && length <= 0x7FFFFFFF)
        written = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), dst, capacity);
    if (written >= capacity) written = 0;
    dst[written] = 0;
}

#ifdef _WIN32

void ToWidePath(const char* path, WCHAR (&dst)[kMaxWidePath]) {
    ToWide(path, dst, kMaxWidePath);
}

#else

void ToWidePath(const char* path, WCHAR (&dst)[kMaxWidePath]) {
    (void)wm::EncodePathBytes(path, dst, kMaxWidePath);  // one that does not fit is left empty
}

#endif

}  // namespace mervane
