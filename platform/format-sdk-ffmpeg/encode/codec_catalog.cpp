#include "encode/codec_catalog.h"

#include <array>
#include <cstring>
#include <utility>

namespace ffsdk {
namespace {

using FormatBytes = std::array<uint8_t, kWmaV2FormatSize>;

constexpr void Put16(FormatBytes& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

constexpr void Put32(FormatBytes& b, size_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

constexpr FormatBytes MakeFormat(uint32_t rate, uint16_t channels, uint32_t bitrate,
                                 uint16_t blockAlign) {
    FormatBytes b{};
    Put16(b, 0, kWmaV2FormatTag);
    Put16(b, 2, channels);
    Put32(b, 4, rate);
    Put32(b, 8, bitrate / 8);
    Put16(b, 12, blockAlign);
    Put16(b, 14, 16);  // wBitsPerSample
    Put16(b, 16, 10);  // cbSize
    // Codec data: flags1 (DWORD) 0, flags2 (WORD) 1 = exponents coded with
    // VLC, no bit reservoir, no variable block length; four reserved bytes.
    Put16(b, kWaveFormatExSize + 4, 1);
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

uint16_t Read16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Read32(const uint8_t* p) {
    return static_cast<uint32_t>(Read16(p)) | (static_cast<uint32_t>(Read16(p + 2)) << 16);
}

}  // namespace

bool ParseWaveFormat(const uint8_t* bytes, size_t len, WaveFormat* out) {
    if (bytes == nullptr || out == nullptr || len < kWaveFormatExSize) return false;
    WaveFormat f;
    f.formatTag = Read16(bytes);
    f.channels = Read16(bytes + 2);
    f.samplesPerSec = Read32(bytes + 4);
    f.avgBytesPerSec = Read32(bytes + 8);
    f.blockAlign = Read16(bytes + 12);
    f.bitsPerSample = Read16(bytes + 14);
    f.cbSize = Read16(bytes + 16);
    if (len - kWaveFormatExSize < f.cbSize) return false;
    f.extra = bytes + kWaveFormatExSize;
    *out = f;
    return true;
}

size_t WmaCatalogCount() {
    return kCount;
}

const WmaCatalogEntry* WmaCatalogAt(size_t index) {
    return index < kCount ? &kEntries[index] : nullptr;
}

int WmaCatalogFind(const uint8_t* format, size_t len) {
    WaveFormat f;
    if (!ParseWaveFormat(format, len, &f)) return -1;
    const size_t used = kWaveFormatExSize + f.cbSize;
    if (used != kWmaV2FormatSize) return -1;
    for (size_t i = 0; i < kCount; ++i) {
        if (std::memcmp(kFormats[i].data(), format, used) == 0) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace ffsdk
