// SPDX-License-Identifier: MIT
#include "profile_manager.h"

#include "com_ptr.h"
#include "encode/codec_catalog.h"
#include "profile/profile.h"
#include "profile/stream_config.h"
#include "wave_format.h"

namespace ffsdk {

ProfileManager* ProfileManager::Create() {
    return new (std::nothrow) ProfileManager();
}

HRESULT ProfileManager::CreateEmptyProfile(wm::WMT_VERSION version, wm::IWMProfile** profile) {
    if (profile == nullptr) return E_POINTER;
    *profile = Profile::Create(version);
    return *profile != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT ProfileManager::LoadProfileByID(REFGUID, wm::IWMProfile** profile) {
    if (profile != nullptr) *profile = nullptr;
    return E_NOTIMPL;
}

HRESULT ProfileManager::LoadProfileByData(const WCHAR*, wm::IWMProfile** profile) {
    if (profile != nullptr) *profile = nullptr;
    return E_NOTIMPL;
}

HRESULT ProfileManager::SaveProfile(wm::IWMProfile*, WCHAR*, DWORD*) {
    return E_NOTIMPL;
}

HRESULT ProfileManager::GetSystemProfileCount(DWORD*) {
    return E_NOTIMPL;
}

HRESULT ProfileManager::LoadSystemProfile(DWORD, wm::IWMProfile** profile) {
    if (profile != nullptr) *profile = nullptr;
    return E_NOTIMPL;
}

HRESULT ProfileManager::GetCodecInfoCount(REFGUID mediaType, DWORD* codecs) {
    return CopyOut(mediaType == wm::WMMEDIATYPE_Audio ? 1u : 0u, codecs);
}

HRESULT ProfileManager::GetCodecFormatCount(REFGUID mediaType, DWORD codecIndex, DWORD* formats) {
    if (formats == nullptr) return E_POINTER;
    *formats = 0;
    if (mediaType != wm::WMMEDIATYPE_Audio || codecIndex != 0) return E_INVALIDARG;
    *formats = static_cast<DWORD>(WmaCatalogCount());
    return S_OK;
}

HRESULT ProfileManager::GetCodecFormat(REFGUID mediaType, DWORD codecIndex, DWORD formatIndex,
                                       wm::IWMStreamConfig** config) {
    if (config == nullptr) return E_POINTER;
    *config = nullptr;
    if (mediaType != wm::WMMEDIATYPE_Audio || codecIndex != 0) return E_INVALIDARG;
    const WmaCatalogEntry* entry = WmaCatalogAt(formatIndex);
    if (entry == nullptr) return E_INVALIDARG;

    wm::WaveFormat parsed;
    if (!wm::ReadWholeWaveFormat(entry->format, kWmaV2FormatSize, &parsed)) {
        return E_UNEXPECTED;
    }
    wm::WM_MEDIA_TYPE type = wm::AudioMediaType(parsed, const_cast<BYTE*>(entry->format),
                                                static_cast<ULONG>(kWmaV2FormatSize));

    wm::ComPtr<StreamConfig> stream(StreamConfig::Create(wm::WMMEDIATYPE_Audio));
    if (!stream) return E_OUTOFMEMORY;
    HRESULT hr = stream->SetMediaType(&type);
    if (SUCCEEDED(hr)) hr = stream->SetBitrate(entry->bitrate);
    if (FAILED(hr)) return hr;
    *config = stream.Detach();
    return S_OK;
}

}  // namespace ffsdk
