// SPDX-License-Identifier: MIT
#include "packet_walk.h"

extern "C" {
#include <libavformat/avio.h>
}

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace ffsdk {

namespace {

constexpr uint8_t kFileProperties[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                         0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr uint8_t kData[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                               0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr uint64_t kMaxHeader = 64u << 20;
constexpr int kPacketsPerRead = 64;

uint64_t Le(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

// The bytes of a field whose length type (two bits) is `type`.
int FieldBytes(unsigned type) {
    return type == 3 ? 4 : static_cast<int>(type);
}

// Reads exactly `size` bytes at `at`.
bool ReadAt(AVIOContext* io, int64_t at, uint8_t* into, int size) {
    return avio_seek(io, at, SEEK_SET) == at && avio_read(io, into, size) == size;
}

// One media object being put together from its fragments.
struct Assembly {
    bool open = false;
    unsigned number = 0;
    int64_t pos = 0;
    int64_t pts = 0;
    std::vector<uint8_t> data;
    size_t size = 0;
};

class Walker {
  public:
    Walker(unsigned stream, int64_t preroll, const MediaObjectSink& sink)
        : stream_(stream), preroll_(preroll), sink_(sink) {}

    // Parses one packet of `size` bytes at file offset `pos`.
    bool Packet(const uint8_t* p, uint32_t size, int64_t pos) {
        size_t at = 0;
        if (p[0] & 0x80) at += 1 + (p[0] & 0x0F);  // error correction data
        if (at + 2 > size) return false;
        const unsigned lengthFlags = p[at];
        const unsigned propertyFlags = p[at + 1];
        at += 2;
        const int lengthBytes = FieldBytes((lengthFlags >> 5) & 3);
        const int sequenceBytes = FieldBytes((lengthFlags >> 1) & 3);
        const int paddingBytes = FieldBytes((lengthFlags >> 3) & 3);
        if (at + lengthBytes + sequenceBytes + paddingBytes + 6 > size) return false;
        uint64_t length = lengthBytes > 0 ? Le(p + at, lengthBytes) : size;
        at += lengthBytes + sequenceBytes;
        const uint64_t padding = Le(p + at, paddingBytes);
        at += paddingBytes + 6;  // send time and duration
        if (length == 0 || length > size || padding > length) return false;
        const bool multiple = (lengthFlags & 1) != 0;
        unsigned count = 1;
        int payloadLengthBytes = 0;
        if (multiple) {
            if (at >= length) return false;
            count = p[at] & 0x3F;
            payloadLengthBytes = FieldBytes((p[at] >> 6) & 3);
            ++at;
        }
        const int numberBytes = FieldBytes((propertyFlags >> 4) & 3);
        const int offsetBytes = FieldBytes((propertyFlags >> 2) & 3);
        const int replicatedBytes = FieldBytes(propertyFlags & 3);
        for (unsigned i = 0; i < count; ++i) {
            if (at + 1 + numberBytes + offsetBytes + replicatedBytes > length) return false;
            const unsigned stream = p[at] & 0x7F;
            at += 1;
            const unsigned number = static_cast<unsigned>(Le(p + at, numberBytes));
            at += numberBytes;
            const uint64_t offset = Le(p + at, offsetBytes);
            at += offsetBytes;
            const uint64_t replicated = Le(p + at, replicatedBytes);
            at += replicatedBytes;
            if (at + replicated > length) return false;
            if (replicated == 1 && stream == stream_) return false;  // compressed payloads
            const bool timed = replicated >= 8;
            const uint64_t objectSize = timed ? Le(p + at, 4) : 0;
            const int64_t time = timed ? static_cast<int64_t>(Le(p + at + 4, 4)) : 0;
            at += replicated;
            uint64_t bytes = 0;
            if (multiple) {
                if (at + payloadLengthBytes > length) return false;
                bytes = Le(p + at, payloadLengthBytes);
                at += payloadLengthBytes;
            } else {
                bytes = length - padding - at;
            }
            if (at + bytes > length) return false;
            if (stream == stream_ && !Payload(number, offset, objectSize, timed, time, p + at,
                                              static_cast<size_t>(bytes), pos)) {
                return false;
            }
            at += bytes;
        }
        return true;
    }

  private:
    bool Payload(unsigned number, uint64_t offset, uint64_t objectSize, bool timed, int64_t time,
                 const uint8_t* data, size_t bytes, int64_t pos) {
        if (offset == 0 && !object_.open && timed && bytes == objectSize) {
            // A whole object in one payload, as platform encoders write them.
            return sink_(pos, time - preroll_, data, static_cast<int>(bytes));
        }
        if (offset == 0) {
            // A new object; one left unfinished is one the demuxer gives
            // otherwise: not walked.
            if (object_.open || !timed || objectSize == 0 || objectSize > (1u << 24)) return false;
            object_.open = true;
            object_.number = number;
            object_.pos = pos;
            object_.pts = time - preroll_;
            object_.size = static_cast<size_t>(objectSize);
            object_.data.clear();
        } else if (!object_.open || number != object_.number || offset != object_.data.size()) {
            return false;
        }
        if (object_.data.size() + bytes > object_.size) return false;
        try {
            object_.data.insert(object_.data.end(), data, data + bytes);
        } catch (const std::bad_alloc&) {
            return false;
        }
        if (object_.data.size() < object_.size) return true;
        object_.open = false;
        return sink_(object_.pos, object_.pts, object_.data.data(),
                     static_cast<int>(object_.data.size()));
    }

    unsigned stream_;
    int64_t preroll_;
    const MediaObjectSink& sink_;
    Assembly object_;
};

}  // namespace

bool WalkMediaObjects(AVIOContext* io, unsigned stream, const MediaObjectSink& sink) {
    uint8_t top[30];
    if (io == nullptr || !ReadAt(io, 0, top, sizeof top)) return false;
    const uint64_t headerSize = Le(top + 16, 8);
    if (headerSize < 30 || headerSize > kMaxHeader) return false;
    std::vector<uint8_t> header;
    try {
        header.resize(static_cast<size_t>(headerSize));
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!ReadAt(io, 0, header.data(), static_cast<int>(headerSize))) return false;
    uint32_t packetSize = 0;
    int64_t preroll = 0;
    for (uint64_t at = 30; at + 24 <= headerSize;) {
        const uint64_t size = Le(header.data() + at + 16, 8);
        if (size < 24 || size > headerSize - at) return false;
        if (std::memcmp(header.data() + at, kFileProperties, 16) == 0 && size >= 104) {
            const uint8_t* props = header.data() + at;
            preroll = static_cast<int64_t>(Le(props + 80, 8));
            packetSize = static_cast<uint32_t>(Le(props + 92, 4));
            if (packetSize != Le(props + 96, 4)) return false;  // packets of varying size
        }
        at += size;
    }
    uint8_t data[50];
    if (packetSize == 0 || !ReadAt(io, static_cast<int64_t>(headerSize), data, sizeof data) ||
        std::memcmp(data, kData, 16) != 0) {
        return false;
    }
    const int64_t first = static_cast<int64_t>(headerSize) + 50;
    const int64_t fileSize = avio_size(io);
    uint64_t packets = fileSize > first ? static_cast<uint64_t>(fileSize - first) / packetSize : 0;
    const uint64_t declared = Le(data + 40, 8);
    if (declared > 0 && declared < packets) packets = declared;
    std::vector<uint8_t> chunk;
    try {
        chunk.resize(size_t{packetSize} * kPacketsPerRead);
    } catch (const std::bad_alloc&) {
        return false;
    }
    Walker walker(stream, preroll, sink);
    if (avio_seek(io, first, SEEK_SET) != first) return false;
    for (uint64_t done = 0; done < packets;) {
        const uint64_t now = std::min<uint64_t>(kPacketsPerRead, packets - done);
        const int want = static_cast<int>(now * packetSize);
        const int got = avio_read(io, chunk.data(), want);
        const uint64_t whole = got > 0 ? static_cast<uint64_t>(got) / packetSize : 0;
        for (uint64_t i = 0; i < whole; ++i) {
            const int64_t pos = first + static_cast<int64_t>((done + i) * packetSize);
            if (!walker.Packet(chunk.data() + i * packetSize, packetSize, pos)) return false;
        }
        if (got != want) break;  // a short file: what was read holds
        done += now;
    }
    return true;
}

}  // namespace ffsdk
