// SPDX-License-Identifier: MIT
#include "asf/asf_header.h"

#include <algorithm>
#include <utility>

#include "asf/object_io.h"
#include "wave_format.h"

namespace asf {
namespace {

constexpr size_t kStreamPropsFixedSize = 54;

uint32_t Clamp32(uint64_t v) {
    return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
}

}  // namespace

// ---------------------------------------------------------------- parsing

ffsdk::Result Header::Parse(const uint8_t* data, size_t len) {
    Header h;
    const ffsdk::Result parsed =
        data ? h.ParseHeader(data, len, len) : wm::NS_E_INVALID_INPUT_FORMAT;
    *this = parsed ? std::move(h) : Header();
    return parsed;
}

// Every object this module decodes fails for one reason, that it does not
// hold what it announces: the result says so here, once.
ffsdk::Result Header::ParseHeader(const uint8_t* data, size_t len, uint64_t totalSize) {
    constexpr HRESULT kMalformed = wm::NS_E_INVALID_INPUT_FORMAT;
    if (len < kHeaderFixedSize || ReadGuid(data) != kHeaderGuid) return kMalformed;
    const uint64_t size64 = wm::ReadLe64(data + 16);
    if (size64 < kHeaderFixedSize || size64 > len || size64 > kMaxHeaderSize || totalSize < len) {
        return kMalformed;
    }
    const size_t size = static_cast<size_t>(size64);
    headerReserved_ = {{data[28], data[29]}};

    const uint8_t* children = data + kHeaderFixedSize;
    const bool ok =
        ForEachObject(children, size - kHeaderFixedSize,
                      [&](const GuidBytes& id, const uint8_t* object, size_t objectSize) {
                          return ParseObject(id, object, objectSize);
                      });
    if (!ok || !hasFileProps_) return kMalformed;
    ResolveBitrates();

    // What follows the header: nothing (a header on its own) or the Data
    // Object.
    if (len > size && !ParseDataObject(data + size, len - size, totalSize - size64)) {
        return kMalformed;
    }

    original_.assign(data, data + size);
    headerSize_ = size64;
    tailSize_ = totalSize - size64;
    valid_ = true;
    RebuildAttributes();
    return S_OK;
}

bool Header::ParseObject(const GuidBytes& id, const uint8_t* object, size_t size) {
    const uint8_t* body = object + kObjectHeaderSize;
    const size_t bodySize = size - kObjectHeaderSize;
    Object o;
    o.raw.assign(object, object + size);
    // Only the first object of each decoded kind is decoded; a repeated one
    // is kept as it is.
    if (id == kFilePropsGuid && !hasFileProps_) {
        if (!ParseFileProperties(body, bodySize, &props_)) return false;
        hasFileProps_ = true;
        o.slot = Slot::FileProps;
    } else if (id == kStreamPropsGuid) {
        if (!ParseStream(body, bodySize)) return false;
    } else if (id == kBitratePropsGuid && !hasBitrates_) {
        if (!ParseBitrates(body, bodySize)) return false;
    } else if (id == kContentDescGuid && !tags_.content().present) {
        if (!ParseContentDescription(body, bodySize, &tags_.content())) return false;
        o.slot = Slot::ContentDesc;
    } else if (id == kExtContentDescGuid && !tags_.extended().present) {
        if (!ParseRecords(body, bodySize, &tags_.extended())) return false;
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
    return anyAudio ? Clamp32(sum) : props_.maxBitrate;
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
            return tags_.content().dirty || o.raw.empty();
        case Slot::ExtContentDesc:
            return tags_.extended().dirty || o.raw.empty();
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
            n += ContentDescriptionSize(tags_.content());
        } else if (o.slot == Slot::ExtContentDesc) {
            n += RecordsSize(tags_.extended());
        } else {
            n += headerExt_.size();
        }
    }
    return n;
}

ffsdk::Result Header::FitTo(uint64_t size) {
    if (!valid_) return wm::NS_E_INVALID_REQUEST;
    headerExt_.SetPadding(0);
    AddNewObjects();
    const uint64_t bare = SerializedSize();
    if (bare == size) return S_OK;
    if (bare + kObjectHeaderSize > size) return wm::ASF_E_BUFFERTOOSMALL;
    headerExt_.SetPadding(size - bare);
    return S_OK;
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
            EncodeContentDescription(tags_.content(), &out);
        } else if (o.slot == Slot::ExtContentDesc) {
            EncodeRecords(tags_.extended(), &out);
        } else {
            headerExt_.Encode(&out);
        }
    }
    EndObject(&out, start);
    wm::StoreLe(out.data() + fileSizeAt, out.size() + tailSize_, 8);
    wm::StoreLe(out.data() + fileSizeAt + kFilePropsPlayDurationFromFileSize, props_.playDuration,
                8);
    return out;
}

// ---------------------------------------------------------------- editing

void Header::RebuildAttributes() {
    tags_.Rebuild({Attribute::Number(u"Duration", wm::WMT_TYPE_QWORD, duration()),
                   Attribute::Number(u"Bitrate", wm::WMT_TYPE_DWORD, bitrate()),
                   Attribute::Number(u"Seekable", wm::WMT_TYPE_BOOL, IsSeekable(props_)),
                   Attribute::Number(u"Broadcast", wm::WMT_TYPE_BOOL, IsBroadcast(props_)),
                   Attribute::Number(u"FileSize", wm::WMT_TYPE_QWORD, props_.fileSize)},
                  headerExt_);
}

void Header::AddNewObjects() {
    const std::pair<Slot, bool> pieces[] = {{Slot::ContentDesc, tags_.content().present},
                                            {Slot::ExtContentDesc, tags_.extended().present},
                                            {Slot::HeaderExt, headerExt_.present()}};
    for (const auto& piece : pieces) {
        const Slot slot = piece.first;
        const bool placed = std::any_of(objects_.begin(), objects_.end(),
                                        [&](const Object& o) { return o.slot == slot; });
        if (piece.second && !placed) objects_.push_back(Object{slot, {}});
    }
}

ffsdk::Result Header::Set(std::u16string_view name, wm::WMT_ATTR_DATATYPE type, const uint8_t* data,
                          size_t len) {
    if (!valid_) return wm::NS_E_INVALID_REQUEST;
    const ffsdk::Result named = Tags::CheckName(name);
    if (!named) return named;
    // Keep the edited header within what ReadFile accepts.
    if (len > kMaxHeaderSize || SerializedSize() + len + name.size() * 2 + 256 > kMaxHeaderSize) {
        return E_INVALIDARG;
    }
    Attribute value;
    const ffsdk::Result made = Attribute::Make(name, type, data, len, &value);
    if (!made) return made;
    const ffsdk::Result set = tags_.Set(value, headerExt_);
    AddNewObjects();
    RebuildAttributes();
    return set;
}

ffsdk::Result Header::Remove(std::u16string_view name) {
    if (!valid_) return wm::NS_E_INVALID_REQUEST;
    const ffsdk::Result removed = tags_.Remove(name, headerExt_);
    RebuildAttributes();
    return removed;
}

}  // namespace asf
