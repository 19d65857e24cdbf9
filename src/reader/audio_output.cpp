// SPDX-License-Identifier: MIT
#include "audio_output.h"

#include <algorithm>
#include <vector>

#include "com_ptr.h"
#include "heap_buffer.h"
#include "media_type.h"

namespace mervane {

bool OutputZeroIsAudio(wm::IWMReader* reader) {
    ComPtr<wm::IWMOutputMediaProps> props;
    HeapBuffer buffer;
    if (FAILED(reader->GetOutputProps(0, props.Put())) || !props ||
        FAILED(ReadMediaType(props.Get(), buffer)) || buffer.size() < sizeof(wm::WM_MEDIA_TYPE))
        return false;
    return buffer.as<wm::WM_MEDIA_TYPE>()->majortype == wm::WMMEDIATYPE_Audio;
}

void SwitchOffOtherStreams(wm::IWMReader* reader, wm::IWMReaderAdvanced* advanced) {
    ComPtr<wm::IWMProfile> profile;
    DWORD count = 0;
    if (FAILED(
            reader->QueryInterface(wm::IID_IWMProfile, reinterpret_cast<void**>(profile.Put()))) ||
        !profile || FAILED(profile->GetStreamCount(&count)))
        return;
    std::vector<WORD> numbers;
    std::vector<wm::WMT_STREAM_SELECTION> selections;
    for (DWORD i = 0; i < count && i < 128; ++i) {
        ComPtr<wm::IWMStreamConfig> stream;
        GUID type{};
        WORD number = 0;
        if (FAILED(profile->GetStream(i, stream.Put())) || !stream ||
            FAILED(stream->GetStreamType(&type)) || FAILED(stream->GetStreamNumber(&number)))
            return;
        numbers.push_back(number);
        selections.push_back(type == wm::WMMEDIATYPE_Audio ? wm::WMT_ON : wm::WMT_OFF);
    }
    // Nothing to switch off: a selection would only cost the reader a reset.
    if (std::find(selections.begin(), selections.end(), wm::WMT_OFF) == selections.end()) return;
    // Wine's reader answers E_NOTIMPL here, yet takes the selection below.
    (void)advanced->SetManualStreamSelection(TRUE);
    (void)advanced->SetStreamsSelected(static_cast<WORD>(numbers.size()), numbers.data(),
                                       selections.data());
}

}  // namespace mervane
