// SPDX-License-Identifier: MIT
// The reader side of the library: the one object the Format SDK reader calls
// back during a decode, the slots a decode keeps (ReaderState), and the
// blocking open shared by GetWmaFileInfo and GoGoGoReader.
//
// Threads: the host thread fills the slots before Open and Start; after Start
// the SDK's threads update the clock, deliver samples and, at the end of the
// stream, take the reader out of its slot, while another host thread may
// cancel. The reader and advanced-reader slots and the clock are therefore only
// touched under `lock`, and every SDK call on a reader is made through a
// reference of the caller's own, taken under that lock: whoever empties a slot
// owns what it took, and a reader stays alive for as long as anyone is calling
// it.
//
// The reader must never be closed or given its last release on its own
// callback thread: the platform's reader stops that thread on Close and waits
// for it, i.e. for itself. The end of a decode therefore runs on a pool thread,
// reserved when the decode starts, so that the end never lacks one. That thread
// waits from the start on, and also stops a decode whose reader stays silent
// (decode_watch.h).
// One decode holds the reader side at a time, from GoGoGoReader until its end
// call; a file query works on objects of its own.
#pragma once

#include <atomic>
#include <cstdint>

#include "com_object.h"
#include "com_ptr.h"
#include "decode_watch.h"
#include "mervane.h"
#include "slot_lock.h"
#include "wide_text.h"
#include "wmsdk.h"
#include "work_item.h"

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
    OpenSignal(const OpenSignal&) = delete;
    OpenSignal& operator=(const OpenSignal&) = delete;

    bool Valid() const { return event_ != nullptr; }
    // Prepares the next open; returns the context to open with.
    void* Arm();
    // A status 1 or 22 with `context`: signals if it belongs to the armed open.
    void Signal(HRESULT result, void* context);
    // Blocks until the open is signalled, or for at most `timeoutMs`, and
    // returns its result: E_TIMEOUT when the time ran out, E_FAIL if the wait
    // itself failed (the result would then mean nothing).
    HRESULT Wait(DWORD timeoutMs);
    HANDLE Event() const { return event_; }

  private:
    HANDLE event_;
    std::atomic<HRESULT> result_{0};
    std::atomic<uintptr_t> armed_{0};
};

// How long an open may take before it is given up: far above any local open,
// but a reader that never reports its open (Wine's, on some WMA Voice files)
// must not hold the host for good.
constexpr DWORD kOpenTimeoutMs = 30000;

// Creates a reader, opens `path` with it, reporting to `callback`, and blocks
// until `signal` reports the open, for at most `timeoutMs`. On success `reader`
// holds the open reader; a reader whose open failed is released, and one that
// did not answer in time is closed and released on a pool thread (its Close
// may wait on the very open it never finished).
HRESULT OpenReaderAndWait(const char* path, WCHAR (&pathBuffer)[kMaxWidePath],
                          wm::IWMReaderCallback* callback, OpenSignal& signal,
                          wm::ComPtr<wm::IWMReader>& reader, DWORD timeoutMs = kOpenTimeoutMs);

struct ReaderState {
    WCHAR pathBuffer[kMaxWidePath] = {};               // wide path of the file being opened
    wm::ComPtr<wm::IWMReader> reader;                  // under `lock`; empty when no reader is open
    OpenSignal open;                                   // status 1 and 22 of the decode's reader
    wm::ComPtr<wm::IWMReaderAdvanced> advancedReader;  // under `lock`
    uint64_t clockTime = 0;                            // under `lock`; 100 ns units
    // The readers of a decode that ended, on their way to the pool thread.
    wm::ComPtr<wm::IWMReader> endingReader;                  // under `lock`
    wm::ComPtr<wm::IWMReaderAdvanced> endingAdvancedReader;  // under `lock`
    // The pool thread that ends the decode: reserved by GoGoGoReader before
    // the open, submitted once the reader has started; it waits on `watch`
    // for the status that ends the decode, or for the reader's silence.
    ReservedWork endWork;
    DecodeWatch watch;
    std::atomic<SampleCallback> sampleCallback{nullptr};
    // Set from GoGoGoReader's claim until its decode failed or made its end call.
    std::atomic<bool> decoding{false};
    SlotLock lock;
};

