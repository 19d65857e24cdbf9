// SPDX-License-Identifier: MIT
// The watch over a running decode, kept by the pool thread that ends it.
//
// A reader may stop feeding a decode without ever reporting its end (Wine's,
// on some WMA Voice files, delivers nothing after the start). The pool thread
// reserved for the end therefore waits from the start on: for the end the
// reader reports, or for a silence of the reader, after which the decode is
// stopped and ends as any other does. A silence is a span with no sample, no
// clock tick and no status; time the host spends inside its callback is not
// silence (the reader waits for the host), so the span starts again when the
// host returns. In real time the reader delivers all along, and a decode on the
// library's clock ticks each second it delivers, so neither is cut by a file's
// length or by a slow host.
#pragma once

#include <atomic>

#include "platform.h"

namespace mervane {

// How long a reader may stay silent before its decode is stopped.
constexpr DWORD kDecodeSilenceMs = 30000;

// The wait the watch makes: on `event`, at most `timeoutMs`, as
// WaitForSingleObject answers. Replaceable so that tests can see the waits.
using WatchWait = DWORD (*)(HANDLE event, DWORD timeoutMs);

class DecodeWatch {
  public:
    enum class Outcome { kEnded, kSilent, kDismissed };

    DecodeWatch();
    ~DecodeWatch();
    DecodeWatch(const DecodeWatch&) = delete;
    DecodeWatch& operator=(const DecodeWatch&) = delete;

    bool Valid() const { return wake_ != nullptr; }
    // Prepares the watch over the next decode (before its open).
    void Arm();
    // The decode started: a thread is on its way into Wait.
    void Begin();

    // What the reader does (any thread).
    void Heard();
    void EnterHost();
    void LeaveHost();
    // The reader reported the decode's end.
    void Ended() { Settle(Outcome::kEnded); }
    // The decode was given up without an end call; the watch ends too.
    void Dismiss() { Settle(Outcome::kDismissed); }

    // On the watching thread: blocks until the decode ended, was dismissed, or
    // its reader stayed silent for the limit.
    Outcome Wait();
    // Blocks (at most `timeoutMs`) until no thread is in or on its way into Wait.
    bool WaitIdle(DWORD timeoutMs);

    // The silence limit and the wait (tests only: at most while no decode runs).
    void SetLimit(DWORD silenceMs, WatchWait wait);

  private:
    void Settle(Outcome outcome);

    HANDLE wake_;                   // auto-reset: something happened, or the decode is settled
    HANDLE idle_;                   // manual-reset: clear from Begin until Wait returns
    std::atomic<int> outcome_{-1};  // -1 while the decode runs
    std::atomic<int> inHost_{0};
    std::atomic<DWORD> silenceMs_{kDecodeSilenceMs};
    std::atomic<WatchWait> wait_;
};

}  // namespace mervane
