// SPDX-License-Identifier: MIT
// The reader side's slots: what a decode keeps while the Format SDK's threads
// call the reader callback (reader_callback.h), and the moves of references
// into and out of them.
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
// One decode holds the reader side at a time, from GoGoGoReader until its end
// call (decode.cpp); a file query works on objects of its own.
#pragma once

#include <atomic>
#include <cstdint>

#include "com_ptr.h"
#include "decode_watch.h"
#include "mervane.h"
#include "open_handshake.h"
#include "slot_lock.h"
#include "wide_text.h"
#include "wmsdk.h"
#include "work_item.h"

namespace mervane {

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

    // ---- Moves into and out of the slots (each under the lock) ----

    // Puts a newly opened reader into the reader slot; the reader it replaces
    // (left by an earlier job) is released after the lock is dropped.
    void SetReader(wm::ComPtr<wm::IWMReader> opened);
    // An extra reference to the reader in the slot (empty if there is none).
    wm::ComPtr<wm::IWMReader> ShareReader();
    // Empties both the reader and the advanced-reader slot into the caller's
    // (empty) holders: a decode undone before its start.
    void TakeReaders(wm::ComPtr<wm::IWMReader>& taken, wm::ComPtr<wm::IWMReaderAdvanced>& advanced);
    // Installs a decode's advanced reader and its starting clock before Start.
    void StartClock(wm::ComPtr<wm::IWMReaderAdvanced> advanced, uint64_t startTime);
    // Status 11 and OnTime: moves the clock one second on and delivers it.
    void AdvanceClock();
    // The decode ends: moves the readers to the ending slots, for the pool
    // thread. False if the reader slot was empty (the decode ended already).
    bool TakeForEnd();
    // On the pool thread: empties the ending slots into the caller's holders.
    void TakeEnding(wm::ComPtr<wm::IWMReader>& taken, wm::ComPtr<wm::IWMReaderAdvanced>& advanced);

    // Gives the claim of the reader side, and the end's thread, back after a
    // decode that failed before its start.
    void ReleaseDecode();
};

}  // namespace mervane
