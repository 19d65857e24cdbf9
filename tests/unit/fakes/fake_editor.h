// SPDX-License-Identifier: MIT
// Scriptable fake metadata editor. Its header information is a FakeHeaderInfo
// the editor owns and hands out on QueryInterface.
#pragma once

#include <string>

#include "fake_com.h"

namespace fakes {

class FakeEditor : public FakeCom<wm::IWMMetadataEditor> {
  public:
    FakeEditor();
    ~FakeEditor() override;
    HRESULT STDMETHODCALLTYPE Open(const WCHAR* filename) override;
    HRESULT STDMETHODCALLTYPE Close() override;
    HRESULT STDMETHODCALLTYPE Flush() override;

    FakeHeaderInfo* header;  // the editor's own reference
    HRESULT openResult = S_OK;
    HRESULT closeResult = S_OK;
    HRESULT flushResult = S_OK;
    std::u16string path;

  protected:
    IUnknown* Part(REFIID iid) override;
};

}  // namespace fakes
