// SPDX-License-Identifier: MIT
// Reading a media type from the SDK into a heap buffer, by the contract's rule
// (media_type_view.h).
#pragma once

#include "com_ptr.h"
#include "heap_buffer.h"
#include "media_type_view.h"
#include "wave_format.h"
#include "wmsdk.h"

namespace mervane {

// Reads the media type of `props` into `buffer` (replacing what it held) and
// views it as `type`. Fails with the SDK's result, E_OUTOFMEMORY when the
// buffer cannot be had, or E_FAIL for a buffer that breaks the contract's rule.
HRESULT ReadMediaType(wm::IWMMediaProps* props, HeapBuffer& buffer, wm::MediaTypeView* type);

// Goes through every format of every audio codec `codecInfo` offers, in its
// order: reads each format's media type into `mediaType` through `props` and
// hands it, with its WAVEFORMATEX, to `visit(const wm::MediaTypeView&, const
// wm::WaveFormat&)`. The previous format's buffer and properties are let go
// before the next is asked for, its configuration as soon as the properties
// are had; both holders are the caller's, which decides when the last ones
// go. Stops at the first failure, the SDK's or visit's, and returns it
// (E_FAIL for a format that is not a WAVEFORMATEX one).
template <typename Visit>
HRESULT ForEachAudioFormat(wm::IWMCodecInfo* codecInfo, wm::ComPtr<wm::IWMMediaProps>& props,
                           HeapBuffer& mediaType, Visit&& visit) {
    DWORD codecCount = 0;
    HRESULT hr = codecInfo->GetCodecInfoCount(wm::WMMEDIATYPE_Audio, &codecCount);
    if (FAILED(hr)) return hr;
    for (DWORD codec = 0; codec < codecCount; ++codec) {
        DWORD formatCount = 0;
        hr = codecInfo->GetCodecFormatCount(wm::WMMEDIATYPE_Audio, codec, &formatCount);
        if (FAILED(hr)) return hr;
        for (DWORD format = 0; format < formatCount; ++format) {
            mediaType = HeapBuffer();
            {
                wm::ComPtr<wm::IWMStreamConfig> config;
                hr = codecInfo->GetCodecFormat(wm::WMMEDIATYPE_Audio, codec, format, config.Put());
                if (FAILED(hr)) return hr;
                props.Reset();
                hr = config.As(props);
                if (FAILED(hr)) return hr;
            }
            wm::MediaTypeView type;
            hr = ReadMediaType(props.Get(), mediaType, &type);
            if (FAILED(hr)) return hr;
            wm::WaveFormat wave;
            if (!wm::WaveFormatOf(type, &wave)) return E_FAIL;
            hr = visit(type, wave);
            if (FAILED(hr)) return hr;
        }
    }
    return S_OK;
}

}  // namespace mervane
