// SPDX-License-Identifier: MIT
// How a path travels as the SDK's wide text where a path is bytes, not text
// (Linux). The library encodes a host's path, the Format SDK stand-in decodes
// it back to the bytes it opens, and both follow this one scheme:
// - a well-formed UTF-8 sequence becomes its UTF-16 (a surrogate pair past
//   U+FFFF);
// - every other byte 0x80..0xFF (a stray continuation byte, a cut sequence, an
//   overlong form, an encoded surrogate, a value past U+10FFFF) becomes the
//   lone low surrogate U+DC00 + byte, U+DC80..U+DCFF, which no well-formed
//   text holds.
// So decoding gives back exactly the bytes encoded, and valid UTF-8 paths are
// plain UTF-16 for anyone else who reads them.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

#include "platform.h"

namespace wm {

namespace path_bytes {

// The code point of the well-formed UTF-8 sequence at `s` (0-terminated) and
// its length in bytes; length 0 when the bytes there are not one.
inline char32_t DecodeUtf8(const unsigned char* s, size_t& length) {
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

}  // namespace path_bytes

// Encodes the 0-terminated `path` into `dst` of `capacity` WCHARs, terminated.
// False, with `dst` empty, when it does not fit.
inline bool EncodePathBytes(const char* path, WCHAR* dst, size_t capacity) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(path);
    size_t written = 0;
    for (size_t i = 0; bytes[i] != 0;) {
        size_t length = 0;
        const char32_t cp = path_bytes::DecodeUtf8(bytes + i, length);
        const size_t units = length != 0 && cp >= 0x10000 ? 2 : 1;
        if (written + units >= capacity) {
            if (capacity > 0) dst[0] = 0;
            return false;
        }
        if (length == 0) {
            dst[written++] = static_cast<WCHAR>(0xDC00 | bytes[i++]);
        } else if (units == 2) {
            dst[written++] = static_cast<WCHAR>(0xD800 + ((cp - 0x10000) >> 10));
            dst[written++] = static_cast<WCHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF));
            i += length;
        } else {
            dst[written++] = static_cast<WCHAR>(cp);
            i += length;
        }
    }
    if (capacity == 0) return false;
    dst[written] = 0;
    return true;
}

// Decodes the 0-terminated wide `text` back into the bytes it stands for.
// False for what the encoding never yields: a lone high surrogate, or a lone
// low one outside U+DC80..U+DCFF.
inline bool DecodePathBytes(const WCHAR* text, std::string* out) {
    std::string bytes;
    for (size_t i = 0; text[i] != 0; ++i) {
        char32_t cp = static_cast<char16_t>(text[i]);
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            const char32_t low = static_cast<char16_t>(text[i + 1]);
            if (low < 0xDC00 || low > 0xDFFF) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            ++i;
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            if (cp < 0xDC80 || cp > 0xDCFF) return false;
            bytes += static_cast<char>(cp & 0xFF);
            continue;
        }
        if (cp < 0x80) {
            bytes += static_cast<char>(cp);
        } else if (cp < 0x800) {
            bytes += static_cast<char>(0xC0 | (cp >> 6));
            bytes += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            bytes += static_cast<char>(0xE0 | (cp >> 12));
            bytes += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            bytes += static_cast<char>(0xF0 | (cp >> 18));
            bytes += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            bytes += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    *out = std::move(bytes);
    return true;
}

}  // namespace wm
