// SPDX-License-Identifier: MIT
// Reading and writing the pieces every ASF object is made of: the object
// framing (GUID, 64-bit size), UTF-16LE names and strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "asf/guids.h"
#include "little_endian.h"

namespace asf {

constexpr uint32_t kMaxWord = 0xFFFF;

inline void AppendBytes(std::vector<uint8_t>* out, const std::vector<uint8_t>& bytes) {
    out->insert(out->end(), bytes.begin(), bytes.end());
}

// Starts an object: its GUID and a size filled in by EndObject. Returns where
// it starts.
inline size_t BeginObject(std::vector<uint8_t>* out, const GuidBytes& id) {
    const size_t start = out->size();
    out->insert(out->end(), id.begin(), id.end());
    wm::AppendLe64(out, 0);
    return start;
}
inline void EndObject(std::vector<uint8_t>* out, size_t start) {
    wm::StoreLe(out->data() + start + 16, out->size() - start, 8);
}

// Calls visit(id, object, size) for each object in the `len` bytes at `data`,
// each framed by its GUID and size. False when an object's size runs past the
// end or is smaller than its framing, or when visit returns false.
template <typename Visit>
bool ForEachObject(const uint8_t* data, size_t len, Visit&& visit) {
    size_t pos = 0;
    while (pos < len) {
        if (len - pos < kObjectHeaderSize) return false;
        const uint64_t size = wm::ReadLe64(data + pos + 16);
        if (size < kObjectHeaderSize || size > len - pos) return false;
        if (!visit(ReadGuid(data + pos), data + pos, static_cast<size_t>(size))) return false;
        pos += static_cast<size_t>(size);
    }
    return true;
}

// Name bytes up to the first 0 character; an odd trailing byte is ignored.
std::u16string DecodeName(const uint8_t* p, size_t n);
// A name as stored: UTF-16LE with a 0 terminator.
std::vector<uint8_t> EncodeName(std::u16string_view name);
// A stored string as handed out: whole UTF-16 units, ending in a 0 unit.
std::vector<uint8_t> TerminatedString(const uint8_t* p, size_t n);
bool EqualsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b);

}  // namespace asf
