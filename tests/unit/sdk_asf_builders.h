// SPDX-License-Identifier: MIT
// Building ASF objects in memory for the tests of the stand-in's ASF module.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "asf/asf_header.h"

namespace asf_test {

using Bytes = std::vector<uint8_t>;
// ---- Building ASF objects in memory.

inline Bytes num(uint64_t v, int n) {  // little-endian
    Bytes b;
    for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return b;
}
inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
}
inline Bytes guid(uint32_t d1, uint16_t d2, uint16_t d3, uint64_t d4) {  // d4 is stored big-endian
    Bytes last = num(d4, 8);
    std::reverse(last.begin(), last.end());
    return cat({num(d1, 4), num(d2, 2), num(d3, 2), last});
}
const Bytes kHeader = guid(0x75B22630, 0x668E, 0x11CF, 0xA6D900AA0062CE6Cull);
const Bytes kData = guid(0x75B22636, 0x668E, 0x11CF, 0xA6D900AA0062CE6Cull);
const Bytes kFileProps = guid(0x8CABDCA1, 0xA947, 0x11CF, 0x8EE400C00C205365ull);
const Bytes kStreamProps = guid(0xB7DC0791, 0xA9B7, 0x11CF, 0x8EE600C00C205365ull);
const Bytes kHeaderExt = guid(0x5FBF03B5, 0xA92E, 0x11CF, 0x8EE300C00C205365ull);
const Bytes kContentDesc = guid(0x75B22633, 0x668E, 0x11CF, 0xA6D900AA0062CE6Cull);
const Bytes kExtContent = guid(0xD2D0A440, 0xE307, 0x11D2, 0x97F000A0C95EA850ull);
const Bytes kBitrates = guid(0x7BF875CE, 0x468D, 0x11D1, 0x8D82006097C9A2B2ull);
const Bytes kMetadata = guid(0xC5F8CBEA, 0x5BAF, 0x4877, 0x8467AA8C44FA4CCAull);
const Bytes kMetadataLib = guid(0x44231C94, 0x9498, 0x49D1, 0xA1411D134E457054ull);
const Bytes kAudio = guid(0xF8699E40, 0x5B4D, 0x11CF, 0xA8FD00805F5C442Bull);
const Bytes kUnknown = guid(0x12345678, 0x9ABC, 0xDEF0, 0x0102030405060708ull);
const Bytes kExtStreamProps = guid(0x14E6A5CB, 0xC672, 0x4332, 0x8399A96952065B5Aull);
const Bytes kBitrateMutex = guid(0xD6E229DC, 0x35DA, 0x11D1, 0x903400A0C90349BEull);
const Bytes kAdvancedMutex = guid(0xA08649CF, 0x4775, 0x4670, 0x8A166E35357566CDull);
const Bytes kExcludeLanguage = guid(0xD6E22A00, 0x35DA, 0x11D1, 0x903400A0C90349BEull);
const Bytes kExcludeBitrate = guid(0xD6E22A01, 0x35DA, 0x11D1, 0x903400A0C90349BEull);

