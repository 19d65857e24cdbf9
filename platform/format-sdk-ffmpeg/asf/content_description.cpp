// SPDX-License-Identifier: MIT
#include "asf/content_description.h"

#include "asf/object_io.h"

namespace asf {

bool ParseContentDescription(const uint8_t* body, size_t n, ContentDescription* out) {
    if (n < 10) return false;
    size_t total = 0;
    size_t lengths[5];
    for (size_t i = 0; i < 5; ++i) {
        lengths[i] = wm::ReadLe16(body + 2 * i);
        total += lengths[i];
    }
    if (total > n - 10) return false;
    const uint8_t* s = body + 10;
    for (size_t i = 0; i < 5; ++i) {
        out->fields[i].assign(s, s + lengths[i]);
        s += lengths[i];
    }
    out->present = true;
    return true;
}

uint64_t ContentDescriptionSize(const ContentDescription& cd) {
    uint64_t n = kObjectHeaderSize + 10;
    for (const auto& f : cd.fields) n += f.size();
    return n;
}

void EncodeContentDescription(const ContentDescription& cd, std::vector<uint8_t>* out) {
    const size_t start = BeginObject(out, kContentDescGuid);
    for (const auto& f : cd.fields) wm::AppendLe16(out, static_cast<uint32_t>(f.size()));
    for (const auto& f : cd.fields) AppendBytes(out, f);
    EndObject(out, start);
}

}  // namespace asf
