// SPDX-License-Identifier: MIT
// The Index Object a finished audio-only ASF file gets so players can seek by
// time. FFmpeg's ASF muxer indexes only video key frames, so an audio file it
// writes carries no index; the encoder records where each payload landed and
// appends the index after the muxer is done.
//
// Entries use the "nearest past data packet" type: entry i names the data
// packet to start reading from for presentation time i * interval. Times are
// on the payloads' presentation-time axis, preroll included, so a reader that
// subtracts the preroll and one that does not both land at or before the
// wanted time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/result.h"

namespace ffsdk {

class AsfIndexBuilder {
  public:
    explicit AsfIndexBuilder(uint32_t intervalMs = 1000) : intervalMs_(intervalMs) {}

    // A payload presented at presMs (milliseconds, preroll included) whose
    // first byte lies in data packet `packet` or later. Calls come in
    // presentation order. Returns false when memory runs out.
    bool AddPayload(uint64_t presMs, uint32_t packet);
    // Adds the entries up to and including presentation time endMs.
    bool Finish(uint64_t endMs);

    uint32_t intervalMs() const { return intervalMs_; }
    // One data packet number per interval, starting at time 0.
    const std::vector<uint32_t>& entries() const { return entries_; }

  private:
    bool FillBefore(uint64_t timeMs, bool inclusive);

    uint32_t intervalMs_;
    uint64_t nextTimeMs_ = 0;
    uint32_t lastPacket_ = 0;
    std::vector<uint32_t> entries_;
};

// Room for tags in the header of a file the encoder makes: FFmpeg's muxer
// writes no padding, so the encoder has it write a tag of this name holding
// kTagRoomChars spaces, and AppendAsfIndex turns that tag into a Padding
// Object of the same size. Later tag writes then fit in the header in place.
// The header stays within one page.
inline constexpr const char* kTagRoomName = "TagRoom";
inline constexpr char16_t kTagRoomName16[] = u"TagRoom";
inline constexpr size_t kTagRoomChars = 1400;

// Finishes the ASF file at `path` (UTF-8) that FFmpeg's muxer has closed:
// appends an Index Object for stream `streamNumber` built from `index`, turns
// the tag named kTagRoomName into padding, and sets the File Properties file
// size to the new length and its play duration to `playDuration` (100 ns,
// preroll included: the muxer's counts whole milliseconds). The file must end
// with its Data object, and its first data packet offset, packet size and
// preroll must be the values the index was computed with.
Result AppendAsfIndex(const char* path, const AsfIndexBuilder& index, uint16_t streamNumber,
                      uint64_t firstPacketOffset, uint32_t packetSize, uint64_t prerollMs,
                      uint64_t playDuration);

}  // namespace ffsdk
