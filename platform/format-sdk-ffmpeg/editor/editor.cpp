#include "editor/editor.h"

#include <new>
#include <utility>

#include "common/com_call.h"
#include "common/header_attributes.h"

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
        const Result read = header.readFile(path);
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
        // The editor's callers are told only that the write failed.
        return header_.rewriteFile(path_).ok() ? S_OK : wm::NS_E_FILE_WRITE;
    });
}

HRESULT Editor::GetAttributeCount(WORD streamNum, WORD* attributes) {
    return Guarded([&]() -> HRESULT {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!open_) return wm::NS_E_INVALID_REQUEST;
        return HeaderGetAttributeCount(header_, streamNum, attributes);
    });
}

HRESULT Editor::GetAttributeByIndex(WORD index, WORD* streamNum, WCHAR* name, WORD* nameLength,
                                    wm::WMT_ATTR_DATATYPE* type, BYTE* value, WORD* valueLength) {
    return Guarded([&]() -> HRESULT {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!open_) return wm::NS_E_INVALID_REQUEST;
        return HeaderGetAttributeByIndex(header_, index, streamNum, name, nameLength, type, value,
                                         valueLength);
    });
}

HRESULT Editor::GetAttributeByName(WORD* streamNum, const WCHAR* name, wm::WMT_ATTR_DATATYPE* type,
                                   BYTE* value, WORD* valueLength) {
    return Guarded([&]() -> HRESULT {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!open_) return wm::NS_E_INVALID_REQUEST;
        return HeaderGetAttributeByName(header_, streamNum, name, type, value, valueLength);
    });
}

HRESULT Editor::SetAttribute(WORD streamNum, const WCHAR* name, wm::WMT_ATTR_DATATYPE type,
                             const BYTE* value, WORD valueLength) {
    return Guarded([&]() -> HRESULT {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!open_) return wm::NS_E_INVALID_REQUEST;
        return HeaderSetAttribute(header_, streamNum, name, type, value, valueLength);
    });
}

HRESULT Editor::GetMarkerCount(WORD*) {
    return E_NOTIMPL;
}
HRESULT Editor::GetMarker(WORD, WCHAR*, WORD*, wm::QWORD*) {
    return E_NOTIMPL;
}
HRESULT Editor::AddMarker(const WCHAR*, wm::QWORD) {
    return E_NOTIMPL;
}
HRESULT Editor::RemoveMarker(WORD) {
    return E_NOTIMPL;
}
HRESULT Editor::GetScriptCount(WORD*) {
    return E_NOTIMPL;
}
HRESULT Editor::GetScript(WORD, WCHAR*, WORD*, WCHAR*, WORD*, wm::QWORD*) {
    return E_NOTIMPL;
}
HRESULT Editor::AddScript(const WCHAR*, const WCHAR*, wm::QWORD) {
    return E_NOTIMPL;
}
HRESULT Editor::RemoveScript(WORD) {
    return E_NOTIMPL;
}

}  // namespace ffsdk
