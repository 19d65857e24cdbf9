// SPDX-License-Identifier: MIT
#include "asf/attribute.h"

#include <iterator>

#include "asf/object_io.h"
#include "attribute_value.h"

namespace asf {
namespace {

// The file's type numbers, indexed by what it stores: 0 String, 1 Binary,
// 2 Bool, 3 DWord, 4 QWord, 5 Word, 6 Guid.
constexpr wm::WMT_ATTR_DATATYPE kByStoredType[] = {
    wm::WMT_TYPE_STRING, wm::WMT_TYPE_BINARY, wm::WMT_TYPE_BOOL, wm::WMT_TYPE_DWORD,
    wm::WMT_TYPE_QWORD,  wm::WMT_TYPE_WORD,   wm::WMT_TYPE_GUID,
};

}  // namespace

uint16_t Attribute::StoredType(wm::WMT_ATTR_DATATYPE type) {
    for (uint16_t stored = 0; stored < std::size(kByStoredType); ++stored) {
        if (kByStoredType[stored] == type) return stored;
    }
    return static_cast<uint16_t>(std::size(kByStoredType));  // none: not a type
}

Attribute Attribute::FromStored(std::u16string_view name, uint16_t storedType,
                                const std::vector<uint8_t>& bytes) {
    Attribute a;
    a.name_ = std::u16string(name);
    a.value_ = bytes;
    if (storedType >= std::size(kByStoredType)) return a;
    const wm::WMT_ATTR_DATATYPE type = kByStoredType[storedType];
    if (type == wm::WMT_TYPE_STRING) {
        a.type_ = type;
        a.value_ = TerminatedString(bytes.data(), bytes.size());
    } else if (type == wm::WMT_TYPE_BOOL) {
        // 4 bytes in Extended Content Description, 2 in the Metadata objects;
        // either is accepted wherever it appears.
        if (bytes.size() == 4 || bytes.size() == 2) {
            a.type_ = type;
            a.value_.resize(4, 0);
        }
    } else if (wm::IsValueLength(type, bytes.size())) {
        a.type_ = type;
    }
    return a;
}

Attribute Attribute::Number(std::u16string_view name, wm::WMT_ATTR_DATATYPE type, uint64_t value) {
    Attribute a;
    a.name_ = std::u16string(name);
    a.type_ = type;
    wm::AppendLe(&a.value_, value, wm::FixedValueLength(type));
    return a;
}

ffsdk::Result Attribute::Make(std::u16string_view name, wm::WMT_ATTR_DATATYPE type,
                              const uint8_t* data, size_t len, Attribute* out) {
    if (StoredType(type) >= std::size(kByStoredType) || !wm::IsValueLength(type, len)) {
        return E_INVALIDARG;
    }
    if (len > 0 && data == nullptr) return E_INVALIDARG;
    Attribute a;
    a.name_ = std::u16string(name);
    a.type_ = type;
    a.value_.assign(data, data + len);
    if (type == wm::WMT_TYPE_STRING) a.value_ = TerminatedString(a.value_.data(), len);
    *out = std::move(a);
    return S_OK;
}

std::vector<uint8_t> Attribute::StoredValue(bool shortBool) const {
    if (type_ != wm::WMT_TYPE_BOOL || !shortBool) return value_;
    const bool on = wm::ReadLe32(value_.data()) != 0;
    return {static_cast<uint8_t>(on ? 1 : 0), 0};
}

}  // namespace asf
