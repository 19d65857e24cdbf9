// SPDX-License-Identifier: MIT
#include "memory_buffer.h"

#include <cstring>
#include <new>

#include "com_ptr.h"

namespace ffsdk {

MemoryBuffer* MemoryBuffer::Create(DWORD size) {
    wm::ComPtr<MemoryBuffer> buffer(new (std::nothrow) MemoryBuffer);
    if (!buffer) return nullptr;
    try {
        buffer->bytes_.assign(size == 0 ? 1 : size, 0);
    } catch (...) {
        return nullptr;
    }
    buffer->length_ = size;
    return buffer.Detach();
}

MemoryBuffer* MemoryBuffer::Copy(const BYTE* data, DWORD size) {
    auto* buffer = new (std::nothrow) MemoryBuffer;
    if (buffer != nullptr && !buffer->Refill(data, size)) {
        buffer->Release();
        return nullptr;
    }
    return buffer;
}

bool MemoryBuffer::Refill(const BYTE* data, DWORD size) {
    try {
        // Copied straight in, without zero-filling first.
        if (size == 0) {
            bytes_.assign(1, 0);
        } else {
            bytes_.assign(data, data + size);
        }
    } catch (...) {
        return false;
    }
    length_ = size;
    return true;
}

HRESULT MemoryBuffer::GetLength(DWORD* length) {
    if (length == nullptr) return E_POINTER;
    *length = length_;
    return S_OK;
}

HRESULT MemoryBuffer::SetLength(DWORD length) {
    if (length > bytes_.size()) return E_INVALIDARG;
    length_ = length;
    return S_OK;
}

HRESULT MemoryBuffer::GetMaxLength(DWORD* length) {
    if (length == nullptr) return E_POINTER;
    *length = static_cast<DWORD>(bytes_.size());
    return S_OK;
}

HRESULT MemoryBuffer::GetBuffer(BYTE** buffer) {
    if (buffer == nullptr) return E_POINTER;
    *buffer = bytes_.data();
    return S_OK;
}

HRESULT MemoryBuffer::GetBufferAndLength(BYTE** buffer, DWORD* length) {
    if (buffer == nullptr || length == nullptr) return E_POINTER;
    *buffer = bytes_.data();
    *length = length_;
    return S_OK;
}

}  // namespace ffsdk
