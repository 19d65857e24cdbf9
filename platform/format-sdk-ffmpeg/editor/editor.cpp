#include "editor/editor.h"

#include <sys/stat.h>

#include <cerrno>
#include <new>
#include <utility>

#include "common/com_call.h"

namespace ffsdk {

namespace {

// Tells a missing file from one that is there but cannot be edited, before
// the header is read.
HRESULT CheckEditableFile(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? wm::NS_E_FILE_NOT_FOUND
                                                   : wm::NS_E_FILE_OPEN_FAILED;
    }
    return S_ISREG(st.st_mode) ? S_OK : wm::NS_E_FILE_OPEN_FAILED;
}

}  // namespace

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
        const HRESULT hr = CheckEditableFile(path);
        if (FAILED(hr)) return hr;
        asf::Header header;
        if (!header.readFile(path)) {
            // readFile also fails when the file vanishes or cannot be read
            // between the check and the read; the check tells which.
            const HRESULT again = CheckEditableFile(path);
            return FAILED(again) ? again : wm::NS_E_INVALID_INPUT_FORMAT;
        }
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
        return header_.rewriteFile(path_) ? S_OK : wm::NS_E_FILE_WRITE;
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
