// SPDX-License-Identifier: MIT
#include "reader_callback.h"

#include <new>
#include <utility>

#include "never_destroyed.h"
#include "wmsdk_factories.h"
#include "work_item.h"

namespace mervane {

namespace {

// Built by the runtime when the library loads, before DllMain sees the process
// attach; never destroyed (never_destroyed.h).
NeverDestroyed<ReaderCallback> g_readerCallback;

}  // namespace

ReaderCallback& TheReaderCallback() {
    return g_readerCallback.Get();
}

// ---- The open signal ----------------------------------------------------------------

OpenSignal::OpenSignal() : event_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

OpenSignal::~OpenSignal() {
    if (event_ != nullptr) CloseHandle(event_);
}

void* OpenSignal::Arm() {
    const uintptr_t context = armed_.fetch_add(1) + 1;
    if (event_ != nullptr) ResetEvent(event_);
    return reinterpret_cast<void*>(context);
}

void OpenSignal::Signal(HRESULT result, void* context) {
    if (reinterpret_cast<uintptr_t>(context) != armed_.load()) return;
    result_.store(result);
    if (event_ != nullptr) SetEvent(event_);
}

HRESULT OpenSignal::Wait(DWORD timeoutMs) {
    if (event_ == nullptr) return E_FAIL;
    const DWORD waited = WaitForSingleObject(event_, timeoutMs);
    if (waited == WAIT_TIMEOUT) return wm::E_TIMEOUT;
    return waited == WAIT_OBJECT_0 ? result_.load() : E_FAIL;
}

// ---- ReaderCallback ---------------------------------------------------------------------

bool ReaderCallback::ClaimDecode() {
    bool idle = false;
    return state_.decoding.compare_exchange_strong(idle, true);
}

bool ReaderCallback::ReserveEnd() {
    if (!state_.watch.Valid()) return false;
    state_.watch.Arm();
    return state_.endWork.Reserve(&ReaderCallback::WatchAndFinish, this);
}

// ---- IWMReaderCallback ------------------------------------------------------------

HRESULT ReaderCallback::OnStatus(wm::WMT_STATUS status, HRESULT hr, wm::WMT_ATTR_DATATYPE, BYTE*,
                                 void* context) {
    state_.watch.Heard();
    switch (status) {
        case wm::WMT_OPENED:
        case wm::WMT_SOURCE_SWITCH:
            // Nobody may be waiting (any more): a status of an earlier open
            // carries that open's context and passes no later one.
            state_.open.Signal(hr, context);
            break;
        case wm::WMT_EOF:
        case wm::WMT_STOPPED:
        case wm::WMT_ERROR:  // the reader could not go on: the decode ends too
            // Only the status that empties the slot ends the decode: a stop
            // that follows the end of the file (or races it) finds nothing.
            // This is the reader's own thread: the reader is closed and
            // released on the watching pool thread.
            if (TakeForEnd()) state_.watch.Ended();
            break;
        case wm::WMT_STARTED:
            AdvanceClock();
            break;
        default:
            break;
    }
    return S_OK;
}

bool ReaderCallback::TakeForEnd() {
    SlotGuard guard(state_.lock);
    if (!state_.reader) return false;
    std::swap(state_.endingReader, state_.reader);
    std::swap(state_.endingAdvancedReader, state_.advancedReader);
    return true;
}

void ReaderCallback::WatchAndFinish(void* self) {
    auto& callback = *static_cast<ReaderCallback*>(self);
    switch (callback.state_.watch.Wait()) {
        case DecodeWatch::Outcome::kDismissed:
            return;
        case DecodeWatch::Outcome::kSilent:
            // The reader may still report its end while it is closed here:
            // that status finds the slot empty.
            callback.TakeForEnd();
            break;
        case DecodeWatch::Outcome::kEnded:
            break;
    }
    callback.FinishDecode();
}

void ReaderCallback::FinishDecode() {
    wm::ComPtr<wm::IWMReader> reader;
    wm::ComPtr<wm::IWMReaderAdvanced> advanced;
    {
        SlotGuard guard(state_.lock);
        std::swap(reader, state_.endingReader);
        std::swap(advanced, state_.endingAdvancedReader);
    }
    if (reader) reader->Close();
    advanced.Reset();
    reader.Reset();
    MakeEndCall();
}

void ReaderCallback::MakeEndCall() {
    const SampleCallback callback = state_.sampleCallback.load();
    // The host may start its next decode from inside the end call.
    state_.decoding.store(false);
    if (callback != nullptr) callback(nullptr, 0, 0);
}

void ReaderCallback::AdvanceClock() {
    uint64_t time = 0;
    wm::ComPtr<wm::IWMReaderAdvanced> advanced;
    {
        SlotGuard guard(state_.lock);
        state_.clockTime += wm::kUnitsPerSecond;
        time = state_.clockTime;
        advanced = wm::ComPtr<wm::IWMReaderAdvanced>::CopyFrom(state_.advancedReader.Get());
    }
    // After the end of the decode there is no reader left to drive.
    if (advanced) advanced->DeliverTime(time);
}

HRESULT ReaderCallback::OnSample(DWORD outputNum, wm::QWORD sampleTime, wm::QWORD, DWORD,
                                 wm::INSSBuffer* sample, void*) {
    BYTE* data = nullptr;
    DWORD length = 0;
    if (sample == nullptr || FAILED(sample->GetBufferAndLength(&data, &length)))
        return E_UNEXPECTED;
    // Only output 0, the audio that file information describes, reaches the
    // host (the other streams are switched off, but a reader may still
    // deliver them), with its time in ms (low 32 bits).
    state_.watch.Heard();
    if (outputNum != 0) return S_OK;
    const SampleCallback callback = state_.sampleCallback.load();
    if (callback == nullptr) return S_OK;
    // The reader waits while the host holds its block: that is no silence.
    state_.watch.EnterHost();
    callback(data, length, static_cast<uint32_t>(sampleTime / wm::kUnitsPerMs));
    state_.watch.LeaveHost();
    return S_OK;
}

// ---- IWMReaderCallbackAdvanced ------------------------------------------------------

HRESULT ReaderCallback::OnStreamSample(WORD, wm::QWORD, wm::QWORD, DWORD, wm::INSSBuffer*, void*) {
    return S_OK;
}

HRESULT ReaderCallback::OnTime(wm::QWORD, void*) {
    state_.watch.Heard();
    AdvanceClock();
    return S_OK;
}

HRESULT ReaderCallback::OnStreamSelection(WORD, WORD*, wm::WMT_STREAM_SELECTION*, void*) {
    return S_OK;
}

HRESULT ReaderCallback::OnOutputPropsChanged(DWORD, wm::WM_MEDIA_TYPE*, void*) {
    return S_OK;
}

HRESULT ReaderCallback::AllocateForStream(WORD, DWORD, wm::INSSBuffer**, void*) {
    return E_NOTIMPL;
}

HRESULT ReaderCallback::AllocateForOutput(DWORD, DWORD, wm::INSSBuffer**, void*) {
    return E_NOTIMPL;
}

// ---- Slot handoff ---------------------------------------------------------------------

void ReaderCallback::SetReader(wm::ComPtr<wm::IWMReader> reader) {
    {
        SlotGuard guard(state_.lock);
        std::swap(state_.reader, reader);
    }
    // `reader` now holds the replaced one, released here outside the lock.
}

wm::ComPtr<wm::IWMReader> ReaderCallback::ShareReader() {
    SlotGuard guard(state_.lock);
    return wm::ComPtr<wm::IWMReader>::CopyFrom(state_.reader.Get());
}

void ReaderCallback::TakeReaders(wm::ComPtr<wm::IWMReader>& reader,
                                 wm::ComPtr<wm::IWMReaderAdvanced>& advanced) {
    // The caller's holders are expected empty: nothing is released under the lock.
    SlotGuard guard(state_.lock);
    if (!state_.reader) return;
    std::swap(reader, state_.reader);
    std::swap(advanced, state_.advancedReader);
}

void ReaderCallback::BeginDecode(wm::ComPtr<wm::IWMReaderAdvanced> advanced, uint64_t clockTime) {
    {
        SlotGuard guard(state_.lock);
        std::swap(state_.advancedReader, advanced);
        state_.clockTime = clockTime;
    }
}

// ---- The open handshake -------------------------------------------------------------------

namespace {

// Waits for the report of an open that Open accepted (or answered with
// NS_E_NO_STREAM, which a second report settles), each wait bounded.
HRESULT AwaitOpen(HRESULT hr, OpenSignal& signal, DWORD timeoutMs) {
    if (SUCCEEDED(hr)) hr = signal.Wait(timeoutMs);
    if (hr == wm::NS_E_NO_STREAM) hr = signal.Wait(timeoutMs);
    return hr;
}

void CloseAbandoned(void* context) {
    wm::ComPtr<wm::IWMReader> reader(static_cast<wm::IWMReader*>(context));
    reader->Close();
    // The last reference goes after Close, here, off the reader's own threads.
}

// A reader that never reported its open: closed and released on a pool
// thread, so that neither can hold the host. With no pool thread to be had it
// is abandoned rather than closed here.
void GiveUp(wm::ComPtr<wm::IWMReader> reader) {
    wm::IWMReader* abandoned = reader.Detach();  // the work's from here
    ReservedWork closing;
    if (closing.Reserve(&CloseAbandoned, abandoned)) closing.Submit();
}

}  // namespace

HRESULT OpenReaderAndWait(const char* path, WCHAR (&pathBuffer)[kMaxWidePath],
                          wm::IWMReaderCallback* callback, OpenSignal& signal,
                          wm::ComPtr<wm::IWMReader>& reader, DWORD timeoutMs) {
    // Without its event the open cannot be awaited.
    if (!signal.Valid()) return E_FAIL;
    ToWidePath(path, pathBuffer);
    HRESULT hr = WMCreateReaderPriv(reader.Put());
    if (FAILED(hr)) return hr;
    if (!reader) return E_POINTER;
    void* context = signal.Arm();
    hr = AwaitOpen(reader->Open(pathBuffer, callback, context), signal, timeoutMs);
    if (hr == wm::E_TIMEOUT) {
        GiveUp(std::move(reader));
    } else if (FAILED(hr)) {
        reader.Reset();
    }
    return hr;
}

HRESULT OpenAndWait(const char* path) {
    ReaderCallback& callback = TheReaderCallback();
    wm::ComPtr<wm::IWMReader> reader;
    const HRESULT hr =
        OpenReaderAndWait(path, callback.PathBuffer(), callback.Primary(), callback.Open(), reader);
    // The reader enters its slot once it is open; a failed one never does.
    if (SUCCEEDED(hr)) callback.SetReader(std::move(reader));
    return hr;
}

}  // namespace mervane