// IWMStatusCallback is a base of the primary interface, but the reader is not
// meant to find it on its own: like any IID not listed, it is refused.
class ReaderCallback final
    : public wm::ComObject<wm::IWMReaderCallback, wm::IWMReaderCallbackAdvanced> {
  public:
    ReaderCallback() = default;

    // IWMStatusCallback, IWMReaderCallback.
    HRESULT STDMETHODCALLTYPE OnStatus(wm::WMT_STATUS status, HRESULT hr,
                                       wm::WMT_ATTR_DATATYPE type, BYTE* value,
                                       void* context) override;
    HRESULT STDMETHODCALLTYPE OnSample(DWORD outputNum, wm::QWORD sampleTime,
                                       wm::QWORD sampleDuration, DWORD flags,
                                       wm::INSSBuffer* sample, void* context) override;

    // IWMReaderCallbackAdvanced.
    HRESULT STDMETHODCALLTYPE OnStreamSample(WORD streamNum, wm::QWORD sampleTime,
                                             wm::QWORD sampleDuration, DWORD flags,
                                             wm::INSSBuffer* sample, void* context) override;
    HRESULT STDMETHODCALLTYPE OnTime(wm::QWORD currentTime, void* context) override;
    HRESULT STDMETHODCALLTYPE OnStreamSelection(WORD streamCount, WORD* streamNumbers,
                                                wm::WMT_STREAM_SELECTION* selections,
                                                void* context) override;
    HRESULT STDMETHODCALLTYPE OnOutputPropsChanged(DWORD outputNum, wm::WM_MEDIA_TYPE* mediaType,
                                                   void* context) override;
    HRESULT STDMETHODCALLTYPE AllocateForStream(WORD streamNum, DWORD size, wm::INSSBuffer** buffer,
                                                void* context) override;
    HRESULT STDMETHODCALLTYPE AllocateForOutput(DWORD outputNum, DWORD size,
                                                wm::INSSBuffer** buffer, void* context) override;

    // ---- Slot handoff (each step under the slot lock) ----

    // Puts a newly created reader into the reader slot; the reader it replaces
    // (left by an earlier job) is released after the lock is dropped.
    void SetReader(wm::ComPtr<wm::IWMReader> reader);
    // An extra reference to the reader in the slot (empty if there is none).
    wm::ComPtr<wm::IWMReader> ShareReader();
    // Empties both the reader and the advanced-reader slot (the end of a decode).
    void TakeReaders(wm::ComPtr<wm::IWMReader>& reader,
                     wm::ComPtr<wm::IWMReaderAdvanced>& advanced);
    // Installs a decode's advanced reader and its starting clock before Start.
    void BeginDecode(wm::ComPtr<wm::IWMReaderAdvanced> advanced, uint64_t clockTime);

    // Claims the reader side for a decode; false while another decode holds it.
    bool ClaimDecode();
    // Reserves the pool thread that will end the claimed decode; false if the
    // pool has none to give.
    bool ReserveEnd();
    // Hands the started decode to the reserved pool thread, which ends it.
    void WatchDecode() {
        state_.watch.Begin();
        state_.endWork.Submit();
    }
    // Gives the reader side, and the end's thread, back after a decode that
    // failed before its start.
    void ReleaseDecode() {
        state_.endWork.Release();
        state_.watch.Dismiss();
        state_.decoding.store(false);
    }
    DecodeWatch& Watch() { return state_.watch; }

    void SetSampleCallback(SampleCallback callback) { state_.sampleCallback.store(callback); }
    WCHAR (&PathBuffer())[kMaxWidePath] { return state_.pathBuffer; }
    OpenSignal& Open() { return state_.open; }

    wm::IWMReaderCallback* Primary() { return this; }
    wm::IWMReaderCallbackAdvanced* Secondary() { return this; }

  private:
    // Status 4, 12 and 0 (an error), or the reader's silence: takes the
    // readers out of their slots for the reserved pool thread, which closes
    // and releases them and makes the end call. True if it took them.
    bool TakeForEnd();
    // The reserved pool thread: waits for the decode's end, then ends it.
    static void WatchAndFinish(void* self);
    void FinishDecode();
    // Lets the reader side go and makes the end call.
    void MakeEndCall();
    // Status 11 and OnTime: moves the clock one second on and delivers it.
    void AdvanceClock();

    // The one instance is never freed; the library's own reference keeps the
    // count above 0, so reaching 0 would only mean an unbalanced caller.
    void LastReleased() override {}

    ReaderState state_;
};

// The one instance, built when the library loads.
ReaderCallback& TheReaderCallback();

// The decode's open: creates a reader into the reader slot, opens `path` with it
// and blocks until the reader reports the open. Returns the open's result; on
// success the reader slot holds the open reader. A reader whose open failed is
// released.
HRESULT OpenAndWait(const char* path);

}  // namespace mervane
