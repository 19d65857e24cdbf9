// SPDX-License-Identifier: MIT
// Reading a media type from the SDK: a size query, a heap buffer of that size,
// and a second call that fills it.
#pragma once

#include "heap_buffer.h"
#include "wave_format.h"
#include "wmsdk.h"

namespace mervane {

// Reads the media type of `props` into `buffer` (replacing what it held).
// Fails with the SDK's result, or E_OUTOFMEMORY when the buffer cannot be had.
HRESULT ReadMediaType(wm::IWMMediaProps* props, HeapBuffer& buffer);

// Decodes the WAVEFORMATEX a media type read by ReadMediaType carries; false
// when the type is not a WAVEFORMATEX one: a foreign format type, a type shorter
// than its header, or a format block that is too short or does not lie inside
// the buffer.
bool WaveFormatOf(const HeapBuffer& buffer, WaveFormat* wave);

// The media type of an audio stream in the WAVEFORMATEX `format` (`size`
// bytes, decoded as `wave`): fixed-size samples of one block each. It points
// at `format`, which must outlive it.
inline wm::WM_MEDIA_TYPE AudioMediaType(const WaveFormat& wave, BYTE* format, ULONG size) {
    wm::WM_MEDIA_TYPE type{};
    type.majortype = wm::WMMEDIATYPE_Audio;
    type.subtype = wm::AudioSubtype(wave.formatTag);
    type.bFixedSizeSamples = TRUE;
    type.bTemporalCompression = FALSE;
    type.lSampleSize = wave.blockAlign;
    type.formattype = wm::WMFORMAT_WaveFormatEx;
    type.pUnk = nullptr;
    type.cbFormat = size;
    type.pbFormat = format;
    return type;
}

}  // namespace mervane
