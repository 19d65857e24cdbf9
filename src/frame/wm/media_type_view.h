// SPDX-License-Identifier: MIT
// Reading a media type that GetMediaType hands out, for the library and the
// Format SDK stand-in alike. GetMediaType fills one buffer: the WM_MEDIA_TYPE,
// then its format block, which pbFormat points at. Both sides read such a
// buffer by one rule: the cbFormat bytes at pbFormat lie wholly inside the
// buffer. The platform's own types always do; one whose block points elsewhere
// or runs past the end cannot be trusted for a single byte of it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wave_format.h"
#include "wmsdk.h"

namespace wm {

// A media type buffer that keeps the rule above.
struct MediaTypeView {
    const WM_MEDIA_TYPE* type = nullptr;
    // The cbFormat bytes of the format block; null when cbFormat is 0.
    const uint8_t* format = nullptr;
    size_t formatSize = 0;
};

// Views the `size` bytes at `bytes` (aligned for a WM_MEDIA_TYPE) as a media
// type. False when they are too short for a WM_MEDIA_TYPE or its format block
// does not lie inside them.
inline bool ViewMediaType(const void* bytes, size_t size, MediaTypeView* view) {
    if (bytes == nullptr || size < sizeof(WM_MEDIA_TYPE)) return false;
    const auto* type = static_cast<const WM_MEDIA_TYPE*>(bytes);
    MediaTypeView seen;
    seen.type = type;
    if (type->cbFormat > 0) {
        const auto begin = reinterpret_cast<uintptr_t>(bytes);
        const auto format = reinterpret_cast<uintptr_t>(type->pbFormat);
        if (format < begin || format > begin + size || type->cbFormat > begin + size - format)
            return false;
        seen.format = type->pbFormat;
        seen.formatSize = type->cbFormat;
    }
    *view = seen;
    return true;
}

// The two calls that read the media type of `props`: GetMediaType with no
// buffer for the size, storage of that size from `allocate(size)` (aligned for
// a WM_MEDIA_TYPE; null when it cannot be had), and GetMediaType again to fill
// it, which is then viewed. Fails with the SDK's result, E_OUTOFMEMORY, or
// `malformed` when the filled buffer breaks the rule above.
template <typename Allocate>
HRESULT ReadMediaType(IWMMediaProps* props, Allocate&& allocate, MediaTypeView* view,
                      HRESULT malformed) {
    DWORD size = 0;
    HRESULT hr = props->GetMediaType(nullptr, &size);
    if (FAILED(hr)) return hr;
    const DWORD allocated = size;
    WM_MEDIA_TYPE* type = allocate(allocated);
    if (type == nullptr) return E_OUTOFMEMORY;
    hr = props->GetMediaType(type, &size);
    if (FAILED(hr)) return hr;
    return ViewMediaType(type, allocated, view) ? S_OK : malformed;
}

// The WAVEFORMATEX a viewed media type carries. False when its format type is
// not WMFORMAT_WaveFormatEx or its block is shorter than `minSize`.
inline bool WaveFormatOf(const MediaTypeView& view, WaveFormat* wave,
                         size_t minSize = kWaveFormatExSize) {
    return view.type != nullptr && view.type->formattype == WMFORMAT_WaveFormatEx &&
           ReadWaveFormat(view.format, view.formatSize, wave, minSize);
}

}  // namespace wm
