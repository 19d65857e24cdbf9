// SPDX-License-Identifier: MIT
#include "failing_alloc.h"

#include <dlfcn.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

// The allocator passed on to: the sanitizer's where one is loaded (its
// interceptors keep these names), else the C library's.
extern "C" {
void* __interceptor_malloc(size_t) __attribute__((weak));
void* __interceptor_calloc(size_t, size_t) __attribute__((weak));
void* __interceptor_realloc(void*, size_t) __attribute__((weak));
void* __interceptor_memalign(size_t, size_t) __attribute__((weak));
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
}

namespace {

std::atomic<uint64_t> counted{0};
std::atomic<uint64_t> failAt{0};
std::atomic<bool> reached{false};

// Under a sanitizer, what the C library and the dynamic loader allocate may be
// the sanitizer's own bookkeeping (its thread set-up asks the C library for
// a thread's attributes), which aborts the process on a failure no program
// could meet. There the allocation after such a one fails instead.
bool Spared(void* caller) {
    Dl_info where{};
    return __interceptor_malloc != nullptr && dladdr(caller, &where) != 0 &&
           where.dli_fname != nullptr &&
           (std::strstr(where.dli_fname, "/libc.so") != nullptr ||
            std::strstr(where.dli_fname, "/ld-linux") != nullptr);
}

bool FailsNow(void* caller) {
    uint64_t at = failAt.load(std::memory_order_relaxed);
    if (at == 0 || counted.fetch_add(1) + 1 != at) return false;
    if (Spared(caller)) {
        // The next one, counting what Spared itself allocated.
        failAt.compare_exchange_strong(at, counted + 1);
        return false;
    }
    reached = true;
    errno = ENOMEM;
    return true;
}

void* Aligned(size_t alignment, size_t size, void* caller) {
    if (FailsNow(caller)) return nullptr;
    return __interceptor_memalign ? __interceptor_memalign(alignment, size)
                                  : __libc_memalign(alignment, size);
}

void* New(size_t size) {
    void* p = malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

void* NewAligned(size_t size, std::align_val_t alignment) {
    void* p =
        Aligned(static_cast<size_t>(alignment), size == 0 ? 1 : size, __builtin_return_address(0));
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

}  // namespace

namespace failing_alloc {

void FailNth(uint64_t n) {
    failAt = 0;
    reached = false;
    counted = 0;
    failAt = n;
}

bool Reached() {
    return reached;
}

}  // namespace failing_alloc

extern "C" {

void* malloc(size_t size) {
    if (FailsNow(__builtin_return_address(0))) return nullptr;
    return __interceptor_malloc ? __interceptor_malloc(size) : __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
    if (FailsNow(__builtin_return_address(0))) return nullptr;
    return __interceptor_calloc ? __interceptor_calloc(count, size) : __libc_calloc(count, size);
}

void* realloc(void* old, size_t size) {
    if (FailsNow(__builtin_return_address(0))) return nullptr;
    return __interceptor_realloc ? __interceptor_realloc(old, size) : __libc_realloc(old, size);
}

int posix_memalign(void** out, size_t alignment, size_t size) {
    void* p = Aligned(alignment, size, __builtin_return_address(0));
    if (p == nullptr) return ENOMEM;
    *out = p;
    return 0;
}

void* aligned_alloc(size_t alignment, size_t size) {
    return Aligned(alignment, size, __builtin_return_address(0));
}

void* memalign(size_t alignment, size_t size) {
    return Aligned(alignment, size, __builtin_return_address(0));
}

}  // extern "C"

// operator new and delete over the functions above, so that the sanitizers
// see every block allocated and freed the same way.
void* operator new(size_t size) {
    return New(size);
}
void* operator new[](size_t size) {
    return New(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return malloc(size == 0 ? 1 : size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return malloc(size == 0 ? 1 : size);
}
void* operator new(size_t size, std::align_val_t alignment) {
    return NewAligned(size, alignment);
}
void* operator new[](size_t size, std::align_val_t alignment) {
    return NewAligned(size, alignment);
}
void operator delete(void* p) noexcept {
    free(p);
}
void operator delete[](void* p) noexcept {
    free(p);
}
void operator delete(void* p, size_t) noexcept {
    free(p);
}
void operator delete[](void* p, size_t) noexcept {
    free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    free(p);
}
void operator delete(void* p, size_t, std::align_val_t) noexcept {
    free(p);
}
void operator delete[](void* p, size_t, std::align_val_t) noexcept {
    free(p);
}
