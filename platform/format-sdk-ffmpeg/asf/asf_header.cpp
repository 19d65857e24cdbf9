// SPDX-License-Identifier: MIT
#include "asf/asf_header.h"

#include <utility>

#include "asf/object_io.h"
#include "wave_format.h"

namespace asf {
namespace {

constexpr size_t kFilePropsBodySize = 80;
constexpr size_t kStreamPropsFixedSize = 54;

uint32_t Clamp32(uint64_t v) {
    return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
}

}  // namespace

// ---------------------------------------------------------------- parsing

bool Header::Parse(const uint8_t* data, size_t len) {
    Header h;
    if (data && h.ParseHeader(data, len, len)) {
        *this = std::move(h);
        return true;
    }
    *this = Header();
    return false;
}

bool Header::ParseHeader(const uint8_t* data, size_t len, uint64_t totalSize) {
    if (len < kHeaderFixedSize || ReadGuid(data) != kHeaderGuid) return false;
    const uint64_t size64 = wm::ReadLe64(data + 16);
    if (size64 < kHeaderFixedSize || size64 > len || size64 > kMaxHeaderSize || totalSize < len) {
        return false;
    }
    const size_t size = static_cast<size_t>(size64);
    headerReserved_ = {{data[28], data[29]}};

    const uint8_t* children = data + kHeaderFixedSize;
    const bool ok =
        ForEachObject(children, size - kHeaderFixedSize,
                      [&](const GuidBytes& id, const uint8_t* object, size_t objectSize) {
                          return ParseObject(id, object, objectSize);
                      });
    if (!ok || !hasFileProps_) return false;
    ResolveBitrates();

    // What follows the header: nothing (a header on its own) or the Data
    // Object.
    if (len > size && !ParseDataObject(data + size, len - size, totalSize - size64)) return false;

    original_.assign(data, data + size);
    headerSize_ = size64;
    tailSize_ = totalSize - size64;
    valid_ = true;
    RebuildAttributes();
    return true;
}

bool Header::ParseObject(const GuidBytes& id, const uint8_t* object, size_t size) {
    const uint8_t* body = object + kObjectHeaderSize;
    const size_t bodySize = size - kObjectHeaderSize;
    Object o;
    o.raw.assign(object, object + size);
    // Only the first object of each decoded kind is decoded; a repeated one
    // is kept as it is.
    if (id == kFilePropsGuid && !hasFileProps_) {
        if (!ParseFileProps(body, bodySize)) return false;
        o.slot = Slot::FileProps;
    } else if (id == kStreamPropsGuid) {
        if (!ParseStream(body, bodySize)) return false;
    } else if (id == kBitratePropsGuid && !hasBitrates_) {
        if (!ParseBitrates(body, bodySize)) return false;
    } else if (id == kContentDescGuid && !contentDesc_.present) {
        if (!ParseContentDescription(body, bodySize, &contentDesc_)) return false;
        o.slot = Slot::ContentDesc;
    } else if (id == kExtContentDescGuid && !extContentDesc_.present) {
        if (!ParseRecords(body, bodySize, &extContentDesc_)) return false;
        o.slot = Slot::ExtContentDesc;
    } else if (id == kHeaderExtGuid && !headerExt_.present()) {
        if (!headerExt_.Parse(body, bodySize)) return false;
        o.slot = Slot::HeaderExt;
        // A stream declared only here is a stream like the others; one that
        // cannot be read is left out, as it takes no tags with it.
        for (const ExtendedStream& stream : headerExt_.extendedStreams()) {
            if (!stream.streamProps.empty())
                (void)ParseStream(stream.streamProps.data(), stream.streamProps.size());
        }
        exclusions_.insert(exclusions_.end(), headerExt_.exclusions().begin(),
                           headerExt_.exclusions().end());
    } else if (id == kBitrateMutexGuid) {
        std::vector<uint16_t> streams;
        if (ParseExclusion(body, bodySize, &streams)) exclusions_.push_back(std::move(streams));
    } else if (id == kContentEncryptionGuid || id == kExtContentEncryptionGuid) {
        contentEncrypted_ = true;
    }
    objects_.push_back(std::move(o));
    return true;
}

bool Header::ParseFileProps(const uint8_t* p, size_t n) {
    if (n < kFilePropsBodySize) return false;
    fileId_ = ReadGuid(p);
    fileSize_ = wm::ReadLe64(p + 16);
    creationDate_ = wm::ReadLe64(p + 24);
    dataPacketCount_ = wm::ReadLe64(p + 32);
    playDuration_ = wm::ReadLe64(p + 40);
    sendDuration_ = wm::ReadLe64(p + 48);
    prerollMs_ = wm::ReadLe64(p + 56);
    flags_ = wm::ReadLe32(p + 64);
    minPacketSize_ = wm::ReadLe32(p + 68);
    maxPacketSize_ = wm::ReadLe32(p + 72);
    maxBitrate_ = wm::ReadLe32(p + 76);
    hasFileProps_ = true;
    return true;
}

bool Header::ParseStream(const uint8_t* p, size_t n) {
    if (n < kStreamPropsFixedSize) return false;
    Stream s;
    s.typeGuid = ReadGuid(p);
    s.errorCorrectionGuid = ReadGuid(p + 16);
    s.timeOffset = wm::ReadLe64(p + 32);
    const uint64_t typeSpecificLength = wm::ReadLe32(p + 40);
    const uint64_t errorCorrectionLength = wm::ReadLe32(p + 44);
    const uint16_t flags = wm::ReadLe16(p + 48);
    if (typeSpecificLength + errorCorrectionLength > n - kStreamPropsFixedSize) return false;
    s.number = flags & 0x7F;
    if (s.number == 0) return false;
    if (StreamByNumber(s.number) != nullptr) return true;  // declared before
    s.encrypted = (flags & 0x8000) != 0;
    s.kind = s.typeGuid == kAudioStreamGuid   ? StreamKind::Audio
             : s.typeGuid == kVideoStreamGuid ? StreamKind::Video
                                              : StreamKind::Other;
    const uint8_t* ts = p + kStreamPropsFixedSize;
    s.typeSpecific.assign(ts, ts + typeSpecificLength);
    s.errorCorrection.assign(ts + typeSpecificLength,
                             ts + typeSpecificLength + errorCorrectionLength);
    streams_.push_back(std::move(s));
    return true;
}

bool Header::ParseBitrates(const uint8_t* p, size_t n) {
    if (n < 2) return false;
    const size_t count = wm::ReadLe16(p);
    if (count * 6 > n - 2) return false;
    uint64_t sum = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t rate = wm::ReadLe32(p + 2 + i * 6 + 2);
        streamBitrates_.emplace_back(wm::ReadLe16(p + 2 + i * 6) & 0x7F, rate);
        sum += rate;
    }
    hasBitrates_ = true;
    bitrateSum_ = sum;
    return true;
}

