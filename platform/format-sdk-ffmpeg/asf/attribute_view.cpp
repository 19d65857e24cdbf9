// SPDX-License-Identifier: MIT
// The attributes of stream 0 as IWMHeaderInfo shows them, and the rules for
// where an edited value is stored.
#include <algorithm>
#include <iterator>

#include "asf/asf_header.h"
#include "asf/object_io.h"

namespace asf {
namespace {

constexpr std::u16string_view kReadOnlyNames[5] = {u"Duration", u"Bitrate", u"Seekable",
                                                   u"Broadcast", u"FileSize"};

std::vector<uint8_t> LittleEndian(uint64_t v, size_t bytes) {
    std::vector<uint8_t> out;
    wm::AppendLe(&out, v, bytes);
    return out;
}

// The value length a type always has (Bool as handed out), or 0 for String
// and Binary, whose length varies.
size_t FixedLength(AttrType type) {
    switch (type) {
        case AttrType::Bool:
        case AttrType::DWord:
            return 4;
        case AttrType::QWord:
            return 8;
        case AttrType::Word:
            return 2;
        case AttrType::Guid:
            return 16;
        default:
            return 0;
    }
}

// The value's bytes as the attribute view shows them, with their type; a
// length that does not fit the stored type shows as Binary.
Attribute ViewOf(const Record& r) {
    Attribute a{r.name, AttrType::Binary, r.value};
    const size_t n = r.value.size();
    const AttrType stored = static_cast<AttrType>(r.type);
    if (stored == AttrType::String) {
        a.type = AttrType::String;
        a.value = TerminatedString(r.value.data(), n);
    } else if (stored == AttrType::Bool) {
        // 4 bytes in Extended Content Description, 2 in the Metadata objects;
        // either is accepted wherever it appears.
        if (n == 4 || n == 2) {
            a.type = AttrType::Bool;
            a.value.resize(4, 0);
        }
    } else if (r.type <= static_cast<uint16_t>(AttrType::Guid) && n == FixedLength(stored) &&
               n != 0) {
        a.type = stored;
    }
    return a;
}

// Whether `len` value bytes suit the type (a string is whole UTF-16 units).
bool LengthFits(AttrType type, size_t len) {
    switch (type) {
        case AttrType::String:
            return len % 2 == 0;
        case AttrType::Binary:
            return true;
        default:
            return static_cast<uint16_t>(type) <= static_cast<uint16_t>(AttrType::Guid) &&
                   len == FixedLength(type);
    }
}

}  // namespace

const Attribute* Header::Find(std::u16string_view name) const {
    for (const Attribute& a : attrs_) {
        if (a.name == name) return &a;
    }
    return nullptr;
}

bool Header::IsReadOnly(std::u16string_view name) {
    return std::find(std::begin(kReadOnlyNames), std::end(kReadOnlyNames), name) !=
           std::end(kReadOnlyNames);
}

void Header::RebuildAttributes() {
    attrs_.clear();
    if (!valid_) return;
    auto add = [this](std::u16string_view name, AttrType type, std::vector<uint8_t> value) {
        attrs_.push_back(Attribute{std::u16string(name), type, std::move(value)});
    };
    add(u"Duration", AttrType::QWord, LittleEndian(duration(), 8));
    add(u"Bitrate", AttrType::DWord, LittleEndian(bitrate(), 4));
    add(u"Seekable", AttrType::Bool, LittleEndian(seekable() ? 1 : 0, 4));
    add(u"Broadcast", AttrType::Bool, LittleEndian(broadcast() ? 1 : 0, 4));
    add(u"FileSize", AttrType::QWord, LittleEndian(fileSize_, 8));
    if (contentDesc_.present) {
        for (size_t i = 0; i < 5; ++i) {
            const std::vector<uint8_t>& field = contentDesc_.fields[i];
            if (field.empty()) continue;
            add(kContentNames[i], AttrType::String, TerminatedString(field.data(), field.size()));
        }
    }
    AddRecordAttributes(extContentDesc_);
    AddRecordAttributes(headerExt_.metadata());
    AddRecordAttributes(headerExt_.metadataLibrary());
}

void Header::AddRecordAttributes(const RecordList& list) {
    for (const Record& r : list.items) {
        if (IsFileRecord(list, r)) attrs_.push_back(ViewOf(r));
    }
}

// ---------------------------------------------------------------- editing

void Header::AddObject(Slot slot) {
    Object o;
    o.slot = slot;
    objects_.push_back(std::move(o));
}

void Header::SetContentDesc(size_t field, const std::vector<uint8_t>& value) {
    if (!contentDesc_.present) {
        AddObject(Slot::ContentDesc);
        contentDesc_.present = true;
    }
    contentDesc_.fields[field] = value;
    contentDesc_.dirty = true;
    // Keep same-named string copies in step (see the header for why).
    const std::u16string_view name = kContentNames[field];
    for (RecordList* list :
         {&extContentDesc_, &headerExt_.metadata(), &headerExt_.metadataLibrary()}) {
        for (Record& r : list->items) {
            if (!IsFileRecord(*list, r)) continue;
            if (r.type != 0 || !EqualsIgnoreAsciiCase(r.name, name)) continue;
            r.value = value;
            list->dirty = true;
        }
    }
}

RecordList& Header::EnsureMetadataLibrary() {
    if (!headerExt_.present()) AddObject(Slot::HeaderExt);
    return headerExt_.EnsureMetadataLibrary();
}

ffsdk::Result Header::Set(std::u16string_view name, AttrType type, const uint8_t* data,
                          size_t len) {
    if (!valid_ || name.empty()) return E_INVALIDARG;
    if (IsReadOnly(name)) return wm::NS_E_ATTRIBUTE_READ_ONLY;
    if (name.find(u'\0') != std::u16string_view::npos) return E_INVALIDARG;
    if ((name.size() + 1) * 2 > kMaxWord) return E_INVALIDARG;
    if (len > 0 && !data) return E_INVALIDARG;
    // Keep the edited header within what ReadFile accepts.
    if (len > kMaxHeaderSize || SerializedSize() + len + name.size() * 2 + 256 > kMaxHeaderSize) {
        return E_INVALIDARG;
    }
    if (!LengthFits(type, len)) return E_INVALIDARG;
    std::vector<uint8_t> value(data, data + len);
    if (type == AttrType::String) value = TerminatedString(value.data(), value.size());

    for (size_t i = 0; i < 5; ++i) {
        if (name != kContentNames[i]) continue;
        // Content Description stores only strings, each with a WORD length.
        if (type != AttrType::String || value.size() > kMaxWord) return E_INVALIDARG;
        SetContentDesc(i, value);
        RebuildAttributes();
        return S_OK;
    }

    // Extended Content Description and Metadata have WORD value lengths and
    // no GUID type; Metadata Library takes anything.
    auto fits = [&](ListKind kind) {
        return kind == ListKind::MetadataLibrary ||
               (type != AttrType::Guid && value.size() <= kMaxWord);
    };
    auto matches = [&](const RecordList& list, const Record& r) {
        return IsFileRecord(list, r) && r.name == name;
    };
    RecordList& metadataLibrary = headerExt_.metadataLibrary();
    RecordList* lists[3] = {&extContentDesc_, &headerExt_.metadata(), &metadataLibrary};

    // Decide where the value goes before changing anything.
    bool updateInPlace = false;
    for (RecordList* list : lists) {
        for (const Record& r : list->items) {
            if (matches(*list, r) && fits(list->kind)) updateInPlace = true;
        }
    }
    RecordList* target = nullptr;
    if (!updateInPlace) {
        if (fits(ListKind::ExtContentDesc) && extContentDesc_.items.size() < kMaxWord) {
            target = &extContentDesc_;
        } else if (metadataLibrary.items.size() < kMaxWord) {
            target = &metadataLibrary;
        } else {
            return E_INVALIDARG;
        }
    }

    auto stored = [&](ListKind kind) {
        if (type == AttrType::Bool && kind != ListKind::ExtContentDesc) {
            const bool on = wm::ReadLe32(value.data()) != 0;
            return std::vector<uint8_t>{static_cast<uint8_t>(on ? 1 : 0), 0};
        }
        return value;
    };

    bool placed = false;
    for (RecordList* list : lists) {
        auto& items = list->items;
        for (size_t i = 0; i < items.size();) {
            if (!matches(*list, items[i])) {
                ++i;
                continue;
            }
            list->dirty = true;
            if (!placed && fits(list->kind)) {
                items[i].type = static_cast<uint16_t>(type);
                items[i].value = stored(list->kind);
                placed = true;
                ++i;
            } else {
                items.erase(items.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
    }

    if (target) {
        if (target == &extContentDesc_ && !extContentDesc_.present) {
            AddObject(Slot::ExtContentDesc);
            extContentDesc_.present = true;
        } else if (target == &metadataLibrary) {
            EnsureMetadataLibrary();
        }
        Record r;
        r.nameRaw = EncodeName(name);
        r.name = std::u16string(name);
        r.type = static_cast<uint16_t>(type);
        r.value = stored(target->kind);
        target->items.push_back(std::move(r));
        target->dirty = true;
    }
    RebuildAttributes();
    return S_OK;
}

bool Header::Remove(std::u16string_view name) {
    if (!valid_) return false;
    bool removed = false;
    for (RecordList* list :
         {&extContentDesc_, &headerExt_.metadata(), &headerExt_.metadataLibrary()}) {
        auto& items = list->items;
        const auto kept = std::remove_if(items.begin(), items.end(), [&](const Record& r) {
            return IsFileRecord(*list, r) && r.name == name;
        });
        if (kept == items.end()) continue;
        items.erase(kept, items.end());
        list->dirty = true;
        removed = true;
    }
    if (removed) RebuildAttributes();
    return removed;
}

}  // namespace asf
