#include "output_props.h"

#include <cstring>
#include <new>
#include <string>

namespace ffsdk {

namespace {

// Names of the single output; the connection name is the output number.
HRESULT CopyName(const char16_t* text, WCHAR* name, WORD* length) {
    if (length == nullptr) return E_POINTER;
    const WORD needed = static_cast<WORD>(std::char_traits<char16_t>::length(text) + 1);
    if (name == nullptr) {
        *length = needed;
        return S_OK;
    }
    if (*length < needed) {
        *length = needed;
        return wm::ASF_E_BUFFERTOOSMALL;
    }
    std::memcpy(name, text, needed * sizeof(WCHAR));
    *length = needed;
    return S_OK;
}

}  // namespace

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

DWORD PcmMediaTypeSize() {
    return static_cast<DWORD>(sizeof(wm::WM_MEDIA_TYPE) + sizeof(wm::WAVEFORMATEX));
}

HRESULT GetPcmMediaType(const wm::WAVEFORMATEX& format, wm::WM_MEDIA_TYPE* mediaType, DWORD* size) {
    if (size == nullptr) return E_POINTER;
    const DWORD needed = PcmMediaTypeSize();
    if (mediaType == nullptr) {
        *size = needed;
        return S_OK;
    }
    if (*size < needed) {
        *size = needed;
        return wm::ASF_E_BUFFERTOOSMALL;
    }
    BYTE* formatBytes = reinterpret_cast<BYTE*>(mediaType) + sizeof(wm::WM_MEDIA_TYPE);
    wm::WM_MEDIA_TYPE type{};
    type.majortype = wm::WMMEDIATYPE_Audio;
    type.subtype = wm::AudioSubtype(wm::WAVE_FORMAT_PCM);
    type.bFixedSizeSamples = TRUE;
    type.bTemporalCompression = FALSE;
    type.lSampleSize = format.nBlockAlign;
    type.formattype = wm::WMFORMAT_WaveFormatEx;
    type.pUnk = nullptr;
    type.cbFormat = static_cast<ULONG>(sizeof(wm::WAVEFORMATEX));
    type.pbFormat = formatBytes;
    std::memcpy(mediaType, &type, sizeof(type));
    std::memcpy(formatBytes, &format, sizeof(format));
    *size = needed;
    return S_OK;
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
    return CopyName(u"", name, length);
}

HRESULT OutputMediaProps::GetConnectionName(WCHAR* name, WORD* length) {
    return CopyName(u"0", name, length);
}

bool OutputMediaProps::QueryBase(REFIID iid, void** out) {
    if (iid != wm::IID_IWMMediaProps) return false;
    *out = static_cast<wm::IWMMediaProps*>(this);
    return true;
}

}  // namespace ffsdk
