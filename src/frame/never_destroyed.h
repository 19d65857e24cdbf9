// SPDX-License-Identifier: MIT
// A process-wide object that is built once and never destroyed. The reader
// and writer sides hold SDK references: at unload the Format SDK may already be
// gone, so nothing may be released then, and nothing is.
#pragma once

#include <new>
#include <utility>

namespace mervane {

template <typename T>
class NeverDestroyed {
  public:
    template <typename... Args>
    explicit NeverDestroyed(Args&&... args) {
        new (storage_) T(std::forward<Args>(args)...);
    }
    NeverDestroyed(const NeverDestroyed&) = delete;
    NeverDestroyed& operator=(const NeverDestroyed&) = delete;

    T& Get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

  private:
    alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace mervane
