// SPDX-License-Identifier: MIT
// Reading and mending ASF files byte by byte for the tests, independently of
// the stand-in's own ASF code: a header's objects, the playing duration, and
// the signs of protection a DRM-protected file carries.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace asfbytes {

using Bytes = std::vector<uint8_t>;
using Guid = std::array<uint8_t, 16>;

// A GUID from its text form, in the file's byte order.
inline Guid G(const char* text) {
    unsigned a, b, c, d[8];
    std::sscanf(text, "%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x", &a, &b, &c, &d[0], &d[1], &d[2],
                &d[3], &d[4], &d[5], &d[6], &d[7]);
    Guid g{uint8_t(a), uint8_t(a >> 8), uint8_t(a >> 16), uint8_t(a >> 24),
           uint8_t(b), uint8_t(b >> 8), uint8_t(c),       uint8_t(c >> 8)};
    for (int i = 0; i < 8; ++i) g[8 + i] = uint8_t(d[i]);
    return g;
}

const Guid kFileProps = G("8CABDCA1-A947-11CF-8EE4-00C00C205365");
const Guid kStreamProps = G("B7DC0791-A9B7-11CF-8EE6-00C00C205365");
const Guid kHeaderExt = G("5FBF03B5-A92E-11CF-8EE3-00C00C205365");
const Guid kContentDesc = G("75B22633-668E-11CF-A6D9-00AA0062CE6C");
const Guid kExtContentDesc = G("D2D0A440-E307-11D2-97F0-00A0C95EA850");
const Guid kPadding = G("1806D474-CADF-4509-A4BA-9AABCB96AAE8");
const Guid kMetadata = G("C5F8CBEA-5BAF-4877-8467-AA8C44FA4CCA");
const Guid kMetadataLibrary = G("44231C94-9498-49D1-A141-1D134E457054");

inline uint64_t Le(const Bytes& b, size_t at, int n) {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | b.at(at + size_t(i));
    return v;
}
inline void PutLe(Bytes& b, size_t at, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) b.at(at + size_t(i)) = uint8_t(v >> (8 * i));
}

struct Object {
    Guid id;
    Bytes bytes;  // the whole object
    size_t at;    // where it starts
};

// The objects from `from` to `to`, one level.
inline std::vector<Object> Objects(const Bytes& b, size_t from, size_t to) {
    std::vector<Object> out;
    for (uint64_t size; from + 24 <= to && (size = Le(b, from + 16, 8)) >= 24 && size <= to - from;
         from += size) {
        Object o{{}, Bytes(b.begin() + long(from), b.begin() + long(from + size)), from};
        std::memcpy(o.id.data(), o.bytes.data(), 16);
        out.push_back(std::move(o));
    }
    return out;
}
inline size_t HeaderEnd(const Bytes& b) {
    return size_t(Le(b, 16, 8));
}
inline std::vector<Object> HeaderObjects(const Bytes& b) {
    return Objects(b, 30, HeaderEnd(b));
}
inline std::vector<Object> ExtensionObjects(const Object& extension) {
    return Objects(extension.bytes, 46, extension.bytes.size());
}

// The playing duration in milliseconds (play duration less the preroll).
inline uint64_t PlayingMs(const Bytes& b) {
    for (const Object& o : HeaderObjects(b)) {
        if (o.id != kFileProps) continue;
        const uint64_t play = Le(o.bytes, 64, 8) / 10000;
        const uint64_t preroll = Le(o.bytes, 80, 8);
        return play > preroll ? play - preroll : 0;
    }
    return 0;
}

// Each sign of protection a file may carry: its streams flagged encrypted, a
// Content Encryption Object, an Extended Content Encryption Object.
enum class Protection { kStreamFlag, kEncryptionObject, kExtEncryptionObject };

inline Bytes Protect(const Bytes& file, Protection how) {
    Bytes out = file;
    if (how == Protection::kStreamFlag) {
        for (const Object& o : HeaderObjects(out))
            if (o.id == kStreamProps) PutLe(out, o.at + 72, Le(out, o.at + 72, 2) | 0x8000, 2);
        return out;
    }
    // The object's body: DWORD-length-prefixed parts (secret data, protection
    // type, key ID, licence URL), or one UTF-16 XML header.
    std::vector<std::string> parts = {"secret", std::string("DRM\0", 4), "key", "https://l"};
    if (how == Protection::kExtEncryptionObject) parts = {std::string("<\0W\0/\0>\0", 8)};
    Bytes object(24);
    const Guid id =
        G(how == Protection::kEncryptionObject ? "2211B3FB-BD23-11D2-B4B7-00A0C955FC6E"
                                               : "298AE614-2622-4C17-B935-DAE07EE9289C");
    std::copy(id.begin(), id.end(), object.begin());
    for (const std::string& part : parts) {
        object.resize(object.size() + 4);
        PutLe(object, object.size() - 4, part.size(), 4);
        object.insert(object.end(), part.begin(), part.end());
    }
    PutLe(object, 16, object.size(), 8);
    // Added at the header's end, its size, object count and the file size grown.
    const size_t end = HeaderEnd(file);
    out.insert(out.begin() + long(end), object.begin(), object.end());
    PutLe(out, 16, end + object.size(), 8);
    PutLe(out, 24, Le(out, 24, 4) + 1, 4);
    for (const Object& o : HeaderObjects(out))
        if (o.id == kFileProps) PutLe(out, o.at + 40, out.size(), 8);
    return out;
}

}  // namespace asfbytes
