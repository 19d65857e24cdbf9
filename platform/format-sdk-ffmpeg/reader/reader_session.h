// SPDX-License-Identifier: MIT
// The playback side of the reader: one session per Open. The shared open
// thread (open_thread.h) reads the file's header and reports WMT_OPENED; what
// only decoding needs, the demuxer and the decoder, waits for the first Start,
// which gives the session a worker thread of its own. The worker runs the
// Start and Stop requests in the order they were made, pacing delivery by the
// wall clock or by the host's clock, and calls the host's callback from that
// thread only. The reader object (reader.h) is the COM face that queues
// requests and ends the session.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "asf/asf_header.h"
#include "com_ptr.h"
#include "common/file_io.h"
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

// One output of the open file. Like the platform's reader, this one has an
// output per audio or video stream, numbered in the header's order, mutually
// exclusive streams sharing one (audio_stream.h says which of them it plays);
// it decodes the first audio output, and only that output delivers samples.
struct ReaderOutput {
    uint16_t stream = 0;
    bool audio = false;
    wm::WAVEFORMATEX format{};  // audio: the 16-bit PCM the output describes
};

// The host's callback references, held by the session until it ends and then
// released by whoever ended it, outside the session's lock.
struct SessionCallbacks {
    wm::ComPtr<wm::IWMReaderCallback> callback;
    wm::ComPtr<wm::IWMReaderCallbackAdvanced> advanced;
};

// What the reader object, the open thread and the worker share. Everything
// below the mutex is guarded by it, except the decoder, which only the worker
// touches.
struct ReaderSession {
    // Set before the open is posted, then only read.
    std::string path;
    void* openContext = nullptr;

    std::mutex mutex;
    std::condition_variable changed;
    std::thread::id workerId;  // the session's worker, once it runs
    std::thread::id openerId;  // the open thread, while it opens this session
    SessionCallbacks callbacks;
    bool closed = false;
    bool inCallback = false;
    bool opened = false;   // the open succeeded and the fields below are set
    bool started = false;  // between an accepted Start and its end (EOF or Stop)
    asf::Header header;
    std::vector<ReaderOutput> outputs;
    DWORD decodedOutput = 0;           // the output of the decoded stream
    bool manualSelection = false;      // SetManualStreamSelection(TRUE)
    std::vector<uint16_t> deselected;  // streams SetStreamsSelected switched off
    std::deque<PlaybackCommand> commands;
    void* startContext = nullptr;
    wm::QWORD deliverTime = 0;    // the user clock, as last given by DeliverTime
    bool deliverPending = false;  // DeliverTime called since the last OnTime

    // The file the open found at the path, kept open until the session ends:
    // a decode reads this file whatever becomes of the path. Set by the open,
    // then used by the worker only, which closes it when it ends (or Close,
    // when no worker ran).
    Fd file;
    // Worker only. Opened at the first Start: an open reads the header alone.
    PcmDecoder decoder;
};

// Runs on the open thread: reads the header and reports the open.
void OpenSession(const std::shared_ptr<ReaderSession>& session);

// The worker thread's body, from the first Start: runs the requests until the
// session is closed.
void RunSession(std::shared_ptr<ReaderSession> session);

// Whether the calling thread is one the session calls the host back from.
// Called with the session's lock held.
bool OnCallbackThread(const ReaderSession& session);

// Ends the session with its lock held: no request runs and no callback starts
// after this. The worker ends by itself once out of any callback.
void EndSession(ReaderSession& session);

// After EndSession, waits until the worker is out of any callback and hands
// over the callback references. `lock` holds the session's mutex.
SessionCallbacks TakeCallbacks(ReaderSession& session, std::unique_lock<std::mutex>& lock);

}  // namespace ffsdk
