#include "memory_buffer.h"

#include <cstring>
#include <new>

#include "com_ptr.h"

namespace ffsdk {

MemoryBuffer* MemoryBuffer::Create(DWORD size) {
    mervane::ComPtr<MemoryBuffer> buffer(new (std::nothrow) MemoryBuffer);
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
    MemoryBuffer* buffer = Create(size);
    if (buffer != nullptr && size > 0) std::memcpy(buffer->bytes_.data(), data, size);
    return buffer;
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
