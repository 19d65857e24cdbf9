// SPDX-License-Identifier: MIT
#include "wide_text.h"

#include <cstring>

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

namespace {

// The code point of the well-formed UTF-8 sequence at `s` and its length in
// bytes; length 0 when the bytes there are not one (a stray continuation byte,
// a cut sequence, an overlong form, a surrogate, or a value past U+10FFFF).
char32_t DecodeStrict(const unsigned char* s, size_t& length) {
    length = 0;
    const unsigned char lead = s[0];
    if (lead < 0x80) {
        length = 1;
        return lead;
    }
    size_t extra;
    char32_t cp;
    char32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1, cp = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2, cp = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3, cp = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    for (size_t k = 1; k <= extra; ++k) {
        // The terminator is no continuation byte, so this stops at the end.
        if ((s[k] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (s[k] & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    length = extra + 1;
    return cp;
}

}  // namespace

void ToWidePath(const char* path, WCHAR (&dst)[kMaxWidePath]) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(path);
    size_t written = 0;
    for (size_t i = 0; bytes[i] != 0;) {
        size_t length = 0;
        const char32_t cp = DecodeStrict(bytes + i, length);
        const size_t units = length == 0 ? 1 : cp >= 0x10000 ? 2 : 1;
        if (written + units >= static_cast<size_t>(kMaxWidePath)) {
            dst[0] = 0;
            return;
        }
        if (length == 0) {
            dst[written++] = static_cast<WCHAR>(0xDC00 | bytes[i]);
            ++i;
            continue;
        }
        if (units == 2) {
            dst[written++] = static_cast<WCHAR>(0xD800 + ((cp - 0x10000) >> 10));
            dst[written++] = static_cast<WCHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            dst[written++] = static_cast<WCHAR>(cp);
        }
        i += length;
    }
    dst[written] = 0;
}

#endif

}  // namespace mervane
