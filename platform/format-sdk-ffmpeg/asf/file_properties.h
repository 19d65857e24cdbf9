// SPDX-License-Identifier: MIT
// The File Properties object: the file's sizes, durations, flags and packet
// size, decoded read-only. Serialize writes two of its fields anew (the file
// size and the play duration); the object is otherwise kept as read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "asf/guids.h"

namespace asf {

struct FileProperties {
    GuidBytes fileId{};
    uint64_t fileSize = 0;  // the stored field
    uint64_t dataPacketCount = 0;
    uint64_t playDuration = 0;  // 100 ns, preroll included
    uint64_t prerollMs = 0;
    uint32_t flags = 0;  // bit 0 broadcast, bit 1 seekable
    // ASF data packets have one fixed size: min and max packet size agree.
    uint32_t minPacketSize = 0;
    uint32_t maxPacketSize = 0;
    uint32_t maxBitrate = 0;
};

// Where the object keeps the file size, from the object's start, and the play
// duration from there.
constexpr size_t kFilePropsFileSizeAt = kObjectHeaderSize + 16;
constexpr size_t kFilePropsPlayDurationFromFileSize = 24;

// Decodes the object's body (after its GUID and size); false when it is too
// short.
bool ParseFileProperties(const uint8_t* body, size_t n, FileProperties* out);

// The playing duration in 100 ns units: play duration minus preroll, never
// negative.
uint64_t PlayingDuration(const FileProperties& p);

inline bool IsBroadcast(const FileProperties& p) {
    return (p.flags & 1u) != 0;
}
inline bool IsSeekable(const FileProperties& p) {
    return (p.flags & 2u) != 0;
}

}  // namespace asf
