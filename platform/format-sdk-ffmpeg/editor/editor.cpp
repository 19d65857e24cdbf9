// SPDX-License-Identifier: MIT
#include "editor/editor.h"

#include <new>
#include <utility>

#include "common/com_call.h"

namespace ffsdk {

Editor* Editor::Create() {
    return new (std::nothrow) Editor;
}

HRESULT Editor::Open(const WCHAR* filename) {
    return Guarded([&]() -> HRESULT {
        if (filename == nullptr) return E_POINTER;
        std::lock_guard<std::mutex> lock(mutex_);
        if (open_) return wm::NS_E_INVALID_REQUEST;
        std::string path;
        if (!ToUtf8(filename, &path)) return E_INVALIDARG;
        asf::Header header;
        const Result read = header.ReadFile(path);
        if (!read) return read.code();
        header_ = std::move(header);
        path_ = std::move(path);
        open_ = true;
        return S_OK;
    });
}

HRESULT Editor::Close() {
    return Guarded([&]() -> HRESULT {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!open_) return wm::NS_E_INVALID_REQUEST;
        open_ = false;
        header_ = asf::Header();
        path_.clear();
        return S_OK;
    });
}

HRESULT Editor::Flush() {
    return Guarded([&]() -> HRESULT {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!open_) return wm::NS_E_INVALID_REQUEST;
        return header_.WriteFile(path_).code();
    });
}

HRESULT Editor::WithHeader(const HeaderUse& use) {
    return Guarded([&]() -> HRESULT {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!open_) return wm::NS_E_INVALID_REQUEST;
        return use(header_);
    });
}

}  // namespace ffsdk
