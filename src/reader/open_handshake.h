// SPDX-License-Identifier: MIT
// The blocking open shared by GetWmaFileInfo and GoGoGoReader: the reader
// opens asynchronously and reports the open with status 1 (or 22); the host's
// thread waits for that report.
#pragma once

#include <atomic>
#include <cstdint>

#include "com_ptr.h"
#include "wide_text.h"
#include "wmsdk.h"

namespace mervane {

// What an open waits for: status 1 (or 22) with the open's result. The event is
// auto-reset and made when the signal is built. Each open is armed with a
// context of its own, which the reader hands back with its statuses: a status
// of an earlier open (one that came while nobody waited, or from a reader
// given up on) is not this open's.
class OpenSignal {
  public:
    OpenSignal();
    ~OpenSignal();

    bool Valid() const { return event_ != nullptr; }
    // Prepares the next open; returns the context to open with.
    void* Arm();
    // A status 1 or 22 with `context`: signals if it belongs to the armed open.
    void Signal(HRESULT result, void* context);
    // Blocks until the open is signalled, or for at most `timeoutMs`, and
    // returns its result: E_TIMEOUT when the time ran out, E_FAIL if the wait
    // itself failed (the result would then mean nothing).
    HRESULT Wait(DWORD timeoutMs);

  private:
    // One event per signal, closed once.
    OpenSignal(const OpenSignal&) = delete;
    OpenSignal& operator=(const OpenSignal&) = delete;

    HANDLE event_;
    std::atomic<HRESULT> result_{0};
    std::atomic<uintptr_t> armed_{0};
};

// How long an open may take before it is given up: far above any local open,
// but a reader that never reports its open (Wine's, on some WMA Voice files)
// must not hold the host for good.
constexpr DWORD kOpenTimeoutMs = 30000;

// Creates a reader, opens `path` with it, reporting to `callback`, and blocks
// until `signal` reports the open, for at most `timeoutMs`. Returns the open's
// result; on success `reader` holds the open reader. A reader whose open failed
// is released, and one that did not answer in time is closed and released on a
// pool thread (its Close may wait on the very open it never finished).
HRESULT OpenAndWait(const char* path, WCHAR (&pathBuffer)[kMaxWidePath],
                    wm::IWMReaderCallback* callback, OpenSignal& signal,
                    wm::ComPtr<wm::IWMReader>& reader, DWORD timeoutMs = kOpenTimeoutMs);

}  // namespace mervane
