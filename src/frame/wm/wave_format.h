// SPDX-License-Identifier: MIT
// The one reader of WAVEFORMATEX blocks, for the library and the Format SDK
// stand-in alike: from bytes, bounds-checked, with no alignment assumed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "little_endian.h"
#include "wmsdk.h"

namespace wm {

// WAVEFORMATEX without its extra bytes.
constexpr size_t kWaveFormatExSize = 18;
// The part of it that says the channel count and sample rate.
constexpr size_t kWaveFormatRateSize = 8;
// PCMWAVEFORMAT: the structure without cbSize.
constexpr size_t kPcmWaveFormatSize = 16;

struct WaveFormat {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    uint16_t cbSize = 0;
    // The cbSize bytes after the structure inside the block read; null when
    // the block does not hold them all.
    const uint8_t* extra = nullptr;

    // True when every extra byte cbSize announces lies inside the block.
    bool hasAllExtra() const { return cbSize == 0 || extra != nullptr; }
};

// Decodes the WAVEFORMATEX in the `len` bytes at `bytes`. A field the bytes do
// not wholly hold reads as 0. Fails when `len` is under `minSize`.
inline bool ReadWaveFormat(const uint8_t* bytes, size_t len, WaveFormat* out,
                           size_t minSize = kWaveFormatExSize) {
    if (bytes == nullptr || out == nullptr || len < minSize) return false;
    WaveFormat f;
    auto field16 = [&](size_t at) -> uint16_t { return len >= at + 2 ? ReadLe16(bytes + at) : 0; };
    auto field32 = [&](size_t at) -> uint32_t { return len >= at + 4 ? ReadLe32(bytes + at) : 0; };
    f.formatTag = field16(0);
    f.channels = field16(2);
    f.samplesPerSec = field32(4);
    f.avgBytesPerSec = field32(8);
    f.blockAlign = field16(12);
    f.bitsPerSample = field16(14);
    f.cbSize = field16(16);
    if (f.cbSize > 0 && len - kWaveFormatExSize >= f.cbSize) f.extra = bytes + kWaveFormatExSize;
    *out = f;
    return true;
}

// As ReadWaveFormat, and fails too when the block does not hold the extra
// bytes it announces.
inline bool ReadWholeWaveFormat(const uint8_t* bytes, size_t len, WaveFormat* out,
                                size_t minSize = kWaveFormatExSize) {
    return ReadWaveFormat(bytes, len, out, minSize) && out->hasAllExtra();
}

// The media type of an audio stream in the WAVEFORMATEX `format` (`size`
// bytes, decoded as `wave`): fixed-size samples of one block each. It points
// at `format`, which must outlive it.
inline WM_MEDIA_TYPE AudioMediaType(const WaveFormat& wave, BYTE* format, ULONG size) {
    WM_MEDIA_TYPE type{};
    type.majortype = WMMEDIATYPE_Audio;
    type.subtype = AudioSubtype(wave.formatTag);
    type.bFixedSizeSamples = TRUE;
    type.bTemporalCompression = FALSE;
    type.lSampleSize = wave.blockAlign;
    type.formattype = WMFORMAT_WaveFormatEx;
    type.pUnk = nullptr;
    type.cbFormat = size;
    type.pbFormat = format;
    return type;
}

}  // namespace wm
