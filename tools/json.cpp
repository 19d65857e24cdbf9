// SPDX-License-Identifier: MIT
#include "json.h"

#include <cstdio>

namespace tool {
namespace {

// Length of the well-formed UTF-8 sequence at `s[i]`, or 0 if there is none.
size_t Utf8Length(const std::string& s, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return 1;
    size_t length;
    unsigned low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
    } else {
        return 0;
    }
    if (i + length > s.size() || byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (size_t k = 2; k < length; ++k)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    return length;
}

}  // namespace

std::string JsonQuote(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t length = Utf8Length(text, i);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out.append(text, i, length);
        }
        i += length;
    }
    return out + "\"";
}

JsonObject& JsonObject::Add(const std::string& name, const std::string& text) {
    members_.emplace_back(JsonQuote(name), JsonQuote(text));
    return *this;
}

JsonObject& JsonObject::Add(const std::string& name, uint64_t number) {
    members_.emplace_back(JsonQuote(name), std::to_string(number));
    return *this;
}

JsonObject& JsonObject::Add(const std::string& name, const std::vector<JsonObject>& objects) {
    std::string value = "[";
    for (size_t i = 0; i < objects.size(); ++i)
        value += (i == 0 ? "\n        " : ",\n        ") + objects[i].Inline();
    value += objects.empty() ? "]" : "\n    ]";
    members_.emplace_back(JsonQuote(name), value);
    return *this;
}

std::string JsonObject::Render() const {
    std::string out = "{";
    for (size_t i = 0; i < members_.size(); ++i)
        out += (i == 0 ? "\n    " : ",\n    ") + members_[i].first + ": " + members_[i].second;
    return out + "\n}\n";
}

std::string JsonObject::Inline() const {
    std::string out = "{";
    for (size_t i = 0; i < members_.size(); ++i)
        out += (i == 0 ? "" : ", ") + members_[i].first + ": " + members_[i].second;
    return out + "}";
}

}  // namespace tool
