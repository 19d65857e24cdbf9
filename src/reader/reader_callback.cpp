#include "reader_callback.h"

#include <utility>

#include "wmsdk_factories.h"

namespace mervane {

namespace {

constexpr uint64_t kOneSecond = 10'000'000;  // 100 ns units
constexpr uint64_t kUnitsPerMs = 10'000;

// Built by the runtime when the library loads, before DllMain sees the process
// attach; destroyed by its exit handlers at unload.
ReaderCallback g_readerCallback;

}  // namespace

ReaderCallback& TheReaderCallback() {
    return g_readerCallback;
}

ReaderCallback::ReaderCallback() {
    state_.openEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

ReaderCallback::~ReaderCallback() {
    CloseHandle(state_.openEvent);
    // A reader still held here belongs to a decode the host never finished. At
    // unload the Format SDK may already be gone, so it is abandoned rather than
    // released into a library that no longer exists.
    state_.reader.Detach();
    state_.advancedReader.Detach();
    state_.headerInfo.Detach();
}

// ---- IUnknown -------------------------------------------------------------------

HRESULT ReaderCallback::QueryInterface(REFIID iid, void** out) {
    if (out == nullptr) return E_POINTER;
    if (iid == wm::IID_IUnknown || iid == wm::IID_IWMReaderCallback) {
        *out = Primary();
    } else if (iid == wm::IID_IWMReaderCallbackAdvanced) {
        *out = Secondary();
    } else {
        // IWMStatusCallback is a base of the primary interface, but the reader
        // is not meant to find it on its own: it is refused like any other.
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG ReaderCallback::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&refCount_));
}

// The library's own reference keeps the count above 0; the static instance is
// never freed, so reaching 0 would only mean an unbalanced caller.
ULONG ReaderCallback::Release() {
    return static_cast<ULONG>(InterlockedDecrement(&refCount_));
}

// ---- IWMReaderCallback ------------------------------------------------------------

HRESULT ReaderCallback::OnStatus(wm::WMT_STATUS status, HRESULT hr, wm::WMT_ATTR_DATATYPE, BYTE*,
                                 void*) {
    switch (status) {
        case wm::WMT_OPENED:
        case wm::WMT_SOURCE_SWITCH:
            // Nobody may be waiting yet (or any more): the signal then stays set
            // for the next open, which takes whatever result is stored by then.
            state_.openResult.store(hr);
            SetEvent(state_.openEvent);
            break;
        case wm::WMT_EOF:
        case wm::WMT_STOPPED:
            EndOfDecode();
            break;
        case wm::WMT_STARTED:
            AdvanceClock();
            break;
        default:
            break;
    }
    return S_OK;
}

void ReaderCallback::EndOfDecode() {
    ComPtr<wm::IWMReader> reader;
    ComPtr<wm::IWMReaderAdvanced> advanced;
    TakeReaders(reader, advanced);
    // Only the status that emptied the slot finishes the decode: a stop that
    // follows the end of the file (or races it) finds nothing left to do.
    if (!reader) return;
    reader->Close();
    advanced.Reset();
    reader.Reset();
    const SampleCallback callback = state_.sampleCallback.load();
    if (callback != nullptr) callback(nullptr, 0, 0);
}

void ReaderCallback::AdvanceClock() {
    uint64_t time = 0;
    ComPtr<wm::IWMReaderAdvanced> advanced;
    {
        SlotGuard guard(state_.lock);
        state_.clockTime += kOneSecond;
        time = state_.clockTime;
        advanced = ComPtr<wm::IWMReaderAdvanced>::CopyFrom(state_.advancedReader.Get());
    }
    // After the end of the decode there is no reader left to drive.
    if (advanced) advanced->DeliverTime(time);
}

HRESULT ReaderCallback::OnSample(DWORD, wm::QWORD sampleTime, wm::QWORD, DWORD,
                                 wm::INSSBuffer* sample, void*) {
    BYTE* data = nullptr;
    DWORD length = 0;
    if (sample == nullptr || FAILED(sample->GetBufferAndLength(&data, &length)))
        return E_UNEXPECTED;
    // Every output's samples go to the host, with their time in ms (low 32 bits).
    const SampleCallback callback = state_.sampleCallback.load();
    if (callback != nullptr)
        callback(data, length, static_cast<uint32_t>(sampleTime / kUnitsPerMs));
    return S_OK;
}

// ---- IWMReaderCallbackAdvanced ------------------------------------------------------

HRESULT ReaderCallback::OnStreamSample(WORD, wm::QWORD, wm::QWORD, DWORD, wm::INSSBuffer*, void*) {
    return S_OK;
}

HRESULT ReaderCallback::OnTime(wm::QWORD, void*) {
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

void ReaderCallback::SetReader(ComPtr<wm::IWMReader> reader) {
    {
        SlotGuard guard(state_.lock);
        std::swap(state_.reader, reader);
    }
    // `reader` now holds the replaced one, released here outside the lock.
}

ComPtr<wm::IWMReader> ReaderCallback::ShareReader() {
    SlotGuard guard(state_.lock);
    return ComPtr<wm::IWMReader>::CopyFrom(state_.reader.Get());
}

ComPtr<wm::IWMReader> ReaderCallback::TakeReader() {
    SlotGuard guard(state_.lock);
    return std::move(state_.reader);
}

void ReaderCallback::TakeReaders(ComPtr<wm::IWMReader>& reader,
                                 ComPtr<wm::IWMReaderAdvanced>& advanced) {
    // The caller's holders are expected empty: nothing is released under the lock.
    SlotGuard guard(state_.lock);
    if (!state_.reader) return;
    std::swap(reader, state_.reader);
    std::swap(advanced, state_.advancedReader);
}

void ReaderCallback::BeginDecode(ComPtr<wm::IWMReaderAdvanced> advanced, uint64_t clockTime) {
    {
        SlotGuard guard(state_.lock);
        std::swap(state_.advancedReader, advanced);
        state_.clockTime = clockTime;
    }
}

// ---- The open handshake -------------------------------------------------------------------

HRESULT OpenAndWait(const char* path) {
    ReaderCallback& callback = TheReaderCallback();
    ToWidePath(path, callback.PathBuffer());

    ComPtr<wm::IWMReader> created;
    HRESULT hr = WMCreateReaderPriv(created.Put());
    if (FAILED(hr)) return hr;
    if (!created) return E_POINTER;
    // The slot keeps one reference; this call works through its own.
    ComPtr<wm::IWMReader> reader = ComPtr<wm::IWMReader>::CopyFrom(created.Get());
    callback.SetReader(std::move(created));

    hr = reader->Open(callback.PathBuffer(), callback.Primary(), nullptr);
    // Without its event (it could not be made at load) the open cannot be
    // awaited, and a result taken without waiting would mean nothing.
    if (SUCCEEDED(hr)) {
        hr = WaitForSingleObject(callback.OpenEvent(), INFINITE) == WAIT_OBJECT_0
                 ? callback.OpenResult()
                 : E_FAIL;
    }
    // This result comes with a second report that settles the open.
    if (hr == wm::NS_E_NO_STREAM) {
        hr = WaitForSingleObject(callback.OpenEvent(), INFINITE) == WAIT_OBJECT_0
                 ? callback.OpenResult()
                 : E_FAIL;
    }
    // A reader that did not open is of no further use: the slot's reference goes.
    if (FAILED(hr)) callback.TakeReader().Reset();
    return hr;
}

}  // namespace mervane
