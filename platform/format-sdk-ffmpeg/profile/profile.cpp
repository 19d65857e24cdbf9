// SPDX-License-Identifier: MIT
#include "profile.h"

namespace ffsdk {

Profile* Profile::Create(wm::WMT_VERSION version) {
    return new (std::nothrow) Profile(version);
}

HRESULT Profile::GetVersion(wm::WMT_VERSION* version) {
    return CopyOut(version_, version);
}

HRESULT Profile::GetName(WCHAR* name, DWORD* length) {
    return CopyWideName(name_, name, length);
}

HRESULT Profile::SetName(const WCHAR* name) {
    return AssignWide(&name_, name);
}

HRESULT Profile::GetDescription(WCHAR* description, DWORD* length) {
    return CopyWideName(description_, description, length);
}

HRESULT Profile::SetDescription(const WCHAR* description) {
    return AssignWide(&description_, description);
}

HRESULT Profile::GetStreamCount(DWORD* streams) {
    return CopyOut(stream_ ? 1u : 0u, streams);
}

HRESULT Profile::GetStream(DWORD streamIndex, wm::IWMStreamConfig** config) {
    if (config == nullptr) return E_POINTER;
    *config = nullptr;
    if (!stream_ || streamIndex != 0) return E_INVALIDARG;
    StreamConfig* copy = nullptr;
    const HRESULT hr = StreamConfig::CopyOf(stream_.Get(), &copy);
    if (SUCCEEDED(hr)) *config = copy;
    return hr;
}

HRESULT Profile::GetStreamByNumber(WORD streamNum, wm::IWMStreamConfig** config) {
    if (config == nullptr) return E_POINTER;
    *config = nullptr;
    WORD number = 0;
    if (!stream_ || FAILED(stream_->GetStreamNumber(&number)) || number != streamNum) {
        return wm::NS_E_NO_STREAM;
    }
    return GetStream(0, config);
}

HRESULT Profile::RemoveStream(wm::IWMStreamConfig* config) {
    if (config == nullptr) return E_POINTER;
    WORD number = 0;
    const HRESULT hr = config->GetStreamNumber(&number);
    if (FAILED(hr)) return hr;
    return RemoveStreamByNumber(number);
}

HRESULT Profile::RemoveStreamByNumber(WORD streamNum) {
    WORD number = 0;
    if (!stream_ || FAILED(stream_->GetStreamNumber(&number)) || number != streamNum) {
        return wm::NS_E_NO_STREAM;
    }
    stream_.Reset();
    return S_OK;
}

HRESULT Profile::AddStream(wm::IWMStreamConfig* config) {
    if (config == nullptr) return E_POINTER;
    if (stream_) return wm::NS_E_INVALID_REQUEST;  // one stream only
    StreamConfig* copy = nullptr;
    HRESULT hr = StreamConfig::CopyOf(config, &copy);
    if (FAILED(hr)) return hr;
    wm::ComPtr<StreamConfig> held(copy);
    GUID type{};
    WORD number = 0;
    DWORD size = 0;
    held->GetStreamType(&type);
    held->GetStreamNumber(&number);
    if (type != wm::WMMEDIATYPE_Audio) return wm::NS_E_INVALID_REQUEST;
    if (number == 0) return E_INVALIDARG;
    if (FAILED(held->GetMediaType(nullptr, &size))) return wm::NS_E_INVALID_REQUEST;
    stream_ = std::move(held);
    return S_OK;
}

HRESULT Profile::ReconfigStream(wm::IWMStreamConfig*) {
    return E_NOTIMPL;
}

HRESULT Profile::CreateNewStream(REFGUID streamType, wm::IWMStreamConfig** config) {
    if (config == nullptr) return E_POINTER;
    *config = nullptr;
    if (streamType != wm::WMMEDIATYPE_Audio) return E_NOTIMPL;
    *config = StreamConfig::Create(streamType);
    return *config != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT Profile::GetMutualExclusionCount(DWORD* count) {
    return CopyOut(0, count);
}

HRESULT Profile::GetMutualExclusion(DWORD, wm::IWMMutualExclusion** exclusion) {
    if (exclusion != nullptr) *exclusion = nullptr;
    return E_NOTIMPL;
}

HRESULT Profile::RemoveMutualExclusion(wm::IWMMutualExclusion*) {
    return E_NOTIMPL;
}

HRESULT Profile::AddMutualExclusion(wm::IWMMutualExclusion*) {
    return E_NOTIMPL;
}

HRESULT Profile::CreateNewMutualExclusion(wm::IWMMutualExclusion** exclusion) {
    if (exclusion != nullptr) *exclusion = nullptr;
    return E_NOTIMPL;
}

}  // namespace ffsdk