bool Header::ParseDataObject(const uint8_t* p, size_t n, uint64_t available) {
    if (n < kDataObjectFixedSize || ReadGuid(p) != kDataGuid) return false;
    const uint64_t stored = wm::ReadLe64(p + 16);
    if (stored != 0 && stored < kDataObjectFixedSize) return false;
    hasData_ = true;
    dataSize_ = (stored == 0 || stored > available) ? available : stored;
    return true;
}

void Header::ResolveBitrates() {
    for (Stream& s : streams_) {
        s.bitrate = 0;
        for (const auto& record : streamBitrates_) {
            if (s.bitrate == 0 && record.first == s.number) s.bitrate = record.second;
        }
        for (const ExtendedStream& e : headerExt_.extendedStreams()) {
            if (s.bitrate == 0 && e.number == s.number) s.bitrate = e.dataBitrate;
        }
        wm::WaveFormat wf;
        if (s.bitrate == 0 && s.kind == StreamKind::Audio &&
            wm::ReadWaveFormat(s.typeSpecific.data(), s.typeSpecific.size(), &wf, 12)) {
            s.bitrate = Clamp32(uint64_t{wf.avgBytesPerSec} * 8);
        }
    }
}

// ------------------------------------------------------------- properties

uint64_t Header::duration() const {
    // Preroll is in milliseconds, play duration in 100 ns and includes it.
    if (prerollMs_ > playDuration_ / 10000) return 0;
    return playDuration_ - prerollMs_ * 10000;
}

