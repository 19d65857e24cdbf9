// SPDX-License-Identifier: MIT
#include "fake_editor.h"

namespace fakes {

FakeEditor::FakeEditor() : header(new FakeHeaderInfo) {}

FakeEditor::~FakeEditor() {
    header->Release();
}

HRESULT FakeEditor::QueryInterface(REFIID iid, void** out) {
    if (iid == wm::IID_IWMHeaderInfo) {
        if (queryOverride) {
            const HRESULT forced = queryOverride(iid);
            if (forced != S_OK) return forced;
        }
        header->AddRef();
        *out = static_cast<wm::IWMHeaderInfo*>(header);
        return S_OK;
    }
    return FakeCom::QueryInterface(iid, out);
}

ULONG FakeEditor::Release() {
    Log("Editor.Release");
    return FakeCom::Release();
}

HRESULT FakeEditor::Open(const WCHAR* filename) {
    Log("Editor.Open");
    path = filename == nullptr ? u"" : std::u16string(filename);
    return openResult;
}

HRESULT FakeEditor::Close() {
    Log("Editor.Close");
    return closeResult;
}

HRESULT FakeEditor::Flush() {
    Log("Editor.Flush");
    return flushResult;
}

}  // namespace fakes
