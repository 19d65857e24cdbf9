// SPDX-License-Identifier: MIT
// An INSSBuffer over a heap block: samples handed to the reader's callback and
// samples the writer allocates for its host.
#pragma once

#include <vector>

#include "com_object.h"

namespace ffsdk {

class MemoryBuffer final : public wm::ComObject<wm::INSSBuffer> {
  public:
    // A buffer whose length and capacity are `size` bytes (zero-filled).
    static MemoryBuffer* Create(DWORD size);
    // A buffer holding a copy of `data`.
    static MemoryBuffer* Copy(const BYTE* data, DWORD size);
    // Makes the buffer hold a copy of `data` instead, reusing its memory when
    // it is large enough. False, with the buffer unchanged, when out of memory.
    // Only for a buffer nobody else holds a reference to (Unshared()).
    bool Refill(const BYTE* data, DWORD size);

    HRESULT STDMETHODCALLTYPE GetLength(DWORD* length) override;
    HRESULT STDMETHODCALLTYPE SetLength(DWORD length) override;
    HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD* length) override;
    HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** buffer) override;
    HRESULT STDMETHODCALLTYPE GetBufferAndLength(BYTE** buffer, DWORD* length) override;

    const BYTE* data() const { return bytes_.data(); }
    DWORD length() const { return length_; }

  private:
    std::vector<BYTE> bytes_;
    DWORD length_ = 0;
};

}  // namespace ffsdk
