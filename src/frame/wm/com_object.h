// SPDX-License-Identifier: MIT
// Reference counting and QueryInterface for every object that implements SDK
// interfaces: the library's callbacks, the stand-in's objects and the test
// fakes.
#pragma once

#include <atomic>
#include <tuple>
#include <type_traits>

#include "iid_of.h"

namespace wm {

// Implements IUnknown for an object exposing Ifaces... . IUnknown answers with
// the first interface. An interface in the list also answers for its SDK base
// interfaces when QueryBase says so (for example IWMMediaProps for
// IWMOutputMediaProps); any other IID is refused. Objects start with one
// reference, owned by whoever created them, and delete themselves at zero
// unless they override LastReleased.
template <typename... Ifaces>
class ComObject : public Ifaces... {
  public:
    ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown) {
            *out = static_cast<First*>(this);
        } else if (!(Match<Ifaces>(iid, out) || ...) && !QueryBase(iid, out)) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(refs_.fetch_add(1, std::memory_order_relaxed) + 1);
    }
    ULONG STDMETHODCALLTYPE Release() override {
        const long left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) LastReleased();
        return static_cast<ULONG>(left);
    }

    long Refs() const { return refs_.load(std::memory_order_acquire); }
    // Whether the caller's reference is the only one. Once it is, whatever
    // others did with the object happened before this call returns.
    bool Unshared() const { return Refs() == 1; }

  protected:
    // Called when the last reference has gone.
    virtual void LastReleased() { delete this; }
    using First = std::tuple_element_t<0, std::tuple<Ifaces...>>;
    virtual ~ComObject() = default;
    // Answers for interfaces that are bases of the listed ones.
    virtual bool QueryBase(REFIID, void**) { return false; }

  private:
    template <typename T>
    bool Match(REFIID iid, void** out) {
        if (iid != IidOf<T>::value) return false;
        *out = static_cast<T*>(this);
        return true;
    }

    std::atomic<long> refs_{1};
};

}  // namespace wm
