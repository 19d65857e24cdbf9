// SPDX-License-Identifier: MIT
// A stream's settings as a profile holds them and as IWMCodecInfo hands them
// out: IWMStreamConfig plus IWMMediaProps for its media type.
#pragma once

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "com_object.h"
#include "common/com_call.h"
#include "wmsdk.h"

namespace ffsdk {

// A media type kept as one value: the WM_MEDIA_TYPE fields and a private copy
// of the format block. Handed out as one contiguous buffer, the format block
// right behind the WM_MEDIA_TYPE with pbFormat pointing at it.
class MediaTypeValue {
  public:
    bool empty() const { return !set_; }
    const wm::WM_MEDIA_TYPE& header() const { return header_; }
    const std::vector<BYTE>& format() const { return format_; }

    // Deep copy of `type`; pUnk is not kept. May throw std::bad_alloc.
    HRESULT Assign(const wm::WM_MEDIA_TYPE& type);
    // The GetMediaType contract: null `type` reports the size.
    HRESULT Write(wm::WM_MEDIA_TYPE* type, DWORD* size) const;

  private:
    bool set_ = false;
    wm::WM_MEDIA_TYPE header_{};
    std::vector<BYTE> format_;
};

class StreamConfig final : public wm::ComObject<wm::IWMStreamConfig, wm::IWMMediaProps> {
  public:
    // A new stream of the given type with nothing else set; null when out of
    // memory.
    static StreamConfig* Create(REFGUID streamType);
    // A stream of a file being read, numbered as the file numbers it (1 to
    // 127; SetStreamNumber takes the 1 to 63 a profile for writing may use).
    static StreamConfig* CreateRead(REFGUID streamType, WORD number);
    // A copy of any IWMStreamConfig's settings (through its interfaces).
    static HRESULT CopyOf(wm::IWMStreamConfig* source, StreamConfig** out);

    // IWMStreamConfig
    HRESULT STDMETHODCALLTYPE GetStreamType(GUID* streamType) override;
    HRESULT STDMETHODCALLTYPE GetStreamNumber(WORD* streamNum) override;
    HRESULT STDMETHODCALLTYPE SetStreamNumber(WORD streamNum) override;
    HRESULT STDMETHODCALLTYPE GetStreamName(WCHAR* name, WORD* length) override;
    HRESULT STDMETHODCALLTYPE SetStreamName(const WCHAR* name) override;
    HRESULT STDMETHODCALLTYPE GetConnectionName(WCHAR* name, WORD* length) override;
    HRESULT STDMETHODCALLTYPE SetConnectionName(const WCHAR* name) override;
    HRESULT STDMETHODCALLTYPE GetBitrate(DWORD* bitrate) override;
    HRESULT STDMETHODCALLTYPE SetBitrate(DWORD bitrate) override;
    HRESULT STDMETHODCALLTYPE GetBufferWindow(DWORD* bufferWindowMs) override;
    HRESULT STDMETHODCALLTYPE SetBufferWindow(DWORD bufferWindowMs) override;

    // IWMMediaProps
    HRESULT STDMETHODCALLTYPE GetType(GUID* type) override;
    HRESULT STDMETHODCALLTYPE GetMediaType(wm::WM_MEDIA_TYPE* mediaType, DWORD* size) override;
    HRESULT STDMETHODCALLTYPE SetMediaType(wm::WM_MEDIA_TYPE* mediaType) override;

  private:
    explicit StreamConfig(REFGUID streamType) : streamType_(streamType) {}
    ~StreamConfig() override = default;

    GUID streamType_;
    WORD number_ = 0;
    std::u16string streamName_;
    std::u16string connectionName_;
    DWORD bitrate_ = 0;
    DWORD bufferWindowMs_ = 3000;
    MediaTypeValue mediaType_;
};

}  // namespace ffsdk