inline Bytes patched(Bytes b, size_t at, const Bytes& with) {
    // Element by element: GCC 12 misreads the bounds of an inlined std::copy here.
    for (size_t i = 0; i < with.size(); ++i) b.at(at + i) = with[i];
    return b;
}
inline void append(Bytes* b, const Bytes& more) {
    b->insert(b->end(), more.begin(), more.end());
}
inline Bytes str(std::u16string_view s) {  // UTF-16LE with terminator
    Bytes b;
    for (char16_t c : s) append(&b, num(c, 2));
    return cat({b, num(0, 2)});
}
inline Bytes object(const Bytes& id, const Bytes& body) {
    return cat({id, num(24 + body.size(), 8), body});
}
inline Bytes fileProps(uint64_t play, uint64_t prerollMs, uint32_t flags) {
    // File size 0 (serialize sets it), 5 packets, fixed 3,200-byte packets.
    return object(kFileProps, cat({Bytes(16, 0xAB), Bytes(16, 0), num(5, 8), num(play, 8),
                                   num(play + 1000, 8), num(prerollMs, 8), num(flags, 4),
                                   num(3200, 4), num(3200, 4), num(128000, 4)}));
}
inline Bytes audioStream(uint16_t number, uint32_t avgBytes) {
    const Bytes wf = cat({num(0x161, 2), num(2, 2), num(44100, 4), num(avgBytes, 4), num(743, 2),
                          num(16, 2), num(10, 2), Bytes{0, 0, 0, 0, 1, 0, 0, 0, 0, 0}});
    return object(kStreamProps, cat({kAudio, Bytes(16, 0), num(0, 8), num(wf.size(), 4), num(0, 4),
                                     num(number, 2), num(0, 4), wf}));
}
// Extended Stream Properties of `number` at `bitrate` bit/s, with a whole
// Stream Properties object (or nothing) at its end.
inline Bytes extStream(uint16_t number, uint32_t bitrate, const Bytes& streamProps) {
    return object(kExtStreamProps, cat({Bytes(16, 0), num(bitrate, 4), Bytes(28, 0), num(number, 2),
                                        num(0, 2), num(0, 8), num(0, 4), streamProps}));
}
// A mutual exclusion object (kBitrateMutex or kAdvancedMutex) of `type`.
inline Bytes exclusion(const Bytes& id, const Bytes& type, const std::vector<uint16_t>& streams) {
    Bytes b = cat({type, num(streams.size(), 2)});
    for (uint16_t n : streams) append(&b, num(n, 2));
    return object(id, b);
}
inline Bytes contentDesc(const std::vector<Bytes>& fields) {
    Bytes lens, strings;
    for (const Bytes& f : fields) append(&lens, num(f.size(), 2)), append(&strings, f);
    return object(kContentDesc, cat({lens, strings}));
}
struct Rec {
    std::u16string name;
    uint16_t type;
    Bytes value;
    uint16_t stream = 0;
};
inline Bytes extContent(const std::vector<Rec>& recs) {
    Bytes b = num(recs.size(), 2);
    for (const Rec& r : recs) {
        const Bytes n = str(r.name);
        append(&b, cat({num(n.size(), 2), n, num(r.type, 2), num(r.value.size(), 2), r.value}));
    }
    return object(kExtContent, b);
}
inline Bytes metaObject(const Bytes& id, const std::vector<Rec>& recs) {
    Bytes b = num(recs.size(), 2);
    for (const Rec& r : recs) {
        const Bytes n = str(r.name);
        append(&b, cat({num(0, 2), num(r.stream, 2), num(n.size(), 2), num(r.type, 2),
                        num(r.value.size(), 4), n, r.value}));
    }
    return object(id, b);
}
inline Bytes headerExt(const std::vector<Bytes>& inner) {
    Bytes data;
    for (const Bytes& o : inner) append(&data, o);
    const Bytes reserved = guid(0xABD3D211, 0xA9BA, 0x11CF, 0x8EE600C00C205365ull);
    return object(kHeaderExt, cat({reserved, num(6, 2), num(data.size(), 4), data}));
}
inline Bytes header(const std::vector<Bytes>& objects) {
    Bytes body = cat({num(objects.size(), 4), Bytes{1, 2}});
    for (const Bytes& o : objects) append(&body, o);
    return object(kHeader, body);
}
inline Bytes dataObject(size_t payload) {
    Bytes b = cat({Bytes(16, 0xCD), num(5, 8), Bytes{1, 1}});
    for (size_t i = 0; i < payload; ++i) b.push_back(static_cast<uint8_t>(i * 7));
    return object(kData, b);
}

const Bytes kUnknownObject = object(kUnknown, Bytes{9, 8, 7, 6, 5});

// A header using every object kind the module decodes.
inline Bytes richHeader() {
    return header({
        fileProps(41210000, 3100, 2),
        headerExt({metaObject(kMetadata,
                              {{u"IsVBR", 2, num(1, 2)}, {u"PerStream", 0, str(u"hidden"), 1}}),
                   object(kUnknown, Bytes{1, 2, 3}),
                   metaObject(kMetadataLib, {{u"WM/Track", 0, str(u"5")}})}),
        contentDesc({str(u"T"), str(u"A"), {}, {}, {}}),
        extContent({{u"title", 0, str(u"T")},
                    {u"WM/Track", 3, num(4, 4)},
                    {u"NoTerminator", 0, Bytes{'a', 0, 'b', 0}}}),
        kUnknownObject,
        audioStream(1, 16000),
        object(kBitrates, cat({num(1, 2), num(1, 2), num(96000, 4)})),
    });
}

inline std::string narrow(const Bytes& utf16) {
    std::string s;
    for (size_t i = 0; i + 1 < utf16.size() && utf16[i]; i += 2) s.push_back(char(utf16[i]));
    return s;
}
inline uint64_t value(const asf::Attribute* a) {
    uint64_t v = 0;
    for (size_t i = 0; i < a->value().size() && i < 8; ++i) v |= uint64_t(a->value()[i]) << (8 * i);
    return v;
}
inline bool contains(const Bytes& hay, const Bytes& needle) {
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

}  // namespace asf_test
