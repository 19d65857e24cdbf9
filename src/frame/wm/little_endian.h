// SPDX-License-Identifier: MIT
// Little-endian integers in byte buffers, for the file and format layouts the
// library and the Format SDK stand-in read and write (ASF objects,
// WAVEFORMATEX). Byte by byte, so neither alignment nor the host's byte order
// matters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace wm {

constexpr uint16_t ReadLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
constexpr uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(ReadLe16(p)) | (static_cast<uint32_t>(ReadLe16(p + 2)) << 16);
}
constexpr uint64_t ReadLe64(const uint8_t* p) {
    return static_cast<uint64_t>(ReadLe32(p)) | (static_cast<uint64_t>(ReadLe32(p + 4)) << 32);
}

// Stores the low `bytes` bytes of v at p.
constexpr void StoreLe(uint8_t* p, uint64_t v, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Appends the low `bytes` bytes of v to out.
inline void AppendLe(std::vector<uint8_t>* out, uint64_t v, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void AppendLe16(std::vector<uint8_t>* out, uint32_t v) {
    AppendLe(out, v, 2);
}
inline void AppendLe32(std::vector<uint8_t>* out, uint32_t v) {
    AppendLe(out, v, 4);
}
inline void AppendLe64(std::vector<uint8_t>* out, uint64_t v) {
    AppendLe(out, v, 8);
}

}  // namespace wm
