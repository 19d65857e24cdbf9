// SPDX-License-Identifier: MIT
#include "asf/record_list.h"

#include <utility>

#include "asf/object_io.h"

namespace asf {
namespace {

// Reads one record at pos; false when it runs past n.
bool ReadExtContentRecord(const uint8_t* p, size_t n, size_t* pos, Record* r) {
    if (n - *pos < 2) return false;
    const size_t nameLength = wm::ReadLe16(p + *pos);
    *pos += 2;
    if (nameLength > n - *pos) return false;
    r->nameRaw.assign(p + *pos, p + *pos + nameLength);
    *pos += nameLength;
    if (n - *pos < 4) return false;
    r->type = wm::ReadLe16(p + *pos);
    const size_t valueLength = wm::ReadLe16(p + *pos + 2);
    *pos += 4;
    if (valueLength > n - *pos) return false;
    r->value.assign(p + *pos, p + *pos + valueLength);
    *pos += valueLength;
    return true;
}

bool ReadMetadataRecord(const uint8_t* p, size_t n, size_t* pos, Record* r) {
    if (n - *pos < 12) return false;
    r->lang = wm::ReadLe16(p + *pos);
    r->stream = wm::ReadLe16(p + *pos + 2);
    const size_t nameLength = wm::ReadLe16(p + *pos + 4);
    r->type = wm::ReadLe16(p + *pos + 6);
    const uint64_t valueLength = wm::ReadLe32(p + *pos + 8);
    *pos += 12;
    if (nameLength > n - *pos) return false;
    r->nameRaw.assign(p + *pos, p + *pos + nameLength);
    *pos += nameLength;
    if (valueLength > n - *pos) return false;
    r->value.assign(p + *pos, p + *pos + valueLength);
    *pos += static_cast<size_t>(valueLength);
    return true;
}

const GuidBytes& GuidOf(ListKind kind) {
    return kind == ListKind::ExtContentDesc ? kExtContentDescGuid
           : kind == ListKind::Metadata     ? kMetadataGuid
                                            : kMetadataLibraryGuid;
}

}  // namespace

bool ParseRecords(const uint8_t* body, size_t n, RecordList* list) {
    if (n < 2) return false;
    const size_t count = wm::ReadLe16(body);
    size_t pos = 2;
    std::vector<Record> read;
    for (size_t i = 0; i < count; ++i) {
        Record r;
        const bool ok = list->kind == ListKind::ExtContentDesc
                            ? ReadExtContentRecord(body, n, &pos, &r)
                            : ReadMetadataRecord(body, n, &pos, &r);
        if (!ok) return false;
        r.name = DecodeName(r.nameRaw.data(), r.nameRaw.size());
        read.push_back(std::move(r));
    }
    list->items = std::move(read);
    list->present = true;
    return true;
}

uint64_t RecordsSize(const RecordList& list) {
    const size_t fixed = list.kind == ListKind::ExtContentDesc ? 6 : 12;
    uint64_t n = kObjectHeaderSize + 2;
    for (const Record& r : list.items) n += fixed + r.nameRaw.size() + r.value.size();
    return n;
}

void EncodeRecords(const RecordList& list, std::vector<uint8_t>* out) {
    const size_t start = BeginObject(out, GuidOf(list.kind));
    wm::AppendLe16(out, static_cast<uint32_t>(list.items.size()));
    for (const Record& r : list.items) {
        const uint32_t nameLength = static_cast<uint32_t>(r.nameRaw.size());
        const uint32_t valueLength = static_cast<uint32_t>(r.value.size());
        if (list.kind == ListKind::ExtContentDesc) {
            wm::AppendLe16(out, nameLength);
            AppendBytes(out, r.nameRaw);
            wm::AppendLe16(out, r.type);
            wm::AppendLe16(out, valueLength);
        } else {
            wm::AppendLe16(out, r.lang);
            wm::AppendLe16(out, r.stream);
            wm::AppendLe16(out, nameLength);
            wm::AppendLe16(out, r.type);
            wm::AppendLe32(out, valueLength);
            AppendBytes(out, r.nameRaw);
        }
        AppendBytes(out, r.value);
    }
    EndObject(out, start);
}

}  // namespace asf
