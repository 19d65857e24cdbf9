// SPDX-License-Identifier: MIT
// The reader's output descriptions, handed out as IWMOutputMediaProps (which
// also answers for IWMMediaProps): 16-bit interleaved PCM at a stream's rate
// and channel count, or a video output, which says only that it is video (the
// reader decodes no video).
#pragma once

#include "com_object.h"
#include "wmsdk.h"

namespace ffsdk {

// The WAVEFORMATEX of 16-bit PCM.
wm::WAVEFORMATEX PcmWaveFormat(uint32_t rate, uint16_t channels);

// Writes the media type of `format` into `mediaType` (a buffer of *size bytes,
// its pbFormat pointing inside it). With a null mediaType only reports the size;
// a buffer too small fails with wm::ASF_E_BUFFERTOOSMALL and reports the size needed.
HRESULT GetPcmMediaType(const wm::WAVEFORMATEX& format, wm::WM_MEDIA_TYPE* mediaType, DWORD* size);

// True if `mediaType` describes exactly `format` as PCM audio.
bool IsPcmMediaType(const wm::WM_MEDIA_TYPE& mediaType, const wm::WAVEFORMATEX& format);

class OutputMediaProps final : public wm::ComObject<wm::IWMOutputMediaProps> {
  public:
    // One reference, owned by the caller; null when out of memory.
    static OutputMediaProps* Create(const wm::WAVEFORMATEX& format);
    static OutputMediaProps* CreateVideo();

    HRESULT STDMETHODCALLTYPE GetType(GUID* type) override;
    HRESULT STDMETHODCALLTYPE GetMediaType(wm::WM_MEDIA_TYPE* mediaType, DWORD* size) override;
    // Takes only the output's own format: the reader does not convert.
    HRESULT STDMETHODCALLTYPE SetMediaType(wm::WM_MEDIA_TYPE* mediaType) override;
    HRESULT STDMETHODCALLTYPE GetStreamGroupName(WCHAR* name, WORD* length) override;
    HRESULT STDMETHODCALLTYPE GetConnectionName(WCHAR* name, WORD* length) override;

  protected:
    bool QueryBase(REFIID iid, void** out) override;

  private:
    OutputMediaProps(const wm::WAVEFORMATEX& format, bool video) : format_(format), video_(video) {}
    ~OutputMediaProps() override = default;

    wm::WAVEFORMATEX format_;
    bool video_;
};

}  // namespace ffsdk
