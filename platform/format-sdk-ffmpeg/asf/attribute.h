// SPDX-License-Identifier: MIT
// One attribute as the platform's IWMHeaderInfo hands it out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace asf {

// Attribute value types, numbered as the ASF file stores them (not as the
// SDK's WMT_ATTR_DATATYPE, which orders them differently).
enum class AttrType : uint16_t {
    String = 0,
    Binary = 1,
    Bool = 2,
    DWord = 3,
    QWord = 4,
    Word = 5,
    Guid = 6,
};

// Value bytes:
//   String  UTF-16LE, always ending in a 0 character
//   Binary  as stored
//   Bool    4 bytes (widened from the 2 bytes the Metadata objects store)
//   DWord 4, QWord 8, Word 2, Guid 16 bytes, little-endian.
// A stored value whose length does not fit its type is shown as Binary with
// the stored bytes, so callers can rely on the lengths above.
struct Attribute {
    std::u16string name;
    AttrType type = AttrType::Binary;
    std::vector<uint8_t> value;
};

}  // namespace asf
