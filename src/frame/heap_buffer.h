// SPDX-License-Identifier: MIT
// A heap block from the general-purpose allocator, freed when it goes out of
// scope. Allocation never throws: a failed one leaves the buffer empty.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <utility>

namespace mervane {

class HeapBuffer {
  public:
    HeapBuffer() = default;
    // A request for zero bytes still yields a valid block.
    explicit HeapBuffer(size_t size) : data_(std::malloc(size == 0 ? 1 : size)) {
        if (data_ != nullptr) size_ = size;
    }
    HeapBuffer(const HeapBuffer&) = delete;
    HeapBuffer& operator=(const HeapBuffer&) = delete;
    HeapBuffer(HeapBuffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    HeapBuffer& operator=(HeapBuffer&& other) noexcept {
        if (this != &other) {
            std::free(data_);
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    ~HeapBuffer() { std::free(data_); }

    explicit operator bool() const { return data_ != nullptr; }
    size_t size() const { return size_; }
    void* get() const { return data_; }
    template <typename T>
    T* as() const {
        return static_cast<T*>(data_);
    }

  private:
    void* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace mervane
