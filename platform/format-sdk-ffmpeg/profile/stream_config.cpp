// SPDX-License-Identifier: MIT
#include "stream_config.h"

#include <cstring>

#include "com_ptr.h"

namespace ffsdk {

namespace {

// A format block larger than this is no audio format; refusing it keeps a
// corrupt cbFormat from turning into a huge allocation.
constexpr ULONG kMaxFormatBytes = 0x10000;

}  // namespace

HRESULT MediaTypeValue::Assign(const wm::WM_MEDIA_TYPE& type) {
    if (type.cbFormat > kMaxFormatBytes) return E_INVALIDARG;
    if (type.cbFormat > 0 && type.pbFormat == nullptr) return E_POINTER;
    std::vector<BYTE> bytes(type.pbFormat, type.pbFormat + type.cbFormat);
    header_ = type;
    header_.pUnk = nullptr;
    header_.pbFormat = nullptr;
    format_ = std::move(bytes);
    set_ = true;
    return S_OK;
}

HRESULT MediaTypeValue::Write(wm::WM_MEDIA_TYPE* type, DWORD* size) const {
    if (size == nullptr) return E_POINTER;
    if (!set_) return wm::NS_E_INVALID_REQUEST;
    return WriteMediaType(header_, format_.data(), format_.size(), type, size);
}

StreamConfig* StreamConfig::Create(REFGUID streamType) {
    return new (std::nothrow) StreamConfig(streamType);
}

StreamConfig* StreamConfig::CreateRead(REFGUID streamType, WORD number) {
    StreamConfig* made = Create(streamType);
    if (made != nullptr) made->number_ = number;
    return made;
}

HRESULT StreamConfig::CopyOf(wm::IWMStreamConfig* source, StreamConfig** out) {
    if (source == nullptr || out == nullptr) return E_POINTER;
    *out = nullptr;
    return Guarded([&]() -> HRESULT {
        GUID type{};
        HRESULT hr = source->GetStreamType(&type);
        if (FAILED(hr)) return hr;
        wm::ComPtr<StreamConfig> copy(Create(type));
        if (!copy) return E_OUTOFMEMORY;

        if (FAILED(hr = source->GetStreamNumber(&copy->number_))) return hr;
        if (FAILED(hr = source->GetBitrate(&copy->bitrate_))) return hr;
        if (FAILED(hr = source->GetBufferWindow(&copy->bufferWindowMs_))) return hr;
        for (int which = 0; which < 2; ++which) {
            auto get = [&](WCHAR* name, WORD* length) {
                return which == 0 ? source->GetStreamName(name, length)
                                  : source->GetConnectionName(name, length);
            };
            WORD length = 0;
            if (FAILED(hr = get(nullptr, &length))) return hr;
            std::u16string name(length, u'\0');
            if (length > 0 && FAILED(hr = get(&name[0], &length))) return hr;
            name.resize(std::char_traits<char16_t>::length(name.c_str()));
            (which == 0 ? copy->streamName_ : copy->connectionName_) = std::move(name);
        }

        wm::ComPtr<wm::IWMMediaProps> props;
        if (FAILED(hr = source->QueryInterface(wm::IID_IWMMediaProps, props.PutVoid()))) {
            return hr;
        }
        std::vector<uint64_t> storage;
        wm::MediaTypeView mediaType;
        hr = ReadMediaType(props.Get(), storage, &mediaType, E_INVALIDARG);
        if (SUCCEEDED(hr)) {
            hr = copy->mediaType_.Assign(*mediaType.type);
        } else if (hr == wm::NS_E_INVALID_REQUEST) {
            hr = S_OK;  // no media type set yet
        }
        props.Reset();
        if (FAILED(hr)) return hr;

        *out = copy.Detach();
        return S_OK;
    });
}

HRESULT StreamConfig::GetStreamType(GUID* streamType) {
    return CopyOut(streamType_, streamType);
}

HRESULT StreamConfig::GetStreamNumber(WORD* streamNum) {
    return CopyOut(number_, streamNum);
}

HRESULT StreamConfig::SetStreamNumber(WORD streamNum) {
    // ASF stream numbers are 1 to 63.
    if (streamNum < 1 || streamNum > 63) return E_INVALIDARG;
    number_ = streamNum;
    return S_OK;
}

HRESULT StreamConfig::GetStreamName(WCHAR* name, WORD* length) {
    return CopyWideName(streamName_, name, length);
}

HRESULT StreamConfig::SetStreamName(const WCHAR* name) {
    return AssignWide(&streamName_, name);
}

HRESULT StreamConfig::GetConnectionName(WCHAR* name, WORD* length) {
    return CopyWideName(connectionName_, name, length);
}

HRESULT StreamConfig::SetConnectionName(const WCHAR* name) {
    return AssignWide(&connectionName_, name);
}

HRESULT StreamConfig::GetBitrate(DWORD* bitrate) {
    return CopyOut(bitrate_, bitrate);
}

HRESULT StreamConfig::SetBitrate(DWORD bitrate) {
    bitrate_ = bitrate;
    return S_OK;
}

HRESULT StreamConfig::GetBufferWindow(DWORD* bufferWindowMs) {
    return CopyOut(bufferWindowMs_, bufferWindowMs);
}

HRESULT StreamConfig::SetBufferWindow(DWORD bufferWindowMs) {
    bufferWindowMs_ = bufferWindowMs;
    return S_OK;
}

HRESULT StreamConfig::GetType(GUID* type) {
    return CopyOut(streamType_, type);
}

HRESULT StreamConfig::GetMediaType(wm::WM_MEDIA_TYPE* mediaType, DWORD* size) {
    return mediaType_.Write(mediaType, size);
}

HRESULT StreamConfig::SetMediaType(wm::WM_MEDIA_TYPE* mediaType) {
    if (mediaType == nullptr) return E_POINTER;
    if (mediaType->majortype != streamType_) return E_INVALIDARG;
    return Guarded([&] { return mediaType_.Assign(*mediaType); });
}

}  // namespace ffsdk
