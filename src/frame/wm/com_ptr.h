// SPDX-License-Identifier: MIT
// Owns one COM reference. Move-only, so a reference always has exactly one owner;
// an extra reference is taken only by asking for it (CopyFrom / QueryInterface).
#pragma once

#include <cassert>
#include <utility>

#include "iid_of.h"

namespace wm {

template <typename T>
class ComPtr {
  public:
    ComPtr() = default;
    // Takes over a reference the caller already owns.
    explicit ComPtr(T* owned) : ptr_(owned) {}
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : ptr_(other.Detach()) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) Reset(other.Detach());
        return *this;
    }
    ~ComPtr() { Reset(); }

    // Adds a reference to a pointer owned elsewhere.
    static ComPtr CopyFrom(T* borrowed) {
        if (borrowed != nullptr) borrowed->AddRef();
        return ComPtr(borrowed);
    }

    T* Get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }

    // The empty slot, for an out parameter that hands over a reference. A
    // holder is filled once: handing out a full one would leak or release a
    // reference someone still counts on.
    T** Put() {
        assert(ptr_ == nullptr);
        Reset();
        return &ptr_;
    }
    // Put, as QueryInterface's untyped out parameter.
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

    // Releases the reference (if any) and takes over `owned`.
    void Reset(T* owned = nullptr) {
        T* old = ptr_;
        ptr_ = owned;
        if (old != nullptr) old->Release();
    }

    // Gives up ownership without releasing.
    T* Detach() { return std::exchange(ptr_, nullptr); }

    // Queries the held object for interface U (whose IID IidOf knows).
    template <typename U>
    HRESULT As(ComPtr<U>& out) const {
        // An SDK call that reported success but handed out nothing leaves an
        // empty holder; asking it for an interface fails instead of crashing.
        if (ptr_ == nullptr) {
            out.Reset();
            return E_POINTER;
        }
        out.Reset();
        return ptr_->QueryInterface(IidOf<U>::value, out.PutVoid());
    }

  private:
    T* ptr_ = nullptr;
};

}  // namespace wm
