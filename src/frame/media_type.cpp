// SPDX-License-Identifier: MIT
#include "media_type.h"

#include <cstdint>

namespace mervane {

HRESULT ReadMediaType(wm::IWMMediaProps* props, HeapBuffer& buffer) {
    buffer = HeapBuffer();
    DWORD size = 0;
    HRESULT hr = props->GetMediaType(nullptr, &size);
    if (FAILED(hr)) return hr;
    buffer = HeapBuffer(size);
    if (!buffer) return E_OUTOFMEMORY;
    return props->GetMediaType(buffer.as<wm::WM_MEDIA_TYPE>(), &size);
}

bool WaveFormatOf(const HeapBuffer& buffer, wm::WaveFormat* wave) {
    if (!buffer || buffer.size() < sizeof(wm::WM_MEDIA_TYPE)) return false;
    const auto* type = buffer.as<const wm::WM_MEDIA_TYPE>();
    if (type->formattype != wm::WMFORMAT_WaveFormatEx) return false;
    if (type->pbFormat == nullptr || type->cbFormat < sizeof(wm::WAVEFORMATEX)) return false;
    // The SDK places the format block inside the media type's own buffer; one
    // that points elsewhere cannot be trusted for cbFormat bytes.
    const auto begin = reinterpret_cast<uintptr_t>(buffer.get());
    const auto format = reinterpret_cast<uintptr_t>(type->pbFormat);
    if (format < begin || format > begin + buffer.size() ||
        type->cbFormat > begin + buffer.size() - format)
        return false;
    return wm::ReadWaveFormat(type->pbFormat, type->cbFormat, wave);
}

}  // namespace mervane
