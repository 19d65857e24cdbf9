// SPDX-License-Identifier: MIT
// The Windows Media Audio 2 formats (wFormatTag 0x0161) the Linux Format SDK
// offers, in the order IWMCodecInfo enumerates them.
//
// The list follows the platform codec's constant-bitrate formats, keeping only
// what FFmpeg's wmav2 encoder really produces: at most 48 kHz, one or two
// channels, at least 24 kbit/s. Order and content (kbit/s = 1000 bit/s):
//
//   index  rate     ch  kbit/s   blockAlign
//    0     48000    2   192      1024
//    1     48000    2   160       853
//    2     48000    2   128       682
//    3     44100    2   192      1114
//    4     44100    2   160       928
//    5     44100    2   128       743
//    6     44100    2    96       557
//    7     44100    2    80       464
//    8     44100    2    64       371
//    9     44100    2    48       278
//   10     44100    2    32       185
//   11     44100    1    48       278
//   12     44100    1    32       185
//   13     32000    2    48       384
//   14     32000    2    40       320
//   15     32000    2    32       256
//   16     22050    2    32       185
//
// Every entry is the WAVEFORMATEX exactly as it lands in the file's Stream
// Properties object: nAvgBytesPerSec = bitrate / 8, nBlockAlign = the size of
// every packet the encoder emits (bitrate * frame length / (8 * rate), rounded
// down), wBitsPerSample 16, cbSize 10 and the codec's ten extra bytes
// 00 00 00 00 01 00 00 00 00 00 (no bit reservoir, exponent VLC coding).
//
// The table is a constant rather than something measured at run time: a host
// may keep a format index or the format bytes between runs, enumeration must
// not fail or depend on opening encoders, and the bytes stay reviewable. The
// encoder checks at open time that FFmpeg still produces exactly these bytes
// and refuses a format that would not match its own header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wave_format.h"

namespace ffsdk {

constexpr uint16_t kWmaV2FormatTag = 0x0161;
// The catalogue's WAVEFORMATEX size: 18 bytes plus the codec's 10.
constexpr size_t kWmaV2FormatSize = wm::kWaveFormatExSize + 10;

struct WmaCatalogEntry {
    uint32_t sampleRate;
    uint16_t channels;
    uint32_t bitrate;         // bit/s
    const uint8_t* format;    // kWmaV2FormatSize bytes of WAVEFORMATEX
    const char* description;  // e.g. "128 kbps, 44 kHz, stereo CBR"
};

size_t WmaCatalogCount();
// nullptr when index is out of range.
const WmaCatalogEntry* WmaCatalogAt(size_t index);
// Index of the entry whose bytes equal the given WAVEFORMATEX (compared over
// 18 + cbSize bytes), or -1.
int WmaCatalogFind(const uint8_t* format, size_t len);

}  // namespace ffsdk
