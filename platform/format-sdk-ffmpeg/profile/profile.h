// SPDX-License-Identifier: MIT
// IWMProfile: a name, a description and at most one audio stream, which is
// all the writer encodes.
#pragma once

#include <string>

#include "com_ptr.h"
#include "profile/stream_config.h"

namespace ffsdk {

class Profile final : public wm::ComObject<wm::IWMProfile> {
  public:
    // An empty profile; null when out of memory.
    static Profile* Create(wm::WMT_VERSION version);

    HRESULT STDMETHODCALLTYPE GetVersion(wm::WMT_VERSION* version) override;
    HRESULT STDMETHODCALLTYPE GetName(WCHAR* name, DWORD* length) override;
    HRESULT STDMETHODCALLTYPE SetName(const WCHAR* name) override;
    HRESULT STDMETHODCALLTYPE GetDescription(WCHAR* description, DWORD* length) override;
    HRESULT STDMETHODCALLTYPE SetDescription(const WCHAR* description) override;
    HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD* streams) override;
    // Hands out a copy of the stream's settings, as the platform does.
    HRESULT STDMETHODCALLTYPE GetStream(DWORD streamIndex, wm::IWMStreamConfig** config) override;
    HRESULT STDMETHODCALLTYPE GetStreamByNumber(WORD streamNum,
                                                wm::IWMStreamConfig** config) override;
    HRESULT STDMETHODCALLTYPE RemoveStream(wm::IWMStreamConfig* config) override;
    HRESULT STDMETHODCALLTYPE RemoveStreamByNumber(WORD streamNum) override;
    // Copies the settings: changing `config` afterwards does not change the
    // profile. Takes one audio stream with a number and a media type.
    HRESULT STDMETHODCALLTYPE AddStream(wm::IWMStreamConfig* config) override;
    HRESULT STDMETHODCALLTYPE ReconfigStream(wm::IWMStreamConfig* config) override;
    HRESULT STDMETHODCALLTYPE CreateNewStream(REFGUID streamType,
                                              wm::IWMStreamConfig** config) override;
    HRESULT STDMETHODCALLTYPE GetMutualExclusionCount(DWORD* count) override;
    HRESULT STDMETHODCALLTYPE GetMutualExclusion(DWORD index,
                                                 wm::IWMMutualExclusion** exclusion) override;
    HRESULT STDMETHODCALLTYPE RemoveMutualExclusion(wm::IWMMutualExclusion* exclusion) override;
    HRESULT STDMETHODCALLTYPE AddMutualExclusion(wm::IWMMutualExclusion* exclusion) override;
    HRESULT STDMETHODCALLTYPE CreateNewMutualExclusion(wm::IWMMutualExclusion** exclusion) override;

  private:
    explicit Profile(wm::WMT_VERSION version) : version_(version) {}
    ~Profile() override = default;

    wm::WMT_VERSION version_;
    std::u16string name_;
    std::u16string description_;
    wm::ComPtr<StreamConfig> stream_;  // the one stream, or empty
};

}  // namespace ffsdk
