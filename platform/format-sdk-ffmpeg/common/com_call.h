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
