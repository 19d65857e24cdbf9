// SPDX-License-Identifier: MIT
// Makes a long file shaped like a platform encoder's out of a short one, for
// the start benchmark: the data packets of IN repeated until OUT lasts at
// least MINUTES, each copy's send and presentation times shifted by the
// length of IN, so the times keep IN's own jitter. The header's counts,
// sizes and durations are rewritten to match; whatever followed the data
// (an index) is left out.
//
//   bench_shape IN OUT MINUTES
//
// Needs fixed-size packets. Exit code 0 on success, 1 otherwise.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t kFileProperties[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                     0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const uint8_t kData[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                           0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

uint64_t Get(const uint8_t* p, int n) {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

void Put(uint8_t* p, int n, uint64_t v) {
    for (int i = 0; i < n; ++i, v >>= 8) p[i] = static_cast<uint8_t>(v);
}

int FieldBytes(unsigned type) {
    return type == 3 ? 4 : static_cast<int>(type);
}

// Shifts the send time and every payload's presentation time of one packet.
bool Shift(uint8_t* p, size_t size, uint32_t by) {
    size_t at = 0;
    if (p[0] & 0x80) at += 1 + (p[0] & 0x0F);  // error correction data
    const unsigned lengthFlags = p[at];
    const unsigned propertyFlags = p[at + 1];
    at += 2;
    at += FieldBytes((lengthFlags >> 5) & 3) + FieldBytes((lengthFlags >> 1) & 3) +
          FieldBytes((lengthFlags >> 3) & 3);
    Put(p + at, 4, Get(p + at, 4) + by);  // send time
    at += 6;
    const bool multiple = (lengthFlags & 1) != 0;
    unsigned count = 1;
    unsigned payloadLengthType = 0;
    if (multiple) {
        count = p[at] & 0x3F;
        payloadLengthType = (p[at] >> 6) & 3;
        ++at;
    }
    for (unsigned i = 0; i < count && at < size; ++i) {
        at += 1 + FieldBytes((propertyFlags >> 4) & 3);  // stream, media object number
        const int offsetBytes = FieldBytes((propertyFlags >> 2) & 3);
        const size_t offsetAt = at;
        at += offsetBytes;
        const uint64_t replicated = Get(p + at, FieldBytes(propertyFlags & 3));
        at += FieldBytes(propertyFlags & 3);
        if (replicated == 1) {
            // Compressed payloads: the offset field is the presentation time.
            Put(p + offsetAt, offsetBytes, Get(p + offsetAt, offsetBytes) + by);
        } else if (replicated >= 8) {
            Put(p + at + 4, 4, Get(p + at + 4, 4) + by);
        }
        at += replicated;
        if (multiple) {
            const int n = FieldBytes(payloadLengthType);
            at += n + Get(p + at, n);
        }
    }
    return at <= size;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_shape IN OUT MINUTES\n");
        return 1;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < 30) return 1;
    const size_t headerSize = Get(file.data() + 16, 8);
    if (headerSize + 50 > file.size()) return 1;
    Bytes header(file.begin(), file.begin() + static_cast<long>(headerSize));
    uint8_t* props = nullptr;
    for (size_t at = 30; at + 24 <= headerSize; at += Get(header.data() + at + 16, 8)) {
        if (std::memcmp(header.data() + at, kFileProperties, 16) == 0) props = header.data() + at;
        if (Get(header.data() + at + 16, 8) < 24) return 1;
    }
    const uint8_t* data = file.data() + headerSize;
    if (props == nullptr || std::memcmp(data, kData, 16) != 0) return 1;
    const uint32_t packetSize = static_cast<uint32_t>(Get(props + 92, 4));
    if (packetSize == 0 || packetSize != Get(props + 96, 4)) return 1;
    const uint64_t preroll = Get(props + 80, 8);
    const uint64_t playMs = Get(props + 64, 8) / 10000 - preroll;
    const uint64_t packets =
        std::min<uint64_t>(Get(data + 40, 8), (file.size() - headerSize - 50) / packetSize);
    const uint64_t copies = (std::strtoull(argv[3], nullptr, 10) * 60000 + playMs - 1) / playMs;
    const uint64_t total = packets * copies;
    const uint64_t dataSize = 50 + total * packetSize;
    Put(props + 40, 8, headerSize + dataSize);                // file size
    Put(props + 56, 8, total);                                // data packets
    Put(props + 64, 8, (playMs * copies + preroll) * 10000);  // play duration
    Put(props + 72, 8, Get(props + 72, 8) * copies);          // send duration
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char*>(header.data()), static_cast<long>(header.size()));
    Bytes dataHeader(data, data + 50);
    Put(dataHeader.data() + 16, 8, dataSize);
    Put(dataHeader.data() + 40, 8, total);
    out.write(reinterpret_cast<const char*>(dataHeader.data()), 50);
    Bytes packet(packetSize);
    for (uint64_t c = 0; c < copies; ++c) {
        for (uint64_t i = 0; i < packets; ++i) {
            std::memcpy(packet.data(), data + 50 + i * packetSize, packetSize);
            if (!Shift(packet.data(), packetSize, static_cast<uint32_t>(c * playMs))) return 1;
            out.write(reinterpret_cast<const char*>(packet.data()), packetSize);
        }
    }
    return out.good() ? 0 : 1;
}
