// SPDX-License-Identifier: MIT
#include "open_handshake.h"

#include <utility>

#include "wmsdk_factories.h"
#include "work_item.h"

namespace mervane {

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
    if (SUCCEEDED(closing.Reserve(&CloseAbandoned, abandoned))) closing.Submit();
}

}  // namespace

HRESULT OpenAndWait(const char* path, WCHAR (&pathBuffer)[kMaxWidePath],
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

}  // namespace mervane
