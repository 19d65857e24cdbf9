// SPDX-License-Identifier: MIT
// A minimal spin lock for the reader-side slots. It guards only the moment a
// reference moves into, out of or is copied from a slot; no SDK call other than
// AddRef ever runs while it is held, so contention lasts a few instructions.
// Built on std::atomic_flag so that it needs no threading runtime on either
// platform (the Windows build links no pthread or libstdc++ thread DLLs).
#pragma once

#include <atomic>

#ifdef _WIN32
#include "platform.h"
#else
#include <sched.h>
#endif

namespace mervane {

class SlotLock {
  public:
    SlotLock() = default;
    SlotLock(const SlotLock&) = delete;
    SlotLock& operator=(const SlotLock&) = delete;

    void Lock() noexcept {
        while (flag_.test_and_set(std::memory_order_acquire)) {
#ifdef _WIN32
            SwitchToThread();
#else
            sched_yield();
#endif
        }
    }
    void Unlock() noexcept {
        flag_.clear(std::memory_order_release);
    }

  private:
    std::atomic_flag flag_ = ATOMIC_FLAG_INIT;
};

// Holds a SlotLock for the rest of the enclosing scope.
class SlotGuard {
  public:
    explicit SlotGuard(SlotLock& lock) noexcept : lock_(lock) { lock_.Lock(); }
    ~SlotGuard() { lock_.Unlock(); }
    SlotGuard(const SlotGuard&) = delete;
    SlotGuard& operator=(const SlotGuard&) = delete;

  private:
    SlotLock& lock_;
};

}  // namespace mervane
