#include "encode/asf_index.h"

#include <sys/types.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace ffsdk {
namespace {

// On-disk GUIDs (first three fields little-endian).
constexpr uint8_t kHeaderGuid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                     0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr uint8_t kDataGuid[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                   0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr uint8_t kFilePropertiesGuid[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                             0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr uint8_t kIndexGuid[16] = {0xD3, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11,
                                    0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE};

constexpr size_t kObjectHeaderSize = 24;
constexpr size_t kHeaderObjectFixedSize = 30;
constexpr size_t kDataObjectFixedSize = 50;
constexpr size_t kFilePropertiesSize = 104;
// Field offsets inside File Properties.
constexpr size_t kFpFileSize = 40;
constexpr size_t kFpPreroll = 80;
constexpr size_t kFpMinPacket = 92;
constexpr size_t kFpMaxPacket = 96;
// Index type "nearest past data packet".
constexpr uint16_t kIndexNearestPastPacket = 1;
// Refuse to load absurdly large headers into memory.
constexpr uint64_t kMaxHeaderSize = uint64_t{64} << 20;

uint64_t ReadLe(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
uint64_t Read64(const uint8_t* p) {
    return ReadLe(p, 8);
}
uint32_t Read32(const uint8_t* p) {
    return static_cast<uint32_t>(ReadLe(p, 4));
}

void Append(std::vector<uint8_t>& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

bool ReadAt(FILE* f, uint64_t at, void* buf, size_t len) {
    return fseeko(f, static_cast<off_t>(at), SEEK_SET) == 0 && std::fread(buf, 1, len, f) == len;
}
bool WriteAt(FILE* f, uint64_t at, const void* buf, size_t len) {
    return fseeko(f, static_cast<off_t>(at), SEEK_SET) == 0 && std::fwrite(buf, 1, len, f) == len;
}

Result WriteFailure() {
    return errno != 0 ? ResultFromErrno(errno) : Result(E_FAIL);
}

// Serialises the Index Object. Entries are byte offsets from the first data
// packet; a new block starts whenever an offset no longer fits 32 bits above
// the current block's position.
std::vector<uint8_t> BuildIndexObject(const AsfIndexBuilder& index, uint16_t streamNumber,
                                      uint32_t packetSize) {
    struct Block {
        uint64_t position;
        size_t first;
        size_t count;
    };
    const std::vector<uint32_t>& entries = index.entries();
    std::vector<Block> blocks;
    for (size_t i = 0; i < entries.size(); ++i) {
        const uint64_t offset = uint64_t{entries[i]} * packetSize;
        if (blocks.empty() || offset - blocks.back().position > UINT32_MAX) {
            blocks.push_back({blocks.empty() ? 0 : offset, i, 0});
        }
        ++blocks.back().count;
    }
    if (blocks.empty()) blocks.push_back({0, 0, 0});

    std::vector<uint8_t> out(kIndexGuid, kIndexGuid + 16);
    Append(out, 0, 8);  // size, patched below
    Append(out, index.intervalMs(), 4);
    Append(out, 1, 2);  // index specifiers
    Append(out, blocks.size(), 4);
    Append(out, streamNumber, 2);
    Append(out, kIndexNearestPastPacket, 2);
    for (const Block& b : blocks) {
        Append(out, b.count, 4);
        Append(out, b.position, 8);
        for (size_t i = b.first; i < b.first + b.count; ++i) {
            Append(out, uint64_t{entries[i]} * packetSize - b.position, 4);
        }
    }
    const uint64_t size = out.size();
    for (int i = 0; i < 8; ++i) out[16 + i] = static_cast<uint8_t>(size >> (8 * i));
    return out;
}

}  // namespace

bool AsfIndexBuilder::fillBefore(uint64_t timeMs, bool inclusive) {
    try {
        while (nextTimeMs_ < timeMs || (inclusive && nextTimeMs_ == timeMs)) {
            entries_.push_back(lastPacket_);
            nextTimeMs_ += intervalMs_;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool AsfIndexBuilder::addPayload(uint64_t presMs, uint32_t packet) {
    if (!fillBefore(presMs, false)) return false;
    lastPacket_ = packet;
    return true;
}

bool AsfIndexBuilder::finish(uint64_t endMs) {
    return fillBefore(endMs, true);
}

Result AppendAsfIndex(const char* path, const AsfIndexBuilder& index, uint16_t streamNumber,
                      uint64_t firstPacketOffset, uint32_t packetSize, uint64_t prerollMs) {
    errno = 0;
    File f(std::fopen(path, "r+b"));
    if (!f) return WriteFailure();

    uint8_t fixed[kHeaderObjectFixedSize];
    if (!ReadAt(f.get(), 0, fixed, sizeof fixed) || std::memcmp(fixed, kHeaderGuid, 16) != 0) {
        return E_UNEXPECTED;
    }
    const uint64_t headerSize = Read64(fixed + 16);
    if (headerSize < kHeaderObjectFixedSize || headerSize > kMaxHeaderSize) return E_UNEXPECTED;

    try {
        std::vector<uint8_t> header(static_cast<size_t>(headerSize));
        if (!ReadAt(f.get(), 0, header.data(), header.size())) return E_UNEXPECTED;
        uint64_t fileProps = 0;
        for (uint64_t at = kHeaderObjectFixedSize; at + kObjectHeaderSize <= headerSize;) {
            const uint64_t size = Read64(&header[at + 16]);
            if (size < kObjectHeaderSize || size > headerSize - at) return E_UNEXPECTED;
            if (std::memcmp(&header[at], kFilePropertiesGuid, 16) == 0 &&
                size >= kFilePropertiesSize) {
                fileProps = at;
                break;
            }
            at += size;
        }
        if (fileProps == 0) return E_UNEXPECTED;
        const uint8_t* fp = &header[fileProps];
        if (Read64(fp + kFpPreroll) != prerollMs || Read32(fp + kFpMinPacket) != packetSize ||
            Read32(fp + kFpMaxPacket) != packetSize) {
            return E_UNEXPECTED;
        }

        uint8_t data[kDataObjectFixedSize];
        if (!ReadAt(f.get(), headerSize, data, sizeof data) ||
            std::memcmp(data, kDataGuid, 16) != 0 ||
            headerSize + kDataObjectFixedSize != firstPacketOffset) {
            return E_UNEXPECTED;
        }
        const uint64_t end = headerSize + Read64(data + 16);
        if (fseeko(f.get(), 0, SEEK_END) != 0 || static_cast<uint64_t>(ftello(f.get())) != end) {
            return E_UNEXPECTED;
        }

        const std::vector<uint8_t> object = BuildIndexObject(index, streamNumber, packetSize);
        uint8_t newSize[8];
        for (int i = 0; i < 8; ++i)
            newSize[i] = static_cast<uint8_t>((end + object.size()) >> (8 * i));
        errno = 0;
        if (!WriteAt(f.get(), end, object.data(), object.size()) ||
            !WriteAt(f.get(), fileProps + kFpFileSize, newSize, sizeof newSize) ||
            std::fflush(f.get()) != 0) {
            return WriteFailure();
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    errno = 0;
    if (std::fclose(f.release()) != 0) return WriteFailure();
    return S_OK;
}

}  // namespace ffsdk
