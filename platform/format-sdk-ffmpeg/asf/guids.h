// SPDX-License-Identifier: MIT
// The GUIDs of the ASF objects this stand-in reads or writes, in one table,
// and the fixed sizes of the objects' framing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace asf {

// A GUID in its on-disk byte order (first three fields little-endian).
using GuidBytes = std::array<uint8_t, 16>;

// A GUID as written in text (Data1-Data2-Data3-Data4), in on-disk order.
constexpr GuidBytes MakeGuid(uint32_t d1, uint16_t d2, uint16_t d3, uint8_t a, uint8_t b, uint8_t c,
                             uint8_t d, uint8_t e, uint8_t f, uint8_t g, uint8_t h) {
    return GuidBytes{
        {static_cast<uint8_t>(d1), static_cast<uint8_t>(d1 >> 8), static_cast<uint8_t>(d1 >> 16),
         static_cast<uint8_t>(d1 >> 24), static_cast<uint8_t>(d2), static_cast<uint8_t>(d2 >> 8),
         static_cast<uint8_t>(d3), static_cast<uint8_t>(d3 >> 8), a, b, c, d, e, f, g, h}};
}

inline GuidBytes ReadGuid(const uint8_t* p) {
    GuidBytes g;
    std::memcpy(g.data(), p, g.size());
    return g;
}

// Top-level objects.
constexpr GuidBytes kHeaderGuid =
    MakeGuid(0x75B22630, 0x668E, 0x11CF, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C);
constexpr GuidBytes kDataGuid =
    MakeGuid(0x75B22636, 0x668E, 0x11CF, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C);
constexpr GuidBytes kIndexGuid =
    MakeGuid(0xD6E229D3, 0x35DA, 0x11D1, 0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE);
// Header objects.
constexpr GuidBytes kFilePropsGuid =
    MakeGuid(0x8CABDCA1, 0xA947, 0x11CF, 0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65);
constexpr GuidBytes kStreamPropsGuid =
    MakeGuid(0xB7DC0791, 0xA9B7, 0x11CF, 0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65);
constexpr GuidBytes kHeaderExtGuid =
    MakeGuid(0x5FBF03B5, 0xA92E, 0x11CF, 0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65);
constexpr GuidBytes kHeaderExtReservedGuid =
    MakeGuid(0xABD3D211, 0xA9BA, 0x11CF, 0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65);
constexpr GuidBytes kContentDescGuid =
    MakeGuid(0x75B22633, 0x668E, 0x11CF, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C);
constexpr GuidBytes kExtContentDescGuid =
    MakeGuid(0xD2D0A440, 0xE307, 0x11D2, 0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50);
constexpr GuidBytes kBitratePropsGuid =
    MakeGuid(0x7BF875CE, 0x468D, 0x11D1, 0x8D, 0x82, 0x00, 0x60, 0x97, 0xC9, 0xA2, 0xB2);
// The two objects a DRM-protected file carries its key information in.
constexpr GuidBytes kContentEncryptionGuid =
    MakeGuid(0x2211B3FB, 0xBD23, 0x11D2, 0xB4, 0xB7, 0x00, 0xA0, 0xC9, 0x55, 0xFC, 0x6E);
constexpr GuidBytes kExtContentEncryptionGuid =
    MakeGuid(0x298AE614, 0x2622, 0x4C17, 0xB9, 0x35, 0xDA, 0xE0, 0x7E, 0xE9, 0x28, 0x9C);
// Header Extension objects.
constexpr GuidBytes kMetadataGuid =
    MakeGuid(0xC5F8CBEA, 0x5BAF, 0x4877, 0x84, 0x67, 0xAA, 0x8C, 0x44, 0xFA, 0x4C, 0xCA);
constexpr GuidBytes kMetadataLibraryGuid =
    MakeGuid(0x44231C94, 0x9498, 0x49D1, 0xA1, 0x41, 0x1D, 0x13, 0x4E, 0x45, 0x70, 0x54);
constexpr GuidBytes kPaddingGuid =
    MakeGuid(0x1806D474, 0xCADF, 0x4509, 0xA4, 0xBA, 0x9A, 0xAB, 0xCB, 0x96, 0xAA, 0xE8);
// Stream types.
constexpr GuidBytes kAudioStreamGuid =
    MakeGuid(0xF8699E40, 0x5B4D, 0x11CF, 0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B);
constexpr GuidBytes kVideoStreamGuid =
    MakeGuid(0xBC19EFC0, 0x5B4D, 0x11CF, 0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B);

constexpr size_t kObjectHeaderSize = 24;     // GUID + QWORD size
constexpr size_t kHeaderFixedSize = 30;      // Header Object up to its first child
constexpr size_t kDataObjectFixedSize = 50;  // Data Object up to its first packet
// Where File Properties keeps the file size, from the object's start.
constexpr size_t kFilePropsFileSizeAt = kObjectHeaderSize + 16;
constexpr size_t kFilePropsPlayDurationFromFileSize = 24;

}  // namespace asf
