// SPDX-License-Identifier: MIT
#include "encode/asf_index.h"

#include <sys/types.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>

#include "asf/asf_header.h"
#include "asf/object_io.h"

namespace ffsdk {
namespace {

// Index type "nearest past data packet".
constexpr uint16_t kIndexNearestPastPacket = 1;

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

bool WriteAt(FILE* f, uint64_t at, const void* buf, size_t len) {
    return fseeko(f, static_cast<off_t>(at), SEEK_SET) == 0 && std::fwrite(buf, 1, len, f) == len;
}

Result WriteFailure() {
    return errno != 0 ? wm::ResultFromErrno(errno) : Result(E_FAIL);
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

    std::vector<uint8_t> out;
    const size_t start = asf::BeginObject(&out, asf::kIndexGuid);
    wm::AppendLe32(&out, index.intervalMs());
    wm::AppendLe16(&out, 1);  // index specifiers
    wm::AppendLe32(&out, static_cast<uint32_t>(blocks.size()));
    wm::AppendLe16(&out, streamNumber);
    wm::AppendLe16(&out, kIndexNearestPastPacket);
    for (const Block& b : blocks) {
        wm::AppendLe32(&out, static_cast<uint32_t>(b.count));
        wm::AppendLe64(&out, b.position);
        for (size_t i = b.first; i < b.first + b.count; ++i) {
            wm::AppendLe32(&out,
                           static_cast<uint32_t>(uint64_t{entries[i]} * packetSize - b.position));
        }
    }
    asf::EndObject(&out, start);
    return out;
}

}  // namespace

bool AsfIndexBuilder::FillBefore(uint64_t timeMs, bool inclusive) {
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

bool AsfIndexBuilder::AddPayload(uint64_t presMs, uint32_t packet) {
    if (!FillBefore(presMs, false)) return false;
    lastPacket_ = packet;
    return true;
}

bool AsfIndexBuilder::Finish(uint64_t endMs) {
    return FillBefore(endMs, true);
}

Result AppendAsfIndex(const char* path, const AsfIndexBuilder& index, uint16_t streamNumber,
                      uint64_t firstPacketOffset, uint32_t packetSize, uint64_t prerollMs,
                      uint64_t playDuration) {
    errno = 0;
    File f(std::fopen(path, "r+b"));
    if (!f) return WriteFailure();

    try {
        // The header as the muxer left it; the file must end with the Data
        // Object, laid out as the index was computed.
        asf::Header header;
        if (!header.ReadFile(path).ok()) return E_UNEXPECTED;
        const asf::FileProperties& props = header.properties();
        if (props.prerollMs != prerollMs || props.minPacketSize != packetSize ||
            props.maxPacketSize != packetSize || header.firstPacketOffset() != firstPacketOffset) {
            return E_UNEXPECTED;
        }
        const uint64_t end = header.headerSize() + header.dataObjectSize();
        if (fseeko(f.get(), 0, SEEK_END) != 0 || static_cast<uint64_t>(ftello(f.get())) != end) {
            return E_UNEXPECTED;
        }

        const std::vector<uint8_t> object = BuildIndexObject(index, streamNumber, packetSize);
        errno = 0;
        if (!WriteAt(f.get(), end, object.data(), object.size()) || std::fflush(f.get()) != 0) {
            return WriteFailure();
        }
        // The header again, now that the file has its length: the room kept
        // for tags becomes padding, and the file size is set.
        asf::Header finished;
        if (!finished.ReadFile(path).ok()) return E_UNEXPECTED;
        const Result removed = finished.Remove(kTagRoomName16);
        if (!removed) return removed;
        finished.SetPlayDuration(playDuration);
        const Result fitted = finished.FitTo(finished.headerSize());
        if (!fitted) return fitted;
        const std::vector<uint8_t> head = finished.Serialize();
        errno = 0;
        if (!WriteAt(f.get(), 0, head.data(), head.size()) || std::fflush(f.get()) != 0) {
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
