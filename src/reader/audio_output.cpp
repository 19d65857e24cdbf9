// SPDX-License-Identifier: MIT
#include "audio_output.h"

#include "com_ptr.h"
#include "heap_buffer.h"
#include "media_type.h"

namespace mervane {

namespace {

constexpr WORD kMaxStreams = 128;

}  // namespace

HRESULT CheckOutputZeroIsAudio(wm::IWMReader* reader) {
    wm::ComPtr<wm::IWMOutputMediaProps> props;
    HeapBuffer buffer;
    wm::MediaTypeView type;
    HRESULT hr = reader->GetOutputProps(0, props.Put());
    if (FAILED(hr)) return hr;
    if (!props) return E_POINTER;
    hr = ReadMediaType(props.Get(), buffer, &type);
    if (FAILED(hr)) return hr;
    return type.type->majortype == wm::WMMEDIATYPE_Audio ? S_OK : wm::NS_E_INVALID_INPUT_FORMAT;
}

void SwitchOffOtherStreams(wm::IWMReader* reader, wm::IWMReaderAdvanced* advanced) {
    wm::ComPtr<wm::IWMProfile> profile;
    DWORD count = 0;
    if (FAILED(reader->QueryInterface(wm::IID_IWMProfile, profile.PutVoid())) || !profile ||
        FAILED(profile->GetStreamCount(&count)))
        return;
    // Stream numbers run from 1 to 127: fixed room, nothing allocated.
    WORD numbers[kMaxStreams];
    wm::WMT_STREAM_SELECTION selections[kMaxStreams];
    WORD streams = 0;
    bool anyOff = false;
    for (DWORD i = 0; i < count && streams < kMaxStreams; ++i) {
        wm::ComPtr<wm::IWMStreamConfig> stream;
        GUID type{};
        WORD number = 0;
        if (FAILED(profile->GetStream(i, stream.Put())) || !stream ||
            FAILED(stream->GetStreamType(&type)) || FAILED(stream->GetStreamNumber(&number)))
            return;
        numbers[streams] = number;
        selections[streams] = type == wm::WMMEDIATYPE_Audio ? wm::WMT_ON : wm::WMT_OFF;
        anyOff = anyOff || selections[streams] == wm::WMT_OFF;
        ++streams;
    }
    // Nothing to switch off: a selection would only cost the reader a reset.
    if (!anyOff) return;
    // Wine's reader answers E_NOTIMPL here, yet takes the selection below.
    (void)advanced->SetManualStreamSelection(TRUE);
    (void)advanced->SetStreamsSelected(streams, numbers, selections);
}

}  // namespace mervane
