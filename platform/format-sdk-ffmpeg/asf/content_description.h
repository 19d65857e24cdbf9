// SPDX-License-Identifier: MIT
// The Content Description object: five strings (title, author, copyright,
// description, rating), each with a 16-bit byte length.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace asf {

// The attribute names of the five fields, in their stored order.
constexpr std::u16string_view kContentNames[5] = {u"Title", u"Author", u"Copyright", u"Description",
                                                  u"Rating"};

struct ContentDescription {
    bool present = false;
    bool dirty = false;                          // changed since parsed
    std::array<std::vector<uint8_t>, 5> fields;  // the stored bytes
};

// Decodes the object's body (after its GUID and size) into `out`.
bool ParseContentDescription(const uint8_t* body, size_t n, ContentDescription* out);
uint64_t ContentDescriptionSize(const ContentDescription& cd);
void EncodeContentDescription(const ContentDescription& cd, std::vector<uint8_t>* out);

}  // namespace asf
