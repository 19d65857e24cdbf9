// The reader side of the library: the one object the Format SDK reader calls
// back, the slots a decode or file query keeps (ReaderState), and the blocking
// open shared by GetWmaFileInfo and GoGoGoReader.
//
// Threads: the host thread fills the slots before Open and Start; after Start
// the SDK's threads update the clock, deliver samples and, at the end of the
// stream, take the reader out of its slot and release it, while another host
// thread may cancel. The reader and advanced-reader slots and the clock are
// therefore only touched under `lock`, and every SDK call on a reader is made
// through a reference of the caller's own, taken under that lock: whoever
// empties a slot owns what it took, and a reader stays alive for as long as
// anyone is calling it.
#pragma once

#include <atomic>
#include <cstdint>

#include "com_ptr.h"
#include "mervane.h"
#include "slot_lock.h"
#include "wide_text.h"
#include "wmsdk.h"

namespace mervane {

struct ReaderState {
    WCHAR pathBuffer[kMaxWidePath] = {};           // wide path of the file being opened
    ComPtr<wm::IWMReader> reader;                  // under `lock`; empty when no reader is open
    HANDLE openEvent = nullptr;                    // auto-reset; signalled by status 1 and 22
    std::atomic<HRESULT> openResult{0};            // result carried by the last open signal
    ComPtr<wm::IWMHeaderInfo> headerInfo;          // host thread only (GetWmaFileInfo)
    ComPtr<wm::IWMReaderAdvanced> advancedReader;  // under `lock`
    uint64_t clockTime = 0;                        // under `lock`; 100 ns units
    std::atomic<SampleCallback> sampleCallback{nullptr};
    SlotLock lock;
};

class ReaderCallback final : public wm::IWMReaderCallback, public wm::IWMReaderCallbackAdvanced {
  public:
    ReaderCallback();
    ~ReaderCallback();
    ReaderCallback(const ReaderCallback&) = delete;
    ReaderCallback& operator=(const ReaderCallback&) = delete;

    // IUnknown (shared by both interfaces).
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

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
    void SetReader(ComPtr<wm::IWMReader> reader);
    // An extra reference to the reader in the slot (empty if there is none).
    ComPtr<wm::IWMReader> ShareReader();
    // Empties the reader slot and hands its reference to the caller.
    ComPtr<wm::IWMReader> TakeReader();
    // Empties both the reader and the advanced-reader slot (the end of a decode).
    void TakeReaders(ComPtr<wm::IWMReader>& reader, ComPtr<wm::IWMReaderAdvanced>& advanced);
    // Installs a decode's advanced reader and its starting clock before Start.
    void BeginDecode(ComPtr<wm::IWMReaderAdvanced> advanced, uint64_t clockTime);

    void SetSampleCallback(SampleCallback callback) { state_.sampleCallback.store(callback); }
    ComPtr<wm::IWMHeaderInfo>& HeaderInfo() { return state_.headerInfo; }
    WCHAR (&PathBuffer())[kMaxWidePath] { return state_.pathBuffer; }
    HANDLE OpenEvent() const { return state_.openEvent; }
    HRESULT OpenResult() const { return state_.openResult.load(); }

    wm::IWMReaderCallback* Primary() { return this; }
    wm::IWMReaderCallbackAdvanced* Secondary() { return this; }

  private:
    // Status 4 and 12: closes and releases the reader, then makes the end call.
    void EndOfDecode();
    // Status 11 and OnTime: moves the clock one second on and delivers it.
    void AdvanceClock();

    volatile LONG refCount_ = 1;  // the library's own reference
    ReaderState state_;
};

// The one instance, built when the library loads.
ReaderCallback& TheReaderCallback();

// Creates a reader into the reader slot, opens `path` with it and blocks until
// the reader reports the open. Returns the open's result; on success the reader
// slot holds the open reader. A reader whose open failed is released.
HRESULT OpenAndWait(const char* path);

}  // namespace mervane
