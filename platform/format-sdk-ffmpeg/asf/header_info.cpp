// SPDX-License-Identifier: MIT
#include "asf/header_info.h"

#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

namespace ffsdk {

namespace {

constexpr size_t kMaxWord = std::numeric_limits<WORD>::max();

// A length as the WORD these calls report it in. A name or value too long to
// describe in a WORD (a Metadata Library value over 64 KiB) is reported as
// 0xFFFF, which no buffer can satisfy, so fetching it fails as "too small".
WORD ReportedLength(size_t length) {
    return static_cast<WORD>(length > kMaxWord ? kMaxWord : length);
}

// Checks the two caller buffers against what the attribute needs and, if both
// fit, copies name and value; otherwise copies nothing. Either buffer may be
// null (that part is only measured). The lengths are always updated.
HRESULT HandOut(const asf::Attribute& attr, WCHAR* name, WORD* nameLength, BYTE* value,
                WORD* valueLength) {
    const size_t nameNeeded = attr.name().size() + 1;  // WCHARs, terminator included
    const size_t valueNeeded = attr.value().size();
    const bool nameFits = name == nullptr || (nameNeeded <= kMaxWord && *nameLength >= nameNeeded);
    const bool valueFits =
        value == nullptr || (valueNeeded <= kMaxWord && *valueLength >= valueNeeded);
    if (nameLength != nullptr) *nameLength = ReportedLength(nameNeeded);
    *valueLength = ReportedLength(valueNeeded);
    if (!nameFits || !valueFits) return wm::NS_E_SDK_BUFFERTOOSMALL;
    if (name != nullptr) {
        std::memcpy(name, attr.name().data(), attr.name().size() * sizeof(WCHAR));
        name[attr.name().size()] = 0;
    }
    if (value != nullptr && valueNeeded > 0) std::memcpy(value, attr.value().data(), valueNeeded);
    return S_OK;
}

HRESULT GetCount(const asf::Header& header, WORD stream, WORD* count) {
    if (count == nullptr) return E_POINTER;
    // Attributes past the 65,535th cannot be reached by a WORD index.
    *count = stream == 0 ? ReportedLength(header.tags().count()) : 0;
    return S_OK;
}

HRESULT GetByIndex(const asf::Header& header, WORD index, WORD* stream, WCHAR* name,
                   WORD* nameLength, wm::WMT_ATTR_DATATYPE* type, BYTE* value, WORD* valueLength) {
    if (stream == nullptr || nameLength == nullptr || type == nullptr || valueLength == nullptr) {
        return E_POINTER;
    }
    if (*stream != 0) return E_INVALIDARG;  // no stream has attributes of its own
    const asf::Attribute* attr = header.tags().at(index);
    if (attr == nullptr) return E_INVALIDARG;
    *type = attr->type();
    return HandOut(*attr, name, nameLength, value, valueLength);
}

HRESULT GetByName(const asf::Header& header, WORD* stream, const WCHAR* name,
                  wm::WMT_ATTR_DATATYPE* type, BYTE* value, WORD* valueLength) {
    if (stream == nullptr || name == nullptr || type == nullptr || valueLength == nullptr) {
        return E_POINTER;
    }
    const asf::Attribute* attr =
        *stream == 0 ? header.tags().Find(std::u16string_view(name)) : nullptr;
    if (attr == nullptr) {
        *valueLength = 0;
        return wm::ASF_E_NOTFOUND;
    }
    *type = attr->type();
    return HandOut(*attr, nullptr, nullptr, value, valueLength);
}

HRESULT Set(asf::Header& header, WORD stream, const WCHAR* name, wm::WMT_ATTR_DATATYPE type,
            const BYTE* value, WORD valueLength) {
    if (name == nullptr) return E_POINTER;
    if (value == nullptr && valueLength > 0) return E_POINTER;
    if (stream != 0) return E_INVALIDARG;
    // Edited on a copy, taken only whole: a set that fails part of the way
    // (out of memory, which the COM guard answers) leaves the header as it
    // was, not half changed.
    asf::Header edited(header);
    const Result set = edited.Set(std::u16string_view(name), type, value, valueLength);
    if (set.ok()) header = std::move(edited);
    return set.code();
}

}  // namespace

HRESULT HeaderInfo::GetAttributeCount(WORD streamNum, WORD* attributes) {
    return WithHeader([&](asf::Header& h) { return GetCount(h, streamNum, attributes); });
}

HRESULT HeaderInfo::GetAttributeByIndex(WORD index, WORD* streamNum, WCHAR* name, WORD* nameLength,
                                        wm::WMT_ATTR_DATATYPE* type, BYTE* value,
                                        WORD* valueLength) {
    return WithHeader([&](asf::Header& h) {
        return GetByIndex(h, index, streamNum, name, nameLength, type, value, valueLength);
    });
}

HRESULT HeaderInfo::GetAttributeByName(WORD* streamNum, const WCHAR* name,
                                       wm::WMT_ATTR_DATATYPE* type, BYTE* value,
                                       WORD* valueLength) {
    return WithHeader(
        [&](asf::Header& h) { return GetByName(h, streamNum, name, type, value, valueLength); });
}

HRESULT HeaderInfo::SetAttribute(WORD streamNum, const WCHAR* name, wm::WMT_ATTR_DATATYPE type,
                                 const BYTE* value, WORD valueLength) {
    return WithHeader(
        [&](asf::Header& h) { return Set(h, streamNum, name, type, value, valueLength); });
}

HRESULT HeaderInfo::GetMarkerCount(WORD*) {
    return E_NOTIMPL;
}
HRESULT HeaderInfo::GetMarker(WORD, WCHAR*, WORD*, wm::QWORD*) {
    return E_NOTIMPL;
}
HRESULT HeaderInfo::AddMarker(const WCHAR*, wm::QWORD) {
    return E_NOTIMPL;
}
HRESULT HeaderInfo::RemoveMarker(WORD) {
    return E_NOTIMPL;
}
HRESULT HeaderInfo::GetScriptCount(WORD*) {
    return E_NOTIMPL;
}
HRESULT HeaderInfo::GetScript(WORD, WCHAR*, WORD*, WCHAR*, WORD*, wm::QWORD*) {
    return E_NOTIMPL;
}
HRESULT HeaderInfo::AddScript(const WCHAR*, const WCHAR*, wm::QWORD) {
    return E_NOTIMPL;
}
HRESULT HeaderInfo::RemoveScript(WORD) {
    return E_NOTIMPL;
}

}  // namespace ffsdk
