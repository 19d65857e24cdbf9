// SPDX-License-Identifier: MIT
// The three objects that hold named attribute records: Extended Content
// Description (a header object; name, type, 16-bit value length), and Metadata
// and Metadata Library (inside the Header Extension; language index, stream
// number, name, type, 32-bit value length). Records keep their stored bytes,
// so a record written back unchanged is byte for byte what was read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace asf {

enum class ListKind : uint8_t { ExtContentDesc, Metadata, MetadataLibrary };

struct Record {
    uint16_t lang = 0;             // Metadata Library language index (reserved in Metadata)
    uint16_t stream = 0;           // unused in Extended Content Description
    std::vector<uint8_t> nameRaw;  // stored name bytes, terminator included
    std::u16string name;
    uint16_t type = 0;
    std::vector<uint8_t> value;  // stored value bytes
};

struct RecordList {
    ListKind kind;
    bool present = false;
    bool dirty = false;  // changed since parsed
    std::vector<Record> items{};
};

// Decodes the object's body (after its GUID and size) into list->items.
bool ParseRecords(const uint8_t* body, size_t n, RecordList* list);
uint64_t RecordsSize(const RecordList& list);
void EncodeRecords(const RecordList& list, std::vector<uint8_t>* out);
// Whether a record is an attribute of the file (stream 0) rather than of one
// stream.
inline bool IsFileRecord(const RecordList& list, const Record& r) {
    return list.kind == ListKind::ExtContentDesc || r.stream == 0;
}

}  // namespace asf
