// SPDX-License-Identifier: MIT
// Small helpers shared by the stand-in's COM methods.
#pragma once

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "media_type_view.h"
#include "path_bytes.h"
#include "platform.h"
#include "wmsdk.h"

namespace ffsdk {

// Runs a COM method body; nothing thrown gets past it.
template <typename Body>
HRESULT Guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

// A COM getter's body: hands out `value` through `out`.
template <typename Out, typename Value>
HRESULT CopyOut(const Value& value, Out* out) {
    if (out == nullptr) return E_POINTER;
    *out = value;
    return S_OK;
}

// A COM setter's body for a wide string.
inline HRESULT AssignWide(std::u16string* target, const WCHAR* text) {
    if (text == nullptr) return E_POINTER;
    return Guarded([&] {
        *target = text;
        return S_OK;
    });
}

// Copies a 0-terminated name out as the SDK's Get*Name methods do: with a null
// buffer only reports the length (WCHARs, terminator included); a buffer too
// small fails with the platform's buffer-too-small result.
template <typename Length>
HRESULT CopyWideName(const std::u16string& text, WCHAR* name, Length* length) {
    if (length == nullptr) return E_POINTER;
    const size_t needed = text.size() + 1;
    if (needed > static_cast<Length>(-1)) return E_FAIL;
    if (name == nullptr) {
        *length = static_cast<Length>(needed);
        return S_OK;
    }
    if (*length < needed) {
        *length = static_cast<Length>(needed);
        return wm::ASF_E_BUFFERTOOSMALL;
    }
    std::copy(text.begin(), text.end(), name);
    name[text.size()] = 0;
    *length = static_cast<Length>(needed);
    return S_OK;
}

// Writes a media type as GetMediaType does: the WM_MEDIA_TYPE followed by its
// format block, pbFormat pointing at the copy. With no buffer only the size is
// reported; a buffer too small fails with the size needed.
inline HRESULT WriteMediaType(const wm::WM_MEDIA_TYPE& header, const void* format,
                              size_t formatSize, wm::WM_MEDIA_TYPE* type, DWORD* size) {
    if (size == nullptr) return E_POINTER;
    const DWORD needed = static_cast<DWORD>(sizeof(wm::WM_MEDIA_TYPE) + formatSize);
    if (type == nullptr) {
        *size = needed;
        return S_OK;
    }
    if (*size < needed) {
        *size = needed;
        return wm::ASF_E_BUFFERTOOSMALL;
    }
    BYTE* formatBytes = reinterpret_cast<BYTE*>(type) + sizeof(wm::WM_MEDIA_TYPE);
    wm::WM_MEDIA_TYPE out = header;
    out.cbFormat = static_cast<ULONG>(formatSize);
    out.pbFormat = formatSize == 0 ? nullptr : formatBytes;
    std::memcpy(type, &out, sizeof(out));
    if (formatSize != 0) std::memcpy(formatBytes, format, formatSize);
    *size = needed;
    return S_OK;
}

// Reads the media type of `props` into `storage`, kept aligned for the
// pointers a WM_MEDIA_TYPE holds, by the contract's rule: `malformed` for a
// buffer that breaks it.
inline HRESULT ReadMediaType(wm::IWMMediaProps* props, std::vector<uint64_t>& storage,
                             wm::MediaTypeView* type, HRESULT malformed) {
    return wm::ReadMediaType(
        props,
        [&](DWORD size) {
            storage.assign(size / sizeof(uint64_t) + 1, 0);
            return reinterpret_cast<wm::WM_MEDIA_TYPE*>(storage.data());
        },
        type, malformed);
}

// The SDK's wide paths as the bytes the file system takes, decoded as
// path_bytes.h states. False for an empty path and for text the library's
// encoding never yields.
inline bool ToUtf8(const WCHAR* text, std::string* out) {
    std::string bytes;
    if (!wm::DecodePathBytes(text, &bytes) || bytes.empty()) return false;
    *out = std::move(bytes);
    return true;
}

}  // namespace ffsdk
