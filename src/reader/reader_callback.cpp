// SPDX-License-Identifier: MIT
#include "reader_callback.h"

#include "never_destroyed.h"

namespace mervane {

namespace {

// Built by the runtime when the library loads, before DllMain sees the process
// attach; never destroyed (never_destroyed.h).
NeverDestroyed<ReaderCallback> g_readerCallback;

}  // namespace

ReaderCallback& TheReaderCallback() {
    return g_readerCallback.Get();
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
            if (state_.TakeForEnd()) state_.watch.Ended();
            break;
        case wm::WMT_STARTED:
            state_.AdvanceClock();
            break;
        default:
            break;
    }
    return S_OK;
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
    state_.AdvanceClock();
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

}  // namespace mervane
