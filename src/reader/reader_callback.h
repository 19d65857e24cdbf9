// SPDX-License-Identifier: MIT
// The one object the Format SDK reader calls back during a decode: it signals
// the open, moves the user clock, hands output 0's samples to the host and
// reports the end of the stream to the decode's watch (decode.cpp ends the
// decode from there). It carries the reader side's slots (reader_state.h).
//
// The reader must never be closed or given its last release on its own
// callback thread: the platform's reader stops that thread on Close and waits
// for it, i.e. for itself. The callback therefore only takes the readers out
// of their slots; a pool thread closes and releases them.
#pragma once

#include "com_object.h"
#include "reader_state.h"
#include "wmsdk.h"

namespace mervane {

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

    wm::IWMReaderCallback* Primary() { return this; }
    ReaderState& State() { return state_; }

  private:
    // The one instance is never freed; the library's own reference keeps the
    // count above 0, so reaching 0 would only mean an unbalanced caller.
    void LastReleased() override {}

    ReaderState state_;
};

// The one instance, built when the library loads.
ReaderCallback& TheReaderCallback();

}  // namespace mervane
