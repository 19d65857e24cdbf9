// SPDX-License-Identifier: MIT
// The profile manager: empty profiles, and through IWMCodecInfo the audio
// codecs the stand-in encodes with their formats. There is one audio codec,
// Windows Media Audio 2, whose formats are the codec catalogue's entries in
// the catalogue's order (encode/codec_catalog.h); no other media type has
// codecs.
#pragma once

#include "com_object.h"
#include "wmsdk.h"

namespace ffsdk {

class ProfileManager final : public wm::ComObject<wm::IWMProfileManager, wm::IWMCodecInfo> {
  public:
    // Null when out of memory.
    static ProfileManager* Create();

    // IWMProfileManager
    HRESULT STDMETHODCALLTYPE CreateEmptyProfile(wm::WMT_VERSION version,
                                                 wm::IWMProfile** profile) override;
    HRESULT STDMETHODCALLTYPE LoadProfileByID(REFGUID profileId, wm::IWMProfile** profile) override;
    HRESULT STDMETHODCALLTYPE LoadProfileByData(const WCHAR* profileData,
                                                wm::IWMProfile** profile) override;
    HRESULT STDMETHODCALLTYPE SaveProfile(wm::IWMProfile* profile, WCHAR* profileData,
                                          DWORD* length) override;
    HRESULT STDMETHODCALLTYPE GetSystemProfileCount(DWORD* profiles) override;
    HRESULT STDMETHODCALLTYPE LoadSystemProfile(DWORD profileIndex,
                                                wm::IWMProfile** profile) override;

    // IWMCodecInfo
    HRESULT STDMETHODCALLTYPE GetCodecInfoCount(REFGUID mediaType, DWORD* codecs) override;
    HRESULT STDMETHODCALLTYPE GetCodecFormatCount(REFGUID mediaType, DWORD codecIndex,
                                                  DWORD* formats) override;
    // A new stream configuration (IWMStreamConfig, IWMMediaProps) whose media
    // type is the format, with the format's bitrate.
    HRESULT STDMETHODCALLTYPE GetCodecFormat(REFGUID mediaType, DWORD codecIndex, DWORD formatIndex,
                                             wm::IWMStreamConfig** config) override;

  private:
    ProfileManager() = default;
    ~ProfileManager() override = default;
};

}  // namespace ffsdk
