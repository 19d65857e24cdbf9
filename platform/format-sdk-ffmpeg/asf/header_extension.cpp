// SPDX-License-Identifier: MIT
#include "asf/header_extension.h"

#include "asf/object_io.h"

namespace asf {
namespace {

constexpr size_t kFixedSize = 22;  // reserved GUID, reserved WORD, data size
// Extended Stream Properties up to its stream names: times, bitrates and
// buffers, flags, stream number, language, frame time, the two counts.
constexpr size_t kExtStreamFixedSize = 64;

// Reads an Extended Stream Properties body; false when it is too short for
// what it announces.
bool ParseExtendedStream(const uint8_t* p, size_t n, ExtendedStream* stream) {
    if (n < kExtStreamFixedSize) return false;
    stream->dataBitrate = wm::ReadLe32(p + 16);
    stream->number = wm::ReadLe16(p + 48) & 0x7F;
    const size_t names = wm::ReadLe16(p + 60);
    const size_t systems = wm::ReadLe16(p + 62);
    size_t pos = kExtStreamFixedSize;
    for (size_t i = 0; i < names; ++i) {
        if (n - pos < 4) return false;
        const size_t length = wm::ReadLe16(p + pos + 2);
        if (length > n - pos - 4) return false;
        pos += 4 + length;
    }
    for (size_t i = 0; i < systems; ++i) {
        if (n - pos < 22) return false;
        const uint64_t length = wm::ReadLe32(p + pos + 18);
        if (length > n - pos - 22) return false;
        pos += 22 + static_cast<size_t>(length);
    }
    // What follows, if anything, is the stream's Stream Properties object.
    if (n - pos >= kObjectHeaderSize && ReadGuid(p + pos) == kStreamPropsGuid) {
        const uint64_t size = wm::ReadLe64(p + pos + 16);
        if (size < kObjectHeaderSize || size > n - pos) return false;
        stream->streamProps.assign(p + pos + kObjectHeaderSize, p + pos + size);
    }
    return stream->number != 0;
}

}  // namespace

bool ParseExclusion(const uint8_t* body, size_t n, std::vector<uint16_t>* streams) {
    if (n < 18) return false;
    const size_t count = wm::ReadLe16(body + 16);
    if (count * 2 > n - 18) return false;
    streams->clear();
    for (size_t i = 0; i < count; ++i) streams->push_back(wm::ReadLe16(body + 18 + i * 2) & 0x7F);
    return true;
}

bool HeaderExtension::Parse(const uint8_t* body, size_t n) {
    if (n < kFixedSize) return false;
    const uint64_t dataSize = wm::ReadLe32(body + 18);
    if (dataSize > n - kFixedSize) return false;
    fixed_.assign(body, body + 18);
    const uint8_t* data = body + kFixedSize;
    const size_t dataLength = static_cast<size_t>(dataSize);
    trailing_.assign(data + dataLength, body + n);
    const bool ok = ForEachObject(
        data, dataLength, [&](const GuidBytes& id, const uint8_t* object, size_t size) {
            // Padding only takes up room: what is kept is how much.
            if (id == kPaddingGuid) {
                padding_ += size;
                return true;
            }
            Inner o;
            o.raw.assign(object, object + size);
            const uint8_t* objectBody = object + kObjectHeaderSize;
            // Only the first object of each decoded kind is decoded; a repeated
            // one is kept as it is.
            if (id == kMetadataGuid && !metadata_.present) {
                if (!ParseRecords(objectBody, size - kObjectHeaderSize, &metadata_)) return false;
                o.slot = Slot::Metadata;
            } else if (id == kMetadataLibraryGuid && !metadataLibrary_.present) {
                if (!ParseRecords(objectBody, size - kObjectHeaderSize, &metadataLibrary_))
                    return false;
                o.slot = Slot::MetadataLibrary;
            } else if (id == kExtStreamPropsGuid) {
                ExtendedStream stream;
                if (ParseExtendedStream(objectBody, size - kObjectHeaderSize, &stream))
                    extendedStreams_.push_back(std::move(stream));
            } else if (id == kAdvancedMutexGuid) {
                std::vector<uint16_t> streams;
                if (ParseExclusion(objectBody, size - kObjectHeaderSize, &streams))
                    exclusions_.push_back(std::move(streams));
            }
            objects_.push_back(std::move(o));
            return true;
        });
    if (!ok) return false;
    present_ = true;
    return true;
}

const RecordList* HeaderExtension::ListOf(const Inner& o) const {
    return o.slot == Slot::Metadata          ? &metadata_
           : o.slot == Slot::MetadataLibrary ? &metadataLibrary_
                                             : nullptr;
}

uint64_t HeaderExtension::size() const {
    uint64_t n = kObjectHeaderSize + kFixedSize + trailing_.size() + padding_;
    for (const Inner& o : objects_) {
        const RecordList* list = ListOf(o);
        n += list && (list->dirty || o.raw.empty()) ? RecordsSize(*list) : o.raw.size();
    }
    return n;
}

void HeaderExtension::Encode(std::vector<uint8_t>* out) const {
    const size_t start = BeginObject(out, kHeaderExtGuid);
    AppendBytes(out, fixed_);
    wm::AppendLe32(out, 0);
    const size_t dataStart = out->size();
    for (const Inner& o : objects_) {
        const RecordList* list = ListOf(o);
        if (list && (list->dirty || o.raw.empty())) {
            EncodeRecords(*list, out);
        } else {
            AppendBytes(out, o.raw);
        }
    }
    if (padding_ >= kObjectHeaderSize) {
        const size_t padding = BeginObject(out, kPaddingGuid);
        out->resize(out->size() + static_cast<size_t>(padding_ - kObjectHeaderSize), 0);
        EndObject(out, padding);
    }
    wm::StoreLe(out->data() + dataStart - 4, out->size() - dataStart, 4);
    AppendBytes(out, trailing_);
    EndObject(out, start);
}

void HeaderExtension::EnsurePresent() {
    if (present_) return;
    fixed_.assign(kHeaderExtReservedGuid.begin(), kHeaderExtReservedGuid.end());
    wm::AppendLe16(&fixed_, 6);
    present_ = true;
}

void HeaderExtension::SetPadding(uint64_t bytes) {
    EnsurePresent();
    padding_ = bytes;
    dirty_ = true;
}

RecordList& HeaderExtension::EnsureMetadataLibrary() {
    EnsurePresent();
    if (!metadataLibrary_.present) {
        Inner o;
        o.slot = Slot::MetadataLibrary;
        objects_.push_back(std::move(o));
        metadataLibrary_.present = true;
    }
    dirty_ = true;
    return metadataLibrary_;
}

}  // namespace asf
