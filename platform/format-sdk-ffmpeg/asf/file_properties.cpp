// SPDX-License-Identifier: MIT
#include "asf/file_properties.h"

#include "little_endian.h"

namespace asf {

bool ParseFileProperties(const uint8_t* p, size_t n, FileProperties* out) {
    if (n < 80) return false;
    out->fileId = ReadGuid(p);
    out->fileSize = wm::ReadLe64(p + 16);
    // Creation date (24) and send duration (48) are of no use here.
    out->dataPacketCount = wm::ReadLe64(p + 32);
    out->playDuration = wm::ReadLe64(p + 40);
    out->prerollMs = wm::ReadLe64(p + 56);
    out->flags = wm::ReadLe32(p + 64);
    out->minPacketSize = wm::ReadLe32(p + 68);
    out->maxPacketSize = wm::ReadLe32(p + 72);
    out->maxBitrate = wm::ReadLe32(p + 76);
    return true;
}

uint64_t PlayingDuration(const FileProperties& p) {
    // Preroll is in milliseconds, play duration in 100 ns and includes it.
    if (p.prerollMs > p.playDuration / 10000) return 0;
    return p.playDuration - p.prerollMs * 10000;
}

}  // namespace asf
