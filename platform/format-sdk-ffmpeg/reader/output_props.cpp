// SPDX-License-Identifier: MIT
#include "output_props.h"

#include <cstring>
#include <new>
#include <string>

#include "common/com_call.h"

namespace ffsdk {

wm::WAVEFORMATEX PcmWaveFormat(uint32_t rate, uint16_t channels) {
    wm::WAVEFORMATEX f{};
    f.wFormatTag = wm::WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.nBlockAlign = static_cast<WORD>(channels * 2);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    f.wBitsPerSample = 16;
    f.cbSize = 0;
    return f;
}

HRESULT GetPcmMediaType(const wm::WAVEFORMATEX& format, wm::WM_MEDIA_TYPE* mediaType, DWORD* size) {
    wm::WM_MEDIA_TYPE type{};
    type.majortype = wm::WMMEDIATYPE_Audio;
    type.subtype = wm::AudioSubtype(wm::WAVE_FORMAT_PCM);
    type.bFixedSizeSamples = TRUE;
    type.bTemporalCompression = FALSE;
    type.lSampleSize = format.nBlockAlign;
    type.formattype = wm::WMFORMAT_WaveFormatEx;
    type.pUnk = nullptr;
    return WriteMediaType(type, &format, sizeof(format), mediaType, size);
}

bool IsPcmMediaType(const wm::WM_MEDIA_TYPE& mediaType, const wm::WAVEFORMATEX& format) {
    if (mediaType.majortype != wm::WMMEDIATYPE_Audio ||
        mediaType.subtype != wm::AudioSubtype(wm::WAVE_FORMAT_PCM) ||
        mediaType.formattype != wm::WMFORMAT_WaveFormatEx || mediaType.pbFormat == nullptr ||
        mediaType.cbFormat < 16) {
        return false;
    }
    wm::WAVEFORMATEX given{};
    std::memcpy(&given, mediaType.pbFormat,
                mediaType.cbFormat < sizeof(given) ? mediaType.cbFormat : sizeof(given));
    return given.wFormatTag == format.wFormatTag && given.nChannels == format.nChannels &&
           given.nSamplesPerSec == format.nSamplesPerSec &&
           given.nBlockAlign == format.nBlockAlign && given.wBitsPerSample == format.wBitsPerSample;
}

OutputMediaProps* OutputMediaProps::Create(const wm::WAVEFORMATEX& format) {
    return new (std::nothrow) OutputMediaProps(format);
}

HRESULT OutputMediaProps::GetType(GUID* type) {
    if (type == nullptr) return E_POINTER;
    *type = wm::WMMEDIATYPE_Audio;
    return S_OK;
}

HRESULT OutputMediaProps::GetMediaType(wm::WM_MEDIA_TYPE* mediaType, DWORD* size) {
    return GetPcmMediaType(format_, mediaType, size);
}

HRESULT OutputMediaProps::SetMediaType(wm::WM_MEDIA_TYPE* mediaType) {
    if (mediaType == nullptr) return E_POINTER;
    return IsPcmMediaType(*mediaType, format_) ? S_OK : E_INVALIDARG;
}

HRESULT OutputMediaProps::GetStreamGroupName(WCHAR* name, WORD* length) {
    // The single output belongs to no stream group.
    return CopyWideName(u"", name, length);
}

HRESULT OutputMediaProps::GetConnectionName(WCHAR* name, WORD* length) {
    // The connection name is the output number.
    return CopyWideName(u"0", name, length);
}

bool OutputMediaProps::QueryBase(REFIID iid, void** out) {
    if (iid != wm::IID_IWMMediaProps) return false;
    *out = static_cast<wm::IWMMediaProps*>(this);
    return true;
}

}  // namespace ffsdk
