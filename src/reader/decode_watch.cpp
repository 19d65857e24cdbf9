// SPDX-License-Identifier: MIT
#include "decode_watch.h"

namespace mervane {

namespace {

DWORD WaitOnEvent(HANDLE event, DWORD timeoutMs) {
    return WaitForSingleObject(event, timeoutMs);
}

}  // namespace

DecodeWatch::DecodeWatch()
    : wake_(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      idle_(CreateEventA(nullptr, TRUE, TRUE, nullptr)),
      wait_(&WaitOnEvent) {
    if (idle_ == nullptr && wake_ != nullptr) {
        CloseHandle(wake_);
        wake_ = nullptr;
    }
}

DecodeWatch::~DecodeWatch() {
    if (wake_ != nullptr) CloseHandle(wake_);
    if (idle_ != nullptr) CloseHandle(idle_);
}

void DecodeWatch::Arm() {
    outcome_.store(-1);
    inHost_.store(0);
    if (wake_ != nullptr) ResetEvent(wake_);
}

void DecodeWatch::Heard() {
    if (wake_ != nullptr) SetEvent(wake_);
}

void DecodeWatch::EnterHost() {
    inHost_.fetch_add(1);
    Heard();
}

void DecodeWatch::LeaveHost() {
    inHost_.fetch_sub(1);
    Heard();
}

void DecodeWatch::Settle(Outcome outcome) {
    int running = -1;
    // The first outcome stands: a stop after the end changes nothing.
    outcome_.compare_exchange_strong(running, static_cast<int>(outcome));
    Heard();
}

void DecodeWatch::Begin() {
    ResetEvent(idle_);
}

DecodeWatch::Outcome DecodeWatch::Wait() {
    for (;;) {
        const DWORD waited = wait_.load()(wake_, silenceMs_.load());
        const int outcome = outcome_.load();
        if (outcome >= 0) {
            SetEvent(idle_);
            return static_cast<Outcome>(outcome);
        }
        // Woken by the reader or the host: the silence starts again. A span
        // that ran out while the host held the reader was no silence either.
        if (waited == WAIT_OBJECT_0 || (waited == WAIT_TIMEOUT && inHost_.load() > 0)) continue;
        // Silent for the limit, or the wait itself failed (it could not go on
        // watching): the decode is stopped.
        Settle(Outcome::kSilent);
    }
}

bool DecodeWatch::WaitIdle(DWORD timeoutMs) {
    return WaitForSingleObject(idle_, timeoutMs) == WAIT_OBJECT_0;
}

void DecodeWatch::SetLimit(DWORD silenceMs, WatchWait wait) {
    silenceMs_.store(silenceMs);
    wait_.store(wait != nullptr ? wait : &WaitOnEvent);
}

}  // namespace mervane
