// Small helpers shared by the stand-in's COM methods.
#pragma once

#include <new>
#include <string>

#include "platform.h"

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

// The SDK's wide paths as the UTF-8 the file system takes; false for an empty
// or unconvertible path.
inline bool ToUtf8(const WCHAR* text, std::string* out) {
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 1) return false;
    out->assign(static_cast<size_t>(needed), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, &(*out)[0], needed, nullptr, nullptr) != needed)
        return false;
    out->resize(static_cast<size_t>(needed - 1));
    return true;
}

}  // namespace ffsdk
