// SPDX-License-Identifier: MIT
#include "protection.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cli.h"

namespace tool {

namespace {

// Object GUIDs as stored (first three fields little-endian).
const unsigned char kEncryption[16] = {0xFB, 0xB3, 0x11, 0x22, 0x23, 0xBD, 0xD2, 0x11,
                                       0xB4, 0xB7, 0x00, 0xA0, 0xC9, 0x55, 0xFC, 0x6E};
const unsigned char kExtendedEncryption[16] = {0x14, 0xE6, 0x8A, 0x29, 0x22, 0x26, 0x17, 0x4C,
                                               0xB9, 0x35, 0xDA, 0xE0, 0x7E, 0xE9, 0x28, 0x9C};
const unsigned char kStreamProperties[16] = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                             0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr size_t kHeaderObjectsStart = 30;
constexpr size_t kStreamFlagsAt = 72;  // within a Stream Properties Object
constexpr uint64_t kEncryptedFlag = 0x8000;
// The largest header read, as the library's own reader: a picture in the
// Header Extension can put the protection objects far past the first 64 KiB.
constexpr uint64_t kMaxHeader = 256u << 20;

}  // namespace

bool LooksProtected(const std::string& path) {
    FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) return false;
    std::vector<unsigned char> head(kHeaderObjectsStart);
    head.resize(std::fread(head.data(), 1, head.size(), in));
    const auto le = [&](size_t at, int bytes) {
        uint64_t value = 0;
        for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | head[at + size_t(i)];
        return value;
    };
    if (head.size() == kHeaderObjectsStart) {
        head.resize(size_t(std::clamp<uint64_t>(le(16, 8), kHeaderObjectsStart, kMaxHeader)));
        head.resize(kHeaderObjectsStart + std::fread(head.data() + kHeaderObjectsStart, 1,
                                                     head.size() - kHeaderObjectsStart, in));
    }
    std::fclose(in);
    if (head.size() < kHeaderObjectsStart) return false;
    const size_t end = head.size();
    for (size_t at = kHeaderObjectsStart; at + 24 <= end;) {
        const uint64_t size = le(at + 16, 8);
        if (size < 24 || size > end - at) break;
        const unsigned char* id = head.data() + at;
        if (std::memcmp(id, kEncryption, 16) == 0 || std::memcmp(id, kExtendedEncryption, 16) == 0)
            return true;
        if (std::memcmp(id, kStreamProperties, 16) == 0 && size >= kStreamFlagsAt + 2 &&
            (le(at + kStreamFlagsAt, 2) & kEncryptedFlag) != 0)
            return true;
        at += size;
    }
    return false;
}

int Unreadable(const std::string& path) {
    if (LooksProtected(path))
        return Fail(kFailed, path + " is protected (DRM): its audio cannot be decoded");
    return Fail(kFailed, path + " is not a readable Windows Media Audio file");
}

}  // namespace tool