uint32_t Header::bitrate() const {
    if (hasBitrates_) return Clamp32(bitrateSum_);
    uint64_t sum = 0;
    bool anyAudio = false;
    for (const Stream& s : streams_) {
        // Reaching nAvgBytesPerSec is enough.
        wm::WaveFormat wf;
        if (s.kind != StreamKind::Audio ||
            !wm::ReadWaveFormat(s.typeSpecific.data(), s.typeSpecific.size(), &wf, 12)) {
            continue;
        }
        anyAudio = true;
        sum += uint64_t{wf.avgBytesPerSec} * 8;
    }
    return anyAudio ? Clamp32(sum) : maxBitrate_;
}

const Stream* Header::StreamByNumber(uint16_t number) const {
    for (const Stream& s : streams_) {
        if (s.number == number) return &s;
    }
    return nullptr;
}

// ---------------------------------------------------------- serialization

bool Header::Rewritten(const Object& o) const {
    switch (o.slot) {
        case Slot::ContentDesc:
            return contentDesc_.dirty || o.raw.empty();
        case Slot::ExtContentDesc:
            return extContentDesc_.dirty || o.raw.empty();
        case Slot::HeaderExt:
            return headerExt_.dirty() || o.raw.empty();
        default:
            return false;
    }
}

uint64_t Header::SerializedSize() const {
    uint64_t n = kHeaderFixedSize;
    for (const Object& o : objects_) {
        if (!Rewritten(o)) {
            n += o.raw.size();
        } else if (o.slot == Slot::ContentDesc) {
            n += ContentDescriptionSize(contentDesc_);
        } else if (o.slot == Slot::ExtContentDesc) {
            n += RecordsSize(extContentDesc_);
        } else {
            n += headerExt_.size();
        }
    }
    return n;
}

bool Header::FitTo(uint64_t size) {
    if (!valid_) return false;
    if (!headerExt_.present()) AddObject(Slot::HeaderExt);
    headerExt_.SetPadding(0);
    const uint64_t bare = SerializedSize();
    if (bare == size) return true;
    if (bare + kObjectHeaderSize > size) return false;
    headerExt_.SetPadding(size - bare);
    return true;
}

std::vector<uint8_t> Header::Serialize() const {
    std::vector<uint8_t> out;
    if (!valid_) return out;
    out.reserve(static_cast<size_t>(SerializedSize()));
    const size_t start = BeginObject(&out, kHeaderGuid);
    wm::AppendLe32(&out, static_cast<uint32_t>(objects_.size()));
    out.push_back(headerReserved_[0]);
    out.push_back(headerReserved_[1]);
    size_t fileSizeAt = 0;
    for (const Object& o : objects_) {
        if (o.slot == Slot::FileProps) fileSizeAt = out.size() + kFilePropsFileSizeAt;
        if (!Rewritten(o)) {
            AppendBytes(&out, o.raw);
        } else if (o.slot == Slot::ContentDesc) {
            EncodeContentDescription(contentDesc_, &out);
        } else if (o.slot == Slot::ExtContentDesc) {
            EncodeRecords(extContentDesc_, &out);
        } else {
            headerExt_.Encode(&out);
        }
    }
    EndObject(&out, start);
    wm::StoreLe(out.data() + fileSizeAt, out.size() + tailSize_, 8);
    wm::StoreLe(out.data() + fileSizeAt + kFilePropsPlayDurationFromFileSize, playDuration_, 8);
    return out;
}

}  // namespace asf
