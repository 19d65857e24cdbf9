// SPDX-License-Identifier: MIT
// The playback side of the reader: one session per Open, served by a worker
// thread of its own. The worker opens the file, reports WMT_OPENED, then runs
// the Start and Stop requests in the order they were made, pacing delivery by
// the wall clock or by the host's clock, and calls the host's callback from
// that thread only. The reader object (reader.h) is the COM face that queues
// requests and ends the session.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "asf/asf_header.h"
#include "com_ptr.h"
#include "pcm_decoder.h"
#include "wmsdk.h"

namespace ffsdk {

// A Start or Stop request, queued for the worker.
struct PlaybackCommand {
    enum Kind { kStart, kStop } kind = kStart;
    wm::QWORD start = 0;
    wm::QWORD duration = 0;  // 0: to the end
    bool userClock = false;
    void* context = nullptr;
};

// The host's callback references, held by the session until it ends and then
// released by whoever ended it, outside the session's lock.
struct SessionCallbacks {
    mervane::ComPtr<wm::IWMReaderCallback> callback;
    mervane::ComPtr<wm::IWMReaderCallbackAdvanced> advanced;
};

// What the reader object and its worker thread share. Everything below the
// mutex is guarded by it, except the decoder, which only the worker touches.
struct ReaderSession {
    // Set before the worker starts, then only read.
    std::string path;
    void* openContext = nullptr;

    std::mutex mutex;
    std::condition_variable changed;
    std::thread::id workerId;
    SessionCallbacks callbacks;
    bool closed = false;
    bool inCallback = false;
    bool opened = false;   // the open succeeded and the fields below are set
    bool started = false;  // between an accepted Start and its end (EOF or Stop)
    wm::WAVEFORMATEX format{};
    asf::Header header;
    std::deque<PlaybackCommand> commands;
    void* startContext = nullptr;
    wm::QWORD deliverTime = 0;    // the user clock, as last given by DeliverTime
    bool deliverPending = false;  // DeliverTime called since the last OnTime

    PcmDecoder decoder;  // worker only
};

// The worker thread's body: runs until the session is closed or its open fails.
void RunSession(std::shared_ptr<ReaderSession> session);

// Ends the session with its lock held: no request runs and no callback starts
// after this. The worker ends by itself once out of any callback.
void EndSession(ReaderSession& session);

// After EndSession, waits until the worker is out of any callback and hands
// over the callback references. `lock` holds the session's mutex.
SessionCallbacks TakeCallbacks(ReaderSession& session, std::unique_lock<std::mutex>& lock);

}  // namespace ffsdk
