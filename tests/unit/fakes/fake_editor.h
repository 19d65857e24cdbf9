// SPDX-License-Identifier: MIT
// Scriptable fake metadata editor. Its header information is a FakeHeaderInfo
// the editor owns and hands out on QueryInterface.
#pragma once

#include <string>

#include "fake_com.h"

namespace fakes {

class FakeEditor : public FakeCom<wm::IWMMetadataEditor> {
  public:
    FakeEditor() : header(new FakeHeaderInfo) {}
    ~FakeEditor() override { header->Release(); }
    HRESULT STDMETHODCALLTYPE Open(const WCHAR* filename) override {
        path = Str(filename);
        return openResult;
    }
    HRESULT STDMETHODCALLTYPE Close() override {
        ++closeCalls;
        return closeResult;
    }
    HRESULT STDMETHODCALLTYPE Flush() override {
        ++flushCalls;
        return flushResult;
    }

    FakeHeaderInfo* header;  // the editor's own reference
    HRESULT openResult = S_OK;
    HRESULT closeResult = S_OK;
    HRESULT flushResult = S_OK;
    std::u16string path;  // empty until opened
    int closeCalls = 0;
    int flushCalls = 0;

  protected:
    IUnknown* Part(REFIID iid) override {
        return iid == wm::IID_IWMHeaderInfo ? static_cast<wm::IWMHeaderInfo*>(header) : nullptr;
    }
};

}  // namespace fakes
