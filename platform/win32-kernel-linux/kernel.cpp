// SPDX-License-Identifier: MIT
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "windows_compat.h"

namespace {

// Initial-exec: the slot is part of each thread's static block. In a library
// loaded at run time the default model would allocate it lazily on a
// thread's first use, and the C library aborts the process when that
// allocation fails.
__attribute__((tls_model("initial-exec"))) thread_local DWORD t_lastError = ERROR_SUCCESS;

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at src[i] (i < len), advancing i. Malformed, overlong,
// surrogate and out-of-range sequences yield the replacement character and consume
// one byte, so that decoding always moves forward.
char32_t DecodeUtf8(const unsigned char* src, size_t len, size_t& i) {
    const unsigned char lead = src[i];
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    size_t extra = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        cp = lead & 0x1F;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        cp = lead & 0x0F;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        cp = lead & 0x07;
        minimum = 0x10000;
    } else {
        ++i;
        return kReplacement;
    }
    if (i + extra >= len) {
        ++i;
        return kReplacement;
    }
    for (size_t k = 1; k <= extra; ++k) {
        const unsigned char c = src[i + k];
        if ((c & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return kReplacement;
    }
    i += extra + 1;
    return cp;
}

// Decodes one UTF-16 unit or pair at src[i], advancing i. Unpaired surrogates
// yield the replacement character.
char32_t DecodeUtf16(const WCHAR* src, size_t len, size_t& i) {
    const char32_t u = src[i++];
    if (u >= 0xD800 && u <= 0xDBFF) {
        if (i < len && src[i] >= 0xDC00 && src[i] <= 0xDFFF) {
            const char32_t low = src[i++];
            return 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
        }
        return kReplacement;
    }
    if (u >= 0xDC00 && u <= 0xDFFF) return kReplacement;
    return u;
}

size_t Utf8Length(char32_t cp) {
    if (cp < 0x80) return 1;
    if (cp < 0x800) return 2;
    if (cp < 0x10000) return 3;
    return 4;
}

void EncodeUtf8(char32_t cp, char* out) {
    const size_t n = Utf8Length(cp);
    if (n == 1) {
        out[0] = static_cast<char>(cp);
        return;
    }
    static const unsigned char kLeadMark[] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (size_t k = n - 1; k > 0; --k) {
        out[k] = static_cast<char>(0x80 | (cp & 0x3F));
        cp >>= 6;
    }
    out[0] = static_cast<char>(kLeadMark[n] | cp);
}

bool SupportedCodePage(UINT codePage) {
    return codePage == CP_ACP || codePage == CP_UTF8;
}

int Fail(DWORD error) {
    t_lastError = error;
    return 0;
}

struct Event {
    std::mutex mutex;
    std::condition_variable changed;
    bool manualReset = false;
    bool signalled = false;
};

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int srcLen, WCHAR* dst,
                        int dstLen) {
    if (!SupportedCodePage(codePage) || (flags & ~MB_ERR_INVALID_CHARS) != 0 || src == nullptr ||
        srcLen == 0 || srcLen < -1 || dstLen < 0 || (dstLen > 0 && dst == nullptr))
        return Fail(ERROR_INVALID_PARAMETER);
    const size_t len = srcLen == -1 ? std::strlen(src) + 1 : static_cast<size_t>(srcLen);
    const auto* bytes = reinterpret_cast<const unsigned char*>(src);
    size_t written = 0;
    for (size_t i = 0; i < len;) {
        const size_t at = i;
        const char32_t cp = DecodeUtf8(bytes, len, i);
        // A replacement character the input spelled out is text; one that
        // stands for malformed bytes is not.
        if ((flags & MB_ERR_INVALID_CHARS) != 0 && cp == kReplacement && i - at != 3)
            return Fail(ERROR_NO_UNICODE_TRANSLATION);
        const size_t units = cp >= 0x10000 ? 2 : 1;
        if (dstLen > 0) {
            if (written + units > static_cast<size_t>(dstLen))
                return Fail(ERROR_INSUFFICIENT_BUFFER);
            if (units == 2) {
                dst[written] = static_cast<WCHAR>(0xD800 + ((cp - 0x10000) >> 10));
                dst[written + 1] = static_cast<WCHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF));
            } else {
                dst[written] = static_cast<WCHAR>(cp);
            }
        }
        written += units;
        if (written > 0x7FFFFFFF) return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    return static_cast<int>(written);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* src, int srcLen, char* dst,
                        int dstLen, const char* /*defaultChar*/, BOOL* usedDefaultChar) {
    if (!SupportedCodePage(codePage) || flags != 0 || src == nullptr || srcLen == 0 ||
        srcLen < -1 || dstLen < 0 || (dstLen > 0 && dst == nullptr))
        return Fail(ERROR_INVALID_PARAMETER);
    size_t len = 0;
    if (srcLen == -1) {
        while (src[len] != 0) ++len;
        ++len;
    } else {
        len = static_cast<size_t>(srcLen);
    }
    if (usedDefaultChar != nullptr) *usedDefaultChar = FALSE;
    size_t written = 0;
    for (size_t i = 0; i < len;) {
        const char32_t cp = DecodeUtf16(src, len, i);
        if (cp == kReplacement && usedDefaultChar != nullptr) *usedDefaultChar = TRUE;
        const size_t n = Utf8Length(cp);
        if (dstLen > 0) {
            if (written + n > static_cast<size_t>(dstLen)) return Fail(ERROR_INSUFFICIENT_BUFFER);
            EncodeUtf8(cp, dst + written);
        }
        written += n;
        if (written > 0x7FFFFFFF) return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    return static_cast<int>(written);
}

DWORD GetLastError() {
    return t_lastError;
}
void SetLastError(DWORD error) {
    t_lastError = error;
}

HANDLE CreateEventA(void* /*securityAttributes*/, BOOL manualReset, BOOL initialState,
                    LPCSTR /*name*/) {
    auto* event = new (std::nothrow) Event;
    if (event == nullptr) {
        t_lastError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    event->manualReset = manualReset != FALSE;
    event->signalled = initialState != FALSE;
    return event;
}

namespace {

// Sets or clears an event. Setting wakes every waiter of a manual-reset event,
// and one waiter of an auto-reset event (which that waiter then clears).
BOOL SetSignalled(HANDLE handle, bool signalled) {
    auto* event = static_cast<Event*>(handle);
    if (event == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    {
        std::lock_guard<std::mutex> lock(event->mutex);
        event->signalled = signalled;
    }
    if (!signalled) return TRUE;
    if (event->manualReset)
        event->changed.notify_all();
    else
        event->changed.notify_one();
    return TRUE;
}

}  // namespace

BOOL SetEvent(HANDLE handle) {
    return SetSignalled(handle, true);
}

BOOL ResetEvent(HANDLE handle) {
    return SetSignalled(handle, false);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    auto* event = static_cast<Event*>(handle);
    if (event == nullptr) {
        t_lastError = ERROR_INVALID_PARAMETER;
        return WAIT_FAILED;
    }
    std::unique_lock<std::mutex> lock(event->mutex);
    const auto ready = [event] { return event->signalled; };
    if (milliseconds == INFINITE) {
        event->changed.wait(lock, ready);
    } else if (!event->changed.wait_for(lock, std::chrono::milliseconds(milliseconds), ready)) {
        return WAIT_TIMEOUT;
    }
    if (!event->manualReset) event->signalled = false;
    return WAIT_OBJECT_0;
}

BOOL CloseHandle(HANDLE handle) {
    if (handle == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    delete static_cast<Event*>(handle);
    return TRUE;
}

LONG InterlockedIncrement(LONG volatile* addend) {
    return __atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedDecrement(LONG volatile* addend) {
    return __atomic_sub_fetch(addend, 1, __ATOMIC_SEQ_CST);
}

struct TP_WORK {
    PTP_WORK_CALLBACK callback;
    void* context;
    std::mutex mutex;
    std::condition_variable changed;
    bool submitted = false;
    bool closed = false;
};

namespace {

// A work object's thread: waits for the submission or the close, runs the
// callback, and frees the object once it is closed.
void ServeWork(PTP_WORK work) {
    std::unique_lock<std::mutex> lock(work->mutex);
    work->changed.wait(lock, [work] { return work->submitted || work->closed; });
    if (work->submitted) {
        lock.unlock();
        work->callback(nullptr, work->context, work);
        lock.lock();
        work->changed.wait(lock, [work] { return work->closed; });
    }
    lock.unlock();
    delete work;
}

// Notifies under the lock: once it is released the object may be gone.
void Signal(PTP_WORK work, bool TP_WORK::*flag) {
    std::lock_guard<std::mutex> lock(work->mutex);
    work->*flag = true;
    work->changed.notify_all();
}

}  // namespace

PTP_WORK CreateThreadpoolWork(PTP_WORK_CALLBACK callback, void* context,
                              PTP_CALLBACK_ENVIRON /*environment*/) {
    if (callback == nullptr) {
        t_lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    auto* work = new (std::nothrow) TP_WORK{callback, context, {}, {}, false, false};
    if (work == nullptr) {
        t_lastError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    try {
        std::thread(ServeWork, work).detach();
    } catch (...) {  // no thread (or no memory for one)
        delete work;
        t_lastError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    return work;
}

void SubmitThreadpoolWork(PTP_WORK work) {
    if (work != nullptr) Signal(work, &TP_WORK::submitted);
}

void CloseThreadpoolWork(PTP_WORK work) {
    if (work != nullptr) Signal(work, &TP_WORK::closed);
}

void FreeLibraryWhenCallbackReturns(PTP_CALLBACK_INSTANCE /*instance*/, HMODULE /*module*/) {}

HRESULT CoInitialize(void* /*reserved*/) {
    return S_OK;
}
void CoUninitialize() {}
