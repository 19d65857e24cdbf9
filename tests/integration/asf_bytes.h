// Reading and mending ASF files byte by byte for the tests, independently of
// the stand-in's own ASF code: the objects of a header, the playing duration,
// and the protection objects a DRM-protected file carries.
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
    Guid g{};
    for (int i = 0; i < 4; ++i) g[i] = uint8_t(a >> (8 * i));
    for (int i = 0; i < 2; ++i) g[4 + i] = uint8_t(b >> (8 * i));
    for (int i = 0; i < 2; ++i) g[6 + i] = uint8_t(c >> (8 * i));
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
const Guid kAudio = G("F8699E40-5B4D-11CF-A8FD-00805F5C442B");
const Guid kContentEncryption = G("2211B3FB-BD23-11D2-B4B7-00A0C955FC6E");
const Guid kExtContentEncryption = G("298AE614-2622-4C17-B935-DAE07EE9289C");

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
    size_t at;    // where it starts in the file
};

// The objects between `from` and `to` (one level, no recursion).
inline std::vector<Object> Objects(const Bytes& b, size_t from, size_t to) {
    std::vector<Object> out;
    while (from + 24 <= to) {
        const uint64_t size = Le(b, from + 16, 8);
        if (size < 24 || size > to - from) break;
        Object o;
        std::memcpy(o.id.data(), b.data() + from, 16);
        o.bytes.assign(b.begin() + long(from), b.begin() + long(from + size));
        o.at = from;
        out.push_back(std::move(o));
        from += size;
    }
    return out;
}
inline size_t HeaderEnd(const Bytes& b) {
    return size_t(Le(b, 16, 8));
}
inline std::vector<Object> HeaderObjects(const Bytes& b) {
    return Objects(b, 30, HeaderEnd(b));
}
// The objects inside a Header Extension Object.
inline std::vector<Object> ExtensionObjects(const Object& extension) {
    return Objects(extension.bytes, 46, extension.bytes.size());
}

// The playing duration in milliseconds (play duration less the preroll).
inline uint64_t PlayingMs(const Bytes& b) {
    for (const Object& o : HeaderObjects(b)) {
        if (o.id != kFileProps) continue;
        const uint64_t play = Le(o.bytes, 64, 8);
        const uint64_t preroll = Le(o.bytes, 80, 8);
        return play / 10000 > preroll ? play / 10000 - preroll : 0;
    }
    return 0;
}

// Adds `objects` at the end of the header, keeping sizes and counts right.
inline Bytes WithHeaderObjects(const Bytes& file, const Bytes& objects) {
    const size_t end = HeaderEnd(file);
    Bytes out(file.begin(), file.begin() + long(end));
    out.insert(out.end(), objects.begin(), objects.end());
    out.insert(out.end(), file.begin() + long(end), file.end());
    PutLe(out, 16, end + objects.size(), 8);
    PutLe(out, 24, Le(out, 24, 4) + (objects.empty() ? 0 : 1), 4);
    for (const Object& o : HeaderObjects(out)) {
        if (o.id == kFileProps) PutLe(out, o.at + 40, out.size(), 8);
    }
    return out;
}

inline Bytes MakeObject(const Guid& id, const Bytes& body) {
    Bytes o(id.begin(), id.end());
    o.resize(24);
    PutLe(o, 16, 24 + body.size(), 8);
    o.insert(o.end(), body.begin(), body.end());
    return o;
}

// How a test file is protected: by one of the three signs a protected file
// carries.
enum class Protection { kStreamFlag, kEncryptionObject, kExtEncryptionObject };

inline Bytes Protect(const Bytes& file, Protection how) {
    if (how == Protection::kStreamFlag) {
        Bytes out = file;
        for (const Object& o : HeaderObjects(out)) {
            if (o.id == kStreamProps && std::memcmp(o.bytes.data() + 24, kAudio.data(), 16) == 0)
                PutLe(out, o.at + 72, Le(out, o.at + 72, 2) | 0x8000, 2);
        }
        return out;
    }
    if (how == Protection::kEncryptionObject) {
        // Secret data, protection type "DRM", key ID and licence URL, each
        // after its DWORD length.
        const std::string parts[] = {"secret-data-", std::string("DRM\0", 4),
                                     "key-id=", "https://licence.example/"};
        Bytes body;
        for (const std::string& part : parts) {
            Bytes length(4);
            PutLe(length, 0, part.size(), 4);
            body.insert(body.end(), length.begin(), length.end());
            body.insert(body.end(), part.begin(), part.end());
        }
        return WithHeaderObjects(file, MakeObject(kContentEncryption, body));
    }
    const std::string xml = "<WRMHEADER version=\"2.0.0.0\"><DATA/></WRMHEADER>";
    Bytes body(4);
    for (char c : xml) body.insert(body.end(), {uint8_t(c), 0});
    PutLe(body, 0, body.size() - 4, 4);
    return WithHeaderObjects(file, MakeObject(kExtContentEncryption, body));
}

}  // namespace asfbytes
