// SPDX-License-Identifier: MIT
#include "audio_profile.h"

#include <algorithm>
#include <cstring>

#include "com_ptr.h"
#include "heap_buffer.h"
#include "media_type.h"
#include "wide_text.h"
#include "wmsdk_factories.h"

namespace mervane {

namespace {

bool Matches(const wm::WaveFormat& wave, const AudioRequest& request) {
    // The difference is taken as a signed 32-bit number, as the bitrates are
    // 32-bit values on both sides.
    const auto difference = static_cast<int32_t>(wave.avgBytesPerSec * 8u - request.bitrate);
    return difference > -(kBitrateTolerance + 1) && difference < kBitrateTolerance + 1 &&
           wave.samplesPerSec == request.sampleRate && wave.channels == request.channels &&
           wave.formatTag == request.formatTag;
}

// Keeps a copy of the format block of the best match so far. The copy is at
// least 18 + cbSize bytes (zero-filled past what the SDK gave), so the stream's
// media type never points past its end.
HRESULT KeepFormat(const wm::MediaTypeView& type, const wm::WaveFormat& wave, HeapBuffer& best) {
    const size_t declared = wm::kWaveFormatExSize + wave.cbSize;
    const size_t size = std::max<size_t>(type.formatSize, declared);
    best = HeapBuffer();
    HeapBuffer copy(size);
    if (!copy) return E_OUTOFMEMORY;
    std::memset(copy.get(), 0, size);
    std::memcpy(copy.get(), type.format, type.formatSize);
    best = std::move(copy);
    return S_OK;
}

}  // namespace

HRESULT ConfigureStream(wm::IWMStreamConfig* config, WORD streamNumber, const WCHAR* streamName,
                        const WCHAR* connectionName, DWORD bitrate, wm::WM_MEDIA_TYPE* mediaType) {
    HRESULT hr = config->SetStreamNumber(streamNumber);
    if (FAILED(hr)) return hr;
    hr = config->SetStreamName(streamName);
    if (FAILED(hr)) return hr;
    hr = config->SetConnectionName(connectionName);
    if (FAILED(hr)) return hr;
    hr = config->SetBitrate(bitrate);
    if (FAILED(hr)) return hr;
    wm::ComPtr<wm::IWMMediaProps> props;
    hr = config->QueryInterface(wm::IID_IWMMediaProps, props.PutVoid());
    if (FAILED(hr)) return hr;
    return props->SetMediaType(mediaType);
}

HRESULT FindAudioFormat(const AudioRequest& request, wm::IWMProfile* profile,
                        wm::IWMProfileManager* manager) {
    // Released at the end in this order: the buffers, then the codec info, the
    // media properties and the stream configuration.
    wm::ComPtr<wm::IWMStreamConfig> stream;
    wm::ComPtr<wm::IWMMediaProps> props;
    wm::ComPtr<wm::IWMCodecInfo> codecInfo;
    HeapBuffer best;
    HeapBuffer candidate;
    wm::WaveFormat chosen;

    HRESULT hr = manager->QueryInterface(wm::IID_IWMCodecInfo, codecInfo.PutVoid());
    if (FAILED(hr)) return hr;
    hr = ForEachAudioFormat(
        codecInfo.Get(), props, candidate,
        [&](const wm::MediaTypeView& mediaType, const wm::WaveFormat& wave) -> HRESULT {
            if (!Matches(wave, request)) return S_OK;
            if (best && wave.blockAlign < chosen.blockAlign) return S_OK;
            const HRESULT kept = KeepFormat(mediaType, wave, best);
            if (FAILED(kept)) return kept;
            chosen = wave;
            chosen.extra = nullptr;  // it pointed into the candidate
            return S_OK;
        });
    if (FAILED(hr)) return hr;
    candidate = HeapBuffer();
    props.Reset();
    if (!best) return wm::NS_E_AUDIO_CODEC_NOT_INSTALLED;

    wm::WM_MEDIA_TYPE type = wm::AudioMediaType(
        chosen, best.as<BYTE>(), static_cast<ULONG>(wm::kWaveFormatExSize + chosen.cbSize));

    hr = profile->CreateNewStream(wm::WMMEDIATYPE_Audio, stream.Put());
    if (FAILED(hr)) return hr;
    if (!stream) return E_POINTER;
    hr = ConfigureStream(stream.Get(), 1, SDK_TEXT("Audio Stream"), SDK_TEXT("Audio"),
                         chosen.avgBytesPerSec * 8, &type);
    if (FAILED(hr)) return hr;
    return profile->AddStream(stream.Get());
}

HRESULT BuildAudioProfile(const AudioRequest* request, wm::IWMProfile** profile) {
    if (request == nullptr || profile == nullptr) return E_INVALIDARG;
    *profile = nullptr;
    // The profile goes before the manager on every path.
    wm::ComPtr<wm::IWMProfileManager> manager;
    wm::ComPtr<wm::IWMProfile> built;

    HRESULT hr = WMCreateProfileManager(manager.Put());
    if (FAILED(hr)) return hr;
    if (!manager) return E_POINTER;
    hr = manager->CreateEmptyProfile(wm::WMT_VER_7_0, built.Put());
    if (FAILED(hr)) return hr;
    if (!built) return E_POINTER;
    hr = built->SetName(SDK_TEXT("Custom Profile"));
    if (FAILED(hr)) return hr;
    hr = FindAudioFormat(*request, built.Get(), manager.Get());
    if (FAILED(hr)) return hr;
    *profile = built.Detach();
    return hr;
}

}  // namespace mervane
