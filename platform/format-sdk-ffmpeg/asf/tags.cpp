// SPDX-License-Identifier: MIT
#include "asf/tags.h"

#include <algorithm>
#include <iterator>

#include "asf/object_io.h"

namespace asf {
namespace {

constexpr std::u16string_view kReadOnlyNames[5] = {u"Duration", u"Bitrate", u"Seekable",
                                                   u"Broadcast", u"FileSize"};

}  // namespace

const Attribute* Tags::Find(std::u16string_view name) const {
    for (const Attribute& a : view_) {
        if (a.name() == name) return &a;
    }
    return nullptr;
}

void Tags::Rebuild(std::vector<Attribute> computed, const HeaderExtension& ext) {
    view_ = std::move(computed);
    if (content_.present) {
        for (size_t i = 0; i < 5; ++i) {
            const std::vector<uint8_t>& field = content_.fields[i];
            if (!field.empty())
                view_.push_back(Attribute::FromStored(
                    kContentNames[i], Attribute::StoredType(wm::WMT_TYPE_STRING), field));
        }
    }
    AddRecords(extended_);
    AddRecords(ext.metadata());
    AddRecords(ext.metadataLibrary());
}

void Tags::AddRecords(const RecordList& list) {
    for (const Record& r : list.items) {
        if (IsFileRecord(list, r)) view_.push_back(Attribute::FromStored(r.name, r.type, r.value));
    }
}

ffsdk::Result Tags::CheckName(std::u16string_view name) {
    if (name.empty()) return E_INVALIDARG;
    if (std::find(std::begin(kReadOnlyNames), std::end(kReadOnlyNames), name) !=
        std::end(kReadOnlyNames)) {
        return wm::NS_E_ATTRIBUTE_READ_ONLY;
    }
    if (name.find(u'\0') != std::u16string_view::npos) return E_INVALIDARG;
    if ((name.size() + 1) * 2 > kMaxWord) return E_INVALIDARG;
    return S_OK;
}

void Tags::SetContent(size_t field, const std::vector<uint8_t>& value, HeaderExtension& ext) {
    content_.present = true;
    content_.fields[field] = value;
    content_.dirty = true;
    // Keep same-named string copies in step (see the header for why).
    const std::u16string_view name = kContentNames[field];
    const uint16_t stringType = Attribute::StoredType(wm::WMT_TYPE_STRING);
    for (RecordList* list : {&extended_, &ext.metadata(), &ext.metadataLibrary()}) {
        for (Record& r : list->items) {
            if (!IsFileRecord(*list, r)) continue;
            if (r.type != stringType || !EqualsIgnoreAsciiCase(r.name, name)) continue;
            r.value = value;
            list->dirty = true;
        }
    }
}

ffsdk::Result Tags::Set(const Attribute& attr, HeaderExtension& ext) {
    const std::u16string_view name = attr.name();
    const wm::WMT_ATTR_DATATYPE type = attr.type();
    const std::vector<uint8_t>& value = attr.value();
    for (size_t i = 0; i < 5; ++i) {
        if (name != kContentNames[i]) continue;
        // Content Description stores only strings, each with a WORD length.
        if (type != wm::WMT_TYPE_STRING || value.size() > kMaxWord) return E_INVALIDARG;
        SetContent(i, value, ext);
        return S_OK;
    }

    // Extended Content Description and Metadata have WORD value lengths and
    // no GUID type; Metadata Library takes anything.
    auto fits = [&](ListKind kind) {
        return kind == ListKind::MetadataLibrary ||
               (type != wm::WMT_TYPE_GUID && value.size() <= kMaxWord);
    };
    auto matches = [&](const RecordList& list, const Record& r) {
        return IsFileRecord(list, r) && r.name == name;
    };
    RecordList& metadataLibrary = ext.metadataLibrary();
    RecordList* lists[3] = {&extended_, &ext.metadata(), &metadataLibrary};

    // Decide where the value goes before changing anything.
    bool updateInPlace = false;
    for (RecordList* list : lists) {
        for (const Record& r : list->items) {
            if (matches(*list, r) && fits(list->kind)) updateInPlace = true;
        }
    }
    RecordList* target = nullptr;
    if (!updateInPlace) {
        if (fits(ListKind::ExtContentDesc) && extended_.items.size() < kMaxWord) {
            target = &extended_;
        } else if (metadataLibrary.items.size() < kMaxWord) {
            target = &metadataLibrary;
        } else {
            return E_INVALIDARG;
        }
    }

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
                items[i].type = attr.storedType();
                items[i].value = attr.StoredValue(list->kind != ListKind::ExtContentDesc);
                placed = true;
                ++i;
            } else {
                items.erase(items.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
    }

    if (target) {
        if (target == &metadataLibrary) ext.EnsureMetadataLibrary();
        target->present = true;
        Record r;
        r.nameRaw = EncodeName(name);
        r.name = std::u16string(name);
        r.type = attr.storedType();
        r.value = attr.StoredValue(target->kind != ListKind::ExtContentDesc);
        target->items.push_back(std::move(r));
        target->dirty = true;
    }
    return S_OK;
}

ffsdk::Result Tags::Remove(std::u16string_view name, HeaderExtension& ext) {
    bool removed = false;
    for (RecordList* list : {&extended_, &ext.metadata(), &ext.metadataLibrary()}) {
        auto& items = list->items;
        const auto kept = std::remove_if(items.begin(), items.end(), [&](const Record& r) {
            return IsFileRecord(*list, r) && r.name == name;
        });
        if (kept == items.end()) continue;
        items.erase(kept, items.end());
        list->dirty = true;
        removed = true;
    }
    return removed ? S_OK : S_FALSE;
}

}  // namespace asf
