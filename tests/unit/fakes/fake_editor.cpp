// SPDX-License-Identifier: MIT
#include "fake_editor.h"

namespace fakes {

FakeEditor::FakeEditor() : header(new FakeHeaderInfo) {
    releaseLog_ = "Editor.Release";
}

FakeEditor::~FakeEditor() {
    header->Release();
}

IUnknown* FakeEditor::Part(REFIID iid) {
    return iid == wm::IID_IWMHeaderInfo ? static_cast<wm::IWMHeaderInfo*>(header) : nullptr;
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
