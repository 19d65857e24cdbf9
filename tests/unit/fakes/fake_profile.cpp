// SPDX-License-Identifier: MIT
// The profile side of the fakes: stream configurations, profiles and the
// profile manager with its codec information.
#include <cstring>
#include <utility>

#include "fake_com.h"

namespace fakes {

// ---- FakeStreamConfig ----------------------------------------------------------------

HRESULT FakeStreamConfig::Setter(const char* name) {
    Log(std::string("StreamConfig.") + name);
    return setterResult ? setterResult(name) : S_OK;
}
template <typename T>
HRESULT FakeStreamConfig::Store(const char* name, T& field, T value) {
    const HRESULT hr = Setter(name);
    if (SUCCEEDED(hr)) field = std::move(value);
    return hr;
}

HRESULT FakeStreamConfig::GetStreamType(GUID* type) {
    *type = wm::WMMEDIATYPE_Audio;
    return S_OK;
}
HRESULT FakeStreamConfig::GetStreamNumber(WORD* number) {
    *number = streamNumber;
    return S_OK;
}
HRESULT FakeStreamConfig::SetStreamNumber(WORD number) {
    return Store("SetStreamNumber", streamNumber, number);
}
HRESULT FakeStreamConfig::SetStreamName(const WCHAR* name) {
    return Store("SetStreamName", streamName, Str(name));
}
HRESULT FakeStreamConfig::SetConnectionName(const WCHAR* name) {
    return Store("SetConnectionName", connectionName, Str(name));
}
HRESULT FakeStreamConfig::GetBitrate(DWORD* value) {
    *value = bitrate;
    return S_OK;
}
HRESULT FakeStreamConfig::SetBitrate(DWORD value) {
    return Store("SetBitrate", bitrate, value);
}
HRESULT FakeStreamConfig::GetType(GUID* type) {
    return GetStreamType(type);
}
HRESULT FakeStreamConfig::GetMediaType(wm::WM_MEDIA_TYPE* type, DWORD* size) {
    Log(type == nullptr ? "StreamConfig.GetMediaType(size)" : "StreamConfig.GetMediaType");
    return ServeMediaType(mediaType, sizeQueryResult, fetchResult, type, size);
}
HRESULT FakeStreamConfig::SetMediaType(wm::WM_MEDIA_TYPE* type) {
    const HRESULT hr = Setter("SetMediaType");
    if (FAILED(hr)) return hr;
    mediaTypeSet = true;
    setType = *type;
    setMediaTypeFormat.assign(type->pbFormat, type->pbFormat + type->cbFormat);
    return hr;
}

// ---- FakeProfile ------------------------------------------------------------------------

FakeProfile::~FakeProfile() {
    if (newStream != nullptr) newStream->Release();
}
HRESULT FakeProfile::SetName(const WCHAR* value) {
    Log("Profile.SetName");
    if (FAILED(setNameResult)) return setNameResult;
    name = Str(value);
    return S_OK;
}
HRESULT FakeProfile::GetStreamCount(DWORD* streams) {
    *streams = addedStream != nullptr ? 1 : 0;
    return S_OK;
}
HRESULT FakeProfile::AddStream(wm::IWMStreamConfig* config) {
    Log("Profile.AddStream");
    if (FAILED(addStreamResult)) return addStreamResult;
    addedStream = config;
    return addStreamResult;
}
HRESULT FakeProfile::CreateNewStream(REFGUID type, wm::IWMStreamConfig** config) {
    Log("Profile.CreateNewStream");
    if (FAILED(createNewStreamResult)) return createNewStreamResult;
    newStreamType = type;
    if (newStream != nullptr) newStream->Release();
    newStream = new FakeStreamConfig;
    newStream->AddRef();
    *config = newStream;
    return S_OK;
}
// ---- FakeProfileManager -----------------------------------------------------------------

FakeProfileManager::~FakeProfileManager() {
    if (profile != nullptr) profile->Release();
    for (auto* config : handedOut) config->Release();
}
HRESULT FakeProfileManager::CreateEmptyProfile(wm::WMT_VERSION version, wm::IWMProfile** out) {
    Log("ProfileManager.CreateEmptyProfile");
    if (FAILED(createEmptyProfileResult)) return createEmptyProfileResult;
    profileVersion = version;
    if (profile != nullptr) profile->Release();
    profile = new FakeProfile;  // the manager's reference, for inspection
    profile->AddRef();
    *out = profile;
    return S_OK;
}
HRESULT FakeProfileManager::GetCodecInfoCount(REFGUID type, DWORD* count) {
    Log("CodecInfo.GetCodecInfoCount");
    if (FAILED(codecInfoCountResult)) return codecInfoCountResult;
    *count = type == wm::WMMEDIATYPE_Audio ? static_cast<DWORD>(codecs.size()) : 0;
    return S_OK;
}
HRESULT FakeProfileManager::GetCodecFormatCount(REFGUID type, DWORD codec, DWORD* formats) {
    Log("CodecInfo.GetCodecFormatCount(" + std::to_string(codec) + ")");
    if (FAILED(codecFormatCountResult)) return codecFormatCountResult;
    if (type != wm::WMMEDIATYPE_Audio || codec >= codecs.size()) return E_INVALIDARG;
    *formats = static_cast<DWORD>(codecs[codec].size());
    return S_OK;
}
HRESULT FakeProfileManager::GetCodecFormat(REFGUID type, DWORD codec, DWORD format,
                                           wm::IWMStreamConfig** config) {
    Log("CodecInfo.GetCodecFormat(" + std::to_string(codec) + "," + std::to_string(format) + ")");
    if (codecFormatResult) {
        const HRESULT hr = codecFormatResult(codec, format);
        if (FAILED(hr)) return hr;
    }
    if (type != wm::WMMEDIATYPE_Audio || codec >= codecs.size() || format >= codecs[codec].size())
        return E_INVALIDARG;
    auto* made = new FakeStreamConfig(codecs[codec][format]);
    if (adjustConfig) adjustConfig(codec, format, *made);
    made->AddRef();  // the manager keeps one to check the library released its own
    handedOut.push_back(made);
    *config = made;
    return S_OK;
}

}  // namespace fakes
