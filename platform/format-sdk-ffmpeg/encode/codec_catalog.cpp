// SPDX-License-Identifier: MIT
#include "encode/codec_catalog.h"

#include <array>
#include <cstring>
#include <utility>

namespace ffsdk {
namespace {

using FormatBytes = std::array<uint8_t, kWmaV2FormatSize>;

constexpr FormatBytes MakeFormat(uint32_t rate, uint16_t channels, uint32_t bitrate,
                                 uint16_t blockAlign) {
    FormatBytes b{};
    wm::StoreLe(&b[0], kWmaV2FormatTag, 2);
    wm::StoreLe(&b[2], channels, 2);
    wm::StoreLe(&b[4], rate, 4);
    wm::StoreLe(&b[8], bitrate / 8, 4);
    wm::StoreLe(&b[12], blockAlign, 2);
    wm::StoreLe(&b[14], 16, 2);  // wBitsPerSample
    wm::StoreLe(&b[16], 10, 2);  // cbSize
    // Codec data: flags1 (DWORD) 0, flags2 (WORD) 1 = exponents coded with
    // VLC, no bit reservoir, no variable block length; four reserved bytes.
    wm::StoreLe(&b[wm::kWaveFormatExSize + 4], 1, 2);
    return b;
}

struct Row {
    uint32_t rate;
    uint16_t channels;
    uint32_t bitrate;
    uint16_t blockAlign;
    const char* description;
};

constexpr Row kRows[] = {
    {48000, 2, 192000, 1024, "192 kbps, 48 kHz, stereo CBR"},
    {48000, 2, 160000, 853, "160 kbps, 48 kHz, stereo CBR"},
    {48000, 2, 128000, 682, "128 kbps, 48 kHz, stereo CBR"},
    {44100, 2, 192000, 1114, "192 kbps, 44 kHz, stereo CBR"},
    {44100, 2, 160000, 928, "160 kbps, 44 kHz, stereo CBR"},
    {44100, 2, 128000, 743, "128 kbps, 44 kHz, stereo CBR"},
    {44100, 2, 96000, 557, "96 kbps, 44 kHz, stereo CBR"},
    {44100, 2, 80000, 464, "80 kbps, 44 kHz, stereo CBR"},
    {44100, 2, 64000, 371, "64 kbps, 44 kHz, stereo CBR"},
    {44100, 2, 48000, 278, "48 kbps, 44 kHz, stereo CBR"},
    {44100, 2, 32000, 185, "32 kbps, 44 kHz, stereo CBR"},
    {44100, 1, 48000, 278, "48 kbps, 44 kHz, mono CBR"},
    {44100, 1, 32000, 185, "32 kbps, 44 kHz, mono CBR"},
    {32000, 2, 48000, 384, "48 kbps, 32 kHz, stereo CBR"},
    {32000, 2, 40000, 320, "40 kbps, 32 kHz, stereo CBR"},
    {32000, 2, 32000, 256, "32 kbps, 32 kHz, stereo CBR"},
    {22050, 2, 32000, 185, "32 kbps, 22 kHz, stereo CBR"},
};
constexpr size_t kCount = sizeof(kRows) / sizeof(kRows[0]);

template <size_t... I>
constexpr std::array<FormatBytes, kCount> MakeAllFormats(std::index_sequence<I...>) {
    return {MakeFormat(kRows[I].rate, kRows[I].channels, kRows[I].bitrate, kRows[I].blockAlign)...};
}
constexpr std::array<FormatBytes, kCount> kFormats =
    MakeAllFormats(std::make_index_sequence<kCount>());

template <size_t... I>
constexpr std::array<WmaCatalogEntry, kCount> MakeEntries(std::index_sequence<I...>) {
    return {WmaCatalogEntry{kRows[I].rate, kRows[I].channels, kRows[I].bitrate, kFormats[I].data(),
                            kRows[I].description}...};
}
constexpr std::array<WmaCatalogEntry, kCount> kEntries =
    MakeEntries(std::make_index_sequence<kCount>());

}  // namespace

size_t WmaCatalogCount() {
    return kCount;
}

const WmaCatalogEntry* WmaCatalogAt(size_t index) {
    return index < kCount ? &kEntries[index] : nullptr;
}

int WmaCatalogFind(const uint8_t* format, size_t len) {
    wm::WaveFormat f;
    if (!wm::ReadWholeWaveFormat(format, len, &f)) return -1;
    const size_t used = wm::kWaveFormatExSize + f.cbSize;
    if (used != kWmaV2FormatSize) return -1;
    for (size_t i = 0; i < kCount; ++i) {
        if (std::memcmp(kFormats[i].data(), format, used) == 0) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace ffsdk
