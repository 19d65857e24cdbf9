// SPDX-License-Identifier: MIT
#include "asf/object_io.h"

namespace asf {

std::u16string DecodeName(const uint8_t* p, size_t n) {
    std::u16string s;
    for (size_t i = 0; i + 1 < n; i += 2) {
        const char16_t c = static_cast<char16_t>(wm::ReadLe16(p + i));
        if (c == 0) break;
        s.push_back(c);
    }
    return s;
}

std::vector<uint8_t> EncodeName(std::u16string_view name) {
    std::vector<uint8_t> out;
    out.reserve((name.size() + 1) * 2);
    for (char16_t c : name) wm::AppendLe16(&out, c);
    wm::AppendLe16(&out, 0);
    return out;
}

std::vector<uint8_t> TerminatedString(const uint8_t* p, size_t n) {
    std::vector<uint8_t> v(p, p + (n & ~static_cast<size_t>(1)));
    if (v.empty() || v[v.size() - 1] != 0 || v[v.size() - 2] != 0) {
        v.push_back(0);
        v.push_back(0);
    }
    return v;
}

bool EqualsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    auto lower = [](char16_t c) {
        return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
    };
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace asf
