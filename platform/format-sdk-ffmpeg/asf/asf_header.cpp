#include "asf/asf_header.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "wave_format.h"

namespace asf {
namespace {

// GUIDs as written in text (Data1-Data2-Data3-Data4), stored with the first
// three fields little-endian.
constexpr GuidBytes makeGuid(uint32_t d1, uint16_t d2, uint16_t d3, uint8_t a, uint8_t b, uint8_t c,
                             uint8_t d, uint8_t e, uint8_t f, uint8_t g, uint8_t h) {
    return GuidBytes{
        {static_cast<uint8_t>(d1), static_cast<uint8_t>(d1 >> 8), static_cast<uint8_t>(d1 >> 16),
         static_cast<uint8_t>(d1 >> 24), static_cast<uint8_t>(d2), static_cast<uint8_t>(d2 >> 8),
         static_cast<uint8_t>(d3), static_cast<uint8_t>(d3 >> 8), a, b, c, d, e, f, g, h}};
}

constexpr GuidBytes kHeaderGuid =
    makeGuid(0x75B22630, 0x668E, 0x11CF, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C);
constexpr GuidBytes kDataGuid =
    makeGuid(0x75B22636, 0x668E, 0x11CF, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C);
constexpr GuidBytes kFilePropsGuid =
    makeGuid(0x8CABDCA1, 0xA947, 0x11CF, 0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65);
constexpr GuidBytes kStreamPropsGuid =
    makeGuid(0xB7DC0791, 0xA9B7, 0x11CF, 0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65);
constexpr GuidBytes kHeaderExtGuid =
    makeGuid(0x5FBF03B5, 0xA92E, 0x11CF, 0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65);
constexpr GuidBytes kHeaderExtReservedGuid =
    makeGuid(0xABD3D211, 0xA9BA, 0x11CF, 0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65);
constexpr GuidBytes kContentDescGuid =
    makeGuid(0x75B22633, 0x668E, 0x11CF, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C);
constexpr GuidBytes kExtContentDescGuid =
    makeGuid(0xD2D0A440, 0xE307, 0x11D2, 0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50);
constexpr GuidBytes kBitratePropsGuid =
    makeGuid(0x7BF875CE, 0x468D, 0x11D1, 0x8D, 0x82, 0x00, 0x60, 0x97, 0xC9, 0xA2, 0xB2);
constexpr GuidBytes kMetadataGuid =
    makeGuid(0xC5F8CBEA, 0x5BAF, 0x4877, 0x84, 0x67, 0xAA, 0x8C, 0x44, 0xFA, 0x4C, 0xCA);
constexpr GuidBytes kMetadataLibraryGuid =
    makeGuid(0x44231C94, 0x9498, 0x49D1, 0xA1, 0x41, 0x1D, 0x13, 0x4E, 0x45, 0x70, 0x54);
constexpr GuidBytes kAudioStreamGuid =
    makeGuid(0xF8699E40, 0x5B4D, 0x11CF, 0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B);
constexpr GuidBytes kVideoStreamGuid =
    makeGuid(0xBC19EFC0, 0x5B4D, 0x11CF, 0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B);

constexpr size_t kObjectHeader = 24;     // GUID + QWORD size
constexpr size_t kHeaderFixed = 30;      // header object up to its first child
constexpr size_t kDataObjectFixed = 50;  // data object up to its first packet
constexpr size_t kFilePropsBody = 80;
constexpr size_t kStreamPropsFixed = 54;
constexpr size_t kHeaderExtFixed = 22;  // reserved GUID, reserved WORD, data size
constexpr uint32_t kMaxWord = 0xFFFF;

// The names Content Description holds, in its field order.
constexpr std::u16string_view kContentNames[5] = {u"Title", u"Author", u"Copyright", u"Description",
                                                  u"Rating"};
constexpr std::u16string_view kReadOnlyNames[5] = {u"Duration", u"Bitrate", u"Seekable",
                                                   u"Broadcast", u"FileSize"};

uint16_t rd16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t rd32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t rd64(const uint8_t* p) {
    return static_cast<uint64_t>(rd32(p)) | (static_cast<uint64_t>(rd32(p + 4)) << 32);
}
GuidBytes rdGuid(const uint8_t* p) {
    GuidBytes g;
    std::memcpy(g.data(), p, g.size());
    return g;
}

void put16(std::vector<uint8_t>* out, uint32_t v) {
    out->push_back(static_cast<uint8_t>(v));
    out->push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>* out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}
void put64(std::vector<uint8_t>* out, uint64_t v) {
    put32(out, static_cast<uint32_t>(v));
    put32(out, static_cast<uint32_t>(v >> 32));
}
void putBytes(std::vector<uint8_t>* out, const std::vector<uint8_t>& bytes) {
    out->insert(out->end(), bytes.begin(), bytes.end());
}
void putGuid(std::vector<uint8_t>* out, const GuidBytes& g) {
    out->insert(out->end(), g.begin(), g.end());
}
void patch32(std::vector<uint8_t>* out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) (*out)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void patch64(std::vector<uint8_t>* out, size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i) (*out)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Name bytes up to the first 0 character; an odd trailing byte is ignored.
std::u16string decodeName(const uint8_t* p, size_t n) {
    std::u16string s;
    for (size_t i = 0; i + 1 < n; i += 2) {
        char16_t c = static_cast<char16_t>(rd16(p + i));
        if (c == 0) break;
        s.push_back(c);
    }
    return s;
}

std::vector<uint8_t> encodeName(std::u16string_view name) {
    std::vector<uint8_t> out;
    out.reserve((name.size() + 1) * 2);
    for (char16_t c : name) put16(&out, c);
    put16(&out, 0);
    return out;
}

// A stored string as handed out: whole UTF-16 units, ending in a 0 unit.
std::vector<uint8_t> terminatedString(const uint8_t* p, size_t n) {
    std::vector<uint8_t> v(p, p + (n & ~static_cast<size_t>(1)));
    if (v.empty() || v[v.size() - 1] != 0 || v[v.size() - 2] != 0) {
        v.push_back(0);
        v.push_back(0);
    }
    return v;
}

bool equalsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x - u'A' + u'a');
        if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y - u'A' + u'a');
        if (x != y) return false;
    }
    return true;
}

uint32_t clamp32(uint64_t v) {
    return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
}

// A file descriptor closed when it goes out of scope.
class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    // Closes and reports whether the close succeeded (it can report a
    // failed write-back on some file systems).
    bool close() {
        int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

  private:
    int fd_;
};

bool preadAll(int fd, uint8_t* buf, size_t n, uint64_t offset) {
    while (n > 0) {
        ssize_t r = ::pread(fd, buf, n, static_cast<off_t>(offset));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        buf += r;
        n -= static_cast<size_t>(r);
        offset += static_cast<uint64_t>(r);
    }
    return true;
}

// Why the last file call failed; the write itself when errno says nothing.
ffsdk::Result FileFailure() {
    return errno != 0 ? ffsdk::ResultFromErrno(errno) : ffsdk::Result(wm::NS_E_FILE_WRITE);
}

bool writeAll(int fd, const uint8_t* buf, size_t n) {
    while (n > 0) {
        ssize_t r = ::write(fd, buf, n);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        buf += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------- parsing

bool Header::parse(const uint8_t* data, size_t len) {
    Header h;
    if (data && h.parseHeader(data, len, len)) {
        *this = std::move(h);
        return true;
    }
    *this = Header();
    return false;
}

ffsdk::Result Header::readFile(const std::string& path) {
    *this = Header();
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused below.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.ok()) {
        return errno == ENOENT || errno == ENOTDIR ? wm::NS_E_FILE_NOT_FOUND
                                                   : wm::NS_E_FILE_OPEN_FAILED;
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return wm::NS_E_FILE_OPEN_FAILED;
    const uint64_t file_size = static_cast<uint64_t>(st.st_size);
    uint8_t fixed[kHeaderFixed];
    if (file_size < kHeaderFixed || !preadAll(fd.get(), fixed, sizeof fixed, 0)) {
        return wm::NS_E_INVALID_INPUT_FORMAT;
    }
    if (rdGuid(fixed) != kHeaderGuid) return wm::NS_E_INVALID_INPUT_FORMAT;
    const uint64_t header_size = rd64(fixed + 16);
    if (header_size < kHeaderFixed || header_size > kMaxHeaderSize || header_size > file_size ||
        file_size - header_size < kDataObjectFixed) {
        return wm::NS_E_INVALID_INPUT_FORMAT;
    }
    std::vector<uint8_t> buf(static_cast<size_t>(header_size) + kDataObjectFixed);
    if (!preadAll(fd.get(), buf.data(), buf.size(), 0)) return wm::NS_E_INVALID_INPUT_FORMAT;
    Header h;
    if (!h.parseHeader(buf.data(), buf.size(), file_size) || !h.has_data_) {
        return wm::NS_E_INVALID_INPUT_FORMAT;
    }
    *this = std::move(h);
    return S_OK;
}

bool Header::parseHeader(const uint8_t* data, size_t len, uint64_t total_size) {
    if (len < kHeaderFixed || rdGuid(data) != kHeaderGuid) return false;
    const uint64_t size64 = rd64(data + 16);
    if (size64 < kHeaderFixed || size64 > len || size64 > kMaxHeaderSize || total_size < len) {
        return false;
    }
    const size_t size = static_cast<size_t>(size64);
    header_reserved_ = {{data[28], data[29]}};

    bool have_props = false;
    size_t pos = kHeaderFixed;
    while (pos < size) {
        if (size - pos < kObjectHeader) return false;
        const uint8_t* obj = data + pos;
        const GuidBytes id = rdGuid(obj);
        const uint64_t osize = rd64(obj + 16);
        if (osize < kObjectHeader || osize > size - pos) return false;
        const size_t n = static_cast<size_t>(osize);
        const uint8_t* body = obj + kObjectHeader;
        const size_t body_len = n - kObjectHeader;

        Object o;
        o.raw.assign(obj, obj + n);
        // Only the first object of each decoded kind is decoded; a repeated
        // one is kept as it is.
        if (id == kFilePropsGuid && !have_props) {
            if (!parseFileProps(body, body_len)) return false;
            have_props = true;
            o.slot = Slot::FileProps;
        } else if (id == kStreamPropsGuid) {
            if (!parseStream(body, body_len)) return false;
        } else if (id == kBitratePropsGuid && !has_bitrates_) {
            if (!parseBitrates(body, body_len)) return false;
        } else if (id == kContentDescGuid && !has_cd_) {
            if (!parseContentDesc(body, body_len)) return false;
            o.slot = Slot::ContentDesc;
        } else if (id == kExtContentDescGuid && !ecd_.present) {
            if (!parseRecords(body, body_len, &ecd_)) return false;
            o.slot = Slot::ExtContentDesc;
        } else if (id == kHeaderExtGuid && !has_he_) {
            if (!parseHeaderExt(body, body_len)) return false;
            o.slot = Slot::HeaderExt;
        }
        objects_.push_back(std::move(o));
        pos += n;
    }
    if (!have_props) return false;

    // What follows the header: nothing (a header on its own) or the Data
    // Object.
    const size_t rest = len - size;
    if (rest > 0) {
        if (rest < kDataObjectFixed || rdGuid(data + size) != kDataGuid) return false;
        const uint64_t stored = rd64(data + size + 16);
        const uint64_t available = total_size - size64;
        if (stored != 0 && stored < kDataObjectFixed) return false;
        has_data_ = true;
        data_size_ = (stored == 0 || stored > available) ? available : stored;
        data_object_packets_ = rd64(data + size + 40);
    }

    original_.assign(data, data + size);
    header_size_ = size64;
    tail_size_ = total_size - size64;
    valid_ = true;
    rebuildAttributes();
    return true;
}

bool Header::parseFileProps(const uint8_t* p, size_t n) {
    if (n < kFilePropsBody) return false;
    file_id_ = rdGuid(p);
    file_size_ = rd64(p + 16);
    creation_date_ = rd64(p + 24);
    data_packet_count_ = rd64(p + 32);
    play_duration_ = rd64(p + 40);
    send_duration_ = rd64(p + 48);
    preroll_ms_ = rd64(p + 56);
    flags_ = rd32(p + 64);
    min_packet_size_ = rd32(p + 68);
    max_packet_size_ = rd32(p + 72);
    max_bitrate_ = rd32(p + 76);
    return true;
}

bool Header::parseStream(const uint8_t* p, size_t n) {
    if (n < kStreamPropsFixed) return false;
    Stream s;
    s.type_guid = rdGuid(p);
    s.error_correction_guid = rdGuid(p + 16);
    s.time_offset = rd64(p + 32);
    const uint64_t ts_len = rd32(p + 40);
    const uint64_t ec_len = rd32(p + 44);
    const uint16_t flags = rd16(p + 48);
    if (ts_len + ec_len > n - kStreamPropsFixed) return false;
    s.number = flags & 0x7F;
    if (s.number == 0) return false;
    s.encrypted = (flags & 0x8000) != 0;
    s.kind = s.type_guid == kAudioStreamGuid   ? StreamKind::Audio
             : s.type_guid == kVideoStreamGuid ? StreamKind::Video
                                               : StreamKind::Other;
    const uint8_t* ts = p + kStreamPropsFixed;
    s.type_specific.assign(ts, ts + ts_len);
    s.error_correction.assign(ts + ts_len, ts + ts_len + ec_len);
    streams_.push_back(std::move(s));
    return true;
}

bool Header::parseBitrates(const uint8_t* p, size_t n) {
    if (n < 2) return false;
    const size_t count = rd16(p);
    if (count * 6 > n - 2) return false;
    uint64_t sum = 0;
    for (size_t i = 0; i < count; ++i) sum += rd32(p + 2 + i * 6 + 2);
    has_bitrates_ = true;
    bitrate_sum_ = sum;
    return true;
}

bool Header::parseContentDesc(const uint8_t* p, size_t n) {
    if (n < 10) return false;
    size_t total = 0;
    size_t lens[5];
    for (int i = 0; i < 5; ++i) {
        lens[i] = rd16(p + 2 * i);
        total += lens[i];
    }
    if (total > n - 10) return false;
    const uint8_t* s = p + 10;
    for (int i = 0; i < 5; ++i) {
        cd_[i].assign(s, s + lens[i]);
        s += lens[i];
    }
    has_cd_ = true;
    return true;
}

bool Header::parseRecords(const uint8_t* p, size_t n, RecordList* out) {
    const bool ecd = out->kind == ListKind::ExtContentDesc;
    if (n < 2) return false;
    const size_t count = rd16(p);
    size_t pos = 2;
    std::vector<Record> items;
    for (size_t i = 0; i < count; ++i) {
        Record r;
        uint64_t name_len, value_len;
        if (ecd) {
            if (n - pos < 2) return false;
            name_len = rd16(p + pos);
            pos += 2;
            if (name_len > n - pos) return false;
            r.name_raw.assign(p + pos, p + pos + name_len);
            pos += name_len;
            if (n - pos < 4) return false;
            r.type = rd16(p + pos);
            value_len = rd16(p + pos + 2);
            pos += 4;
        } else {
            if (n - pos < 12) return false;
            r.lang = rd16(p + pos);
            r.stream = rd16(p + pos + 2);
            name_len = rd16(p + pos + 4);
            r.type = rd16(p + pos + 6);
            value_len = rd32(p + pos + 8);
            pos += 12;
            if (name_len > n - pos) return false;
            r.name_raw.assign(p + pos, p + pos + name_len);
            pos += name_len;
        }
        if (value_len > n - pos) return false;
        r.value.assign(p + pos, p + pos + value_len);
        pos += value_len;
        r.name = decodeName(r.name_raw.data(), r.name_raw.size());
        items.push_back(std::move(r));
    }
    out->items = std::move(items);
    out->present = true;
    return true;
}

bool Header::parseHeaderExt(const uint8_t* p, size_t n) {
    if (n < kHeaderExtFixed) return false;
    const uint64_t data_size = rd32(p + 18);
    if (data_size > n - kHeaderExtFixed) return false;
    he_fixed_.assign(p, p + 18);
    const uint8_t* d = p + kHeaderExtFixed;
    const size_t dn = static_cast<size_t>(data_size);
    he_trailing_.assign(d + dn, p + n);
    size_t pos = 0;
    while (pos < dn) {
        if (dn - pos < kObjectHeader) return false;
        const GuidBytes id = rdGuid(d + pos);
        const uint64_t osize = rd64(d + pos + 16);
        if (osize < kObjectHeader || osize > dn - pos) return false;
        const size_t on = static_cast<size_t>(osize);
        InnerObject o;
        o.raw.assign(d + pos, d + pos + on);
        const uint8_t* body = d + pos + kObjectHeader;
        if (id == kMetadataGuid && !meta_.present) {
            if (!parseRecords(body, on - kObjectHeader, &meta_)) return false;
            o.slot = InnerSlot::Metadata;
        } else if (id == kMetadataLibraryGuid && !metalib_.present) {
            if (!parseRecords(body, on - kObjectHeader, &metalib_)) return false;
            o.slot = InnerSlot::MetadataLibrary;
        }
        he_objects_.push_back(std::move(o));
        pos += on;
    }
    has_he_ = true;
    return true;
}

// ------------------------------------------------------------- attributes

uint64_t Header::duration() const {
    // Preroll is in milliseconds, play duration in 100 ns and includes it.
    if (preroll_ms_ > play_duration_ / 10000) return 0;
    return play_duration_ - preroll_ms_ * 10000;
}

uint32_t Header::bitrate() const {
    if (has_bitrates_) return clamp32(bitrate_sum_);
    uint64_t sum = 0;
    bool any_audio = false;
    for (const Stream& s : streams_) {
        // Reaching nAvgBytesPerSec is enough.
        mervane::WaveFormat wf;
        if (s.kind != StreamKind::Audio ||
            !mervane::ReadWaveFormat(s.type_specific.data(), s.type_specific.size(), &wf, 12)) {
            continue;
        }
        any_audio = true;
        sum += uint64_t{wf.avgBytesPerSec} * 8;
    }
    return any_audio ? clamp32(sum) : max_bitrate_;
}

const Stream* Header::streamByNumber(uint16_t number) const {
    for (const Stream& s : streams_) {
        if (s.number == number) return &s;
    }
    return nullptr;
}

const Attribute* Header::find(std::u16string_view name) const {
    for (const Attribute& a : attrs_) {
        if (a.name == name) return &a;
    }
    return nullptr;
}

bool Header::isReadOnly(std::u16string_view name) {
    return std::find(std::begin(kReadOnlyNames), std::end(kReadOnlyNames), name) !=
           std::end(kReadOnlyNames);
}

void Header::rebuildAttributes() {
    attrs_.clear();
    if (!valid_) return;
    auto add = [this](std::u16string_view name, AttrType type, std::vector<uint8_t> value) {
        attrs_.push_back(Attribute{std::u16string(name), type, std::move(value)});
    };
    auto le = [](uint64_t v, size_t n) {
        std::vector<uint8_t> out(n);
        for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
        return out;
    };
    add(u"Duration", AttrType::QWord, le(duration(), 8));
    add(u"Bitrate", AttrType::DWord, le(bitrate(), 4));
    add(u"Seekable", AttrType::Bool, le(seekable() ? 1 : 0, 4));
    add(u"Broadcast", AttrType::Bool, le(broadcast() ? 1 : 0, 4));
    add(u"FileSize", AttrType::QWord, le(file_size_, 8));
    if (has_cd_) {
        for (int i = 0; i < 5; ++i) {
            if (cd_[i].empty()) continue;
            add(kContentNames[i], AttrType::String, terminatedString(cd_[i].data(), cd_[i].size()));
        }
    }
    addRecordAttributes(ecd_);
    addRecordAttributes(meta_);
    addRecordAttributes(metalib_);
}

void Header::addRecordAttributes(const RecordList& list) {
    for (const Record& r : list.items) {
        if (list.kind != ListKind::ExtContentDesc && r.stream != 0) continue;
        Attribute a;
        a.name = r.name;
        a.type = AttrType::Binary;
        a.value = r.value;
        const size_t n = r.value.size();
        switch (r.type) {
            case 0:
                a.type = AttrType::String;
                a.value = terminatedString(r.value.data(), n);
                break;
            case 2:
                // 4 bytes in Extended Content Description, 2 in the Metadata
                // objects; either is accepted wherever it appears.
                if (n == 4 || n == 2) {
                    a.type = AttrType::Bool;
                    a.value.resize(4, 0);
                }
                break;
            case 3:
                if (n == 4) a.type = AttrType::DWord;
                break;
            case 4:
                if (n == 8) a.type = AttrType::QWord;
                break;
            case 5:
                if (n == 2) a.type = AttrType::Word;
                break;
            case 6:
                if (n == 16) a.type = AttrType::Guid;
                break;
            default:
                break;
        }
        attrs_.push_back(std::move(a));
    }
}

// ---------------------------------------------------------------- editing

bool Header::setContentDesc(size_t field, const std::vector<uint8_t>& value) {
    if (!has_cd_) {
        Object o;
        o.slot = Slot::ContentDesc;
        objects_.push_back(std::move(o));
        has_cd_ = true;
    }
    cd_[field] = value;
    cd_dirty_ = true;
    // Keep same-named string copies in step (see the header for why).
    const std::u16string_view name = kContentNames[field];
    for (RecordList* list : {&ecd_, &meta_, &metalib_}) {
        for (Record& r : list->items) {
            if (list->kind != ListKind::ExtContentDesc && r.stream != 0) continue;
            if (r.type != 0 || !equalsIgnoreAsciiCase(r.name, name)) continue;
            r.value = value;
            list->dirty = true;
        }
    }
    return true;
}

Header::RecordList& Header::ensureMetadataLibrary() {
    if (!has_he_) {
        Object o;
        o.slot = Slot::HeaderExt;
        objects_.push_back(std::move(o));
        he_fixed_.assign(kHeaderExtReservedGuid.begin(), kHeaderExtReservedGuid.end());
        put16(&he_fixed_, 6);
        has_he_ = true;
    }
    if (!metalib_.present) {
        InnerObject o;
        o.slot = InnerSlot::MetadataLibrary;
        he_objects_.push_back(std::move(o));
        metalib_.present = true;
    }
    he_dirty_ = true;
    return metalib_;
}

bool Header::set(std::u16string_view name, AttrType type, const uint8_t* data, size_t len) {
    if (!valid_ || name.empty() || isReadOnly(name)) return false;
    if (name.find(u'\0') != std::u16string_view::npos) return false;
    if ((name.size() + 1) * 2 > kMaxWord) return false;
    if (len > 0 && !data) return false;
    // Keep the edited header within what readFile accepts.
    if (len > kMaxHeaderSize || serializedSize() + len + name.size() * 2 + 256 > kMaxHeaderSize) {
        return false;
    }

    std::vector<uint8_t> value(data, data + len);
    switch (type) {
        case AttrType::String:
            if (len % 2 != 0) return false;
            value = terminatedString(value.data(), value.size());
            break;
        case AttrType::Binary:
            break;
        case AttrType::Bool:
        case AttrType::DWord:
            if (len != 4) return false;
            break;
        case AttrType::QWord:
            if (len != 8) return false;
            break;
        case AttrType::Word:
            if (len != 2) return false;
            break;
        case AttrType::Guid:
            if (len != 16) return false;
            break;
        default:
            return false;
    }

    for (size_t i = 0; i < 5; ++i) {
        if (name != kContentNames[i]) continue;
        // Content Description stores only strings, each with a WORD length.
        if (type != AttrType::String || value.size() > kMaxWord) return false;
        setContentDesc(i, value);
        rebuildAttributes();
        return true;
    }

    // Extended Content Description and Metadata have WORD value lengths and
    // no GUID type; Metadata Library takes anything.
    auto fits = [&](ListKind kind) {
        return kind == ListKind::MetadataLibrary ||
               (type != AttrType::Guid && value.size() <= kMaxWord);
    };
    auto matches = [&](const RecordList& list, const Record& r) {
        return (list.kind == ListKind::ExtContentDesc || r.stream == 0) && r.name == name;
    };
    RecordList* lists[3] = {&ecd_, &meta_, &metalib_};

    // Decide where the value goes before changing anything.
    bool update_in_place = false;
    for (RecordList* list : lists) {
        for (const Record& r : list->items) {
            if (matches(*list, r) && fits(list->kind)) update_in_place = true;
        }
    }
    RecordList* target = nullptr;
    if (!update_in_place) {
        if (fits(ListKind::ExtContentDesc) && ecd_.items.size() < kMaxWord) {
            target = &ecd_;
        } else if (metalib_.items.size() < kMaxWord) {
            target = &metalib_;
        } else {
            return false;
        }
    }

    auto stored = [&](ListKind kind) {
        if (type == AttrType::Bool && kind != ListKind::ExtContentDesc) {
            const bool on = rd32(value.data()) != 0;
            return std::vector<uint8_t>{static_cast<uint8_t>(on ? 1 : 0), 0};
        }
        return value;
    };

    bool placed = false;
    for (RecordList* list : lists) {
        auto& items = list->items;
        for (size_t i = 0; i < items.size();) {
            if (!matches(*list, items[i])) {
                ++i;
                continue;
            }
            list->dirty = true;
            if (!placed && fits(list->kind)) {
                items[i].type = static_cast<uint16_t>(type);
                items[i].value = stored(list->kind);
                placed = true;
                ++i;
            } else {
                items.erase(items.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
    }

    if (target) {
        if (target == &ecd_ && !ecd_.present) {
            Object o;
            o.slot = Slot::ExtContentDesc;
            objects_.push_back(std::move(o));
            ecd_.present = true;
        } else if (target == &metalib_) {
            ensureMetadataLibrary();
        }
        Record r;
        r.name_raw = encodeName(name);
        r.name = std::u16string(name);
        r.type = static_cast<uint16_t>(type);
        r.value = stored(target->kind);
        target->items.push_back(std::move(r));
        target->dirty = true;
    }
    rebuildAttributes();
    return true;
}

// ---------------------------------------------------------- serialization

uint64_t Header::recordsSize(const RecordList& list) {
    const size_t fixed = list.kind == ListKind::ExtContentDesc ? 6 : 12;
    uint64_t n = kObjectHeader + 2;
    for (const Record& r : list.items) n += fixed + r.name_raw.size() + r.value.size();
    return n;
}

uint64_t Header::headerExtSize() const {
    uint64_t n = kObjectHeader + kHeaderExtFixed + he_trailing_.size();
    for (const InnerObject& o : he_objects_) {
        const RecordList* list = o.slot == InnerSlot::Metadata          ? &meta_
                                 : o.slot == InnerSlot::MetadataLibrary ? &metalib_
                                                                        : nullptr;
        n += list && (list->dirty || o.raw.empty()) ? recordsSize(*list) : o.raw.size();
    }
    return n;
}

uint64_t Header::serializedSize() const {
    uint64_t n = kHeaderFixed;
    for (const Object& o : objects_) {
        if (o.slot == Slot::ContentDesc && (cd_dirty_ || o.raw.empty())) {
            n += kObjectHeader + 10 + cd_[0].size() + cd_[1].size() + cd_[2].size() +
                 cd_[3].size() + cd_[4].size();
        } else if (o.slot == Slot::ExtContentDesc && (ecd_.dirty || o.raw.empty())) {
            n += recordsSize(ecd_);
        } else if (o.slot == Slot::HeaderExt && (headerExtDirty() || o.raw.empty())) {
            n += headerExtSize();
        } else {
            n += o.raw.size();
        }
    }
    return n;
}

void Header::encodeRecords(const RecordList& list, std::vector<uint8_t>* out) const {
    const size_t start = out->size();
    putGuid(out, list.kind == ListKind::ExtContentDesc ? kExtContentDescGuid
                 : list.kind == ListKind::Metadata     ? kMetadataGuid
                                                       : kMetadataLibraryGuid);
    put64(out, 0);
    put16(out, static_cast<uint32_t>(list.items.size()));
    for (const Record& r : list.items) {
        const uint32_t name_len = static_cast<uint32_t>(r.name_raw.size());
        const uint32_t value_len = static_cast<uint32_t>(r.value.size());
        if (list.kind == ListKind::ExtContentDesc) {
            put16(out, name_len);
            putBytes(out, r.name_raw);
            put16(out, r.type);
            put16(out, value_len);
        } else {
            put16(out, r.lang);
            put16(out, r.stream);
            put16(out, name_len);
            put16(out, r.type);
            put32(out, value_len);
            putBytes(out, r.name_raw);
        }
        putBytes(out, r.value);
    }
    patch64(out, start + 16, out->size() - start);
}

void Header::encodeContentDesc(std::vector<uint8_t>* out) const {
    const size_t start = out->size();
    putGuid(out, kContentDescGuid);
    put64(out, 0);
    for (const auto& s : cd_) put16(out, static_cast<uint32_t>(s.size()));
    for (const auto& s : cd_) putBytes(out, s);
    patch64(out, start + 16, out->size() - start);
}

void Header::encodeHeaderExt(std::vector<uint8_t>* out) const {
    const size_t start = out->size();
    putGuid(out, kHeaderExtGuid);
    put64(out, 0);
    putBytes(out, he_fixed_);
    put32(out, 0);
    const size_t data_start = out->size();
    for (const InnerObject& o : he_objects_) {
        const RecordList* list = o.slot == InnerSlot::Metadata          ? &meta_
                                 : o.slot == InnerSlot::MetadataLibrary ? &metalib_
                                                                        : nullptr;
        if (list && (list->dirty || o.raw.empty())) {
            encodeRecords(*list, out);
        } else {
            putBytes(out, o.raw);
        }
    }
    patch32(out, data_start - 4, static_cast<uint32_t>(out->size() - data_start));
    putBytes(out, he_trailing_);
    patch64(out, start + 16, out->size() - start);
}

std::vector<uint8_t> Header::serialize() const {
    std::vector<uint8_t> out;
    if (!valid_) return out;
    out.reserve(static_cast<size_t>(serializedSize()));
    putGuid(&out, kHeaderGuid);
    put64(&out, 0);
    put32(&out, static_cast<uint32_t>(objects_.size()));
    out.push_back(header_reserved_[0]);
    out.push_back(header_reserved_[1]);
    size_t file_size_at = 0;
    for (const Object& o : objects_) {
        switch (o.slot) {
            case Slot::FileProps:
                file_size_at = out.size() + kObjectHeader + 16;
                putBytes(&out, o.raw);
                break;
            case Slot::ContentDesc:
                if (cd_dirty_ || o.raw.empty()) {
                    encodeContentDesc(&out);
                } else {
                    putBytes(&out, o.raw);
                }
                break;
            case Slot::ExtContentDesc:
                if (ecd_.dirty || o.raw.empty()) {
                    encodeRecords(ecd_, &out);
                } else {
                    putBytes(&out, o.raw);
                }
                break;
            case Slot::HeaderExt:
                if (headerExtDirty() || o.raw.empty()) {
                    encodeHeaderExt(&out);
                } else {
                    putBytes(&out, o.raw);
                }
                break;
            case Slot::Raw:
                putBytes(&out, o.raw);
                break;
        }
    }
    patch64(&out, 16, out.size());
    patch64(&out, file_size_at, out.size() + tail_size_);
    return out;
}

// --------------------------------------------------------- file rewriting

ffsdk::Result Header::rewriteFile(const std::string& path) {
    if (!valid_) return wm::NS_E_INVALID_REQUEST;
    errno = 0;
    // Replace the file a symbolic link points to, not the link.
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return FileFailure();
    const std::string target(resolved);
    std::free(resolved);

    Fd in(::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st;
    if (!in.ok() || ::fstat(in.get(), &st) != 0) return FileFailure();
    if (!S_ISREG(st.st_mode)) return wm::NS_E_FILE_WRITE;
    const uint64_t old_size = static_cast<uint64_t>(st.st_size);
    if (old_size < header_size_) return wm::NS_E_FILE_WRITE;

    // The file must still start with the header this object describes,
    // otherwise the bytes copied after the new header would not match it.
    std::vector<uint8_t> current(original_.size());
    if (!preadAll(in.get(), current.data(), current.size(), 0) || current != original_) {
        return wm::NS_E_FILE_WRITE;
    }

    Header updated(*this);
    updated.tail_size_ = old_size - header_size_;
    const std::vector<uint8_t> head = updated.serialize();

    std::string tmp_name = target + ".tmp-XXXXXX";
    Fd out(::mkostemp(&tmp_name[0], O_CLOEXEC));
    if (!out.ok()) return FileFailure();
    // File systems without Unix permissions (FAT) refuse chmod but give
    // every file the same mode; that is fine as long as the modes agree.
    struct stat tmp_st;
    bool ok =
        ::fchmod(out.get(), st.st_mode & 07777) == 0 ||
        (::fstat(out.get(), &tmp_st) == 0 && (tmp_st.st_mode & 07777) == (st.st_mode & 07777));
    if (ok && ::fchown(out.get(), st.st_uid, st.st_gid) != 0) {
        // Only the owner or root can hand a file to someone else; keeping
        // the caller as owner is the best that can be done.
    }
    ok = ok && writeAll(out.get(), head.data(), head.size());
    if (ok) {
        std::vector<uint8_t> buf(1u << 20);
        uint64_t offset = header_size_;
        while (ok && offset < old_size) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(buf.size(), old_size - offset));
            ok = preadAll(in.get(), buf.data(), n, offset) && writeAll(out.get(), buf.data(), n);
            offset += n;
        }
        // A file that grew while being copied has changed under us.
        uint8_t probe;
        ok = ok && ::pread(in.get(), &probe, 1, static_cast<off_t>(old_size)) == 0;
    }
    ok = ok && ::fsync(out.get()) == 0;
    ok = out.close() && ok;
    ok = ok && ::rename(tmp_name.c_str(), target.c_str()) == 0;
    if (!ok) {
        const ffsdk::Result failure = FileFailure();
        out.reset();
        ::unlink(tmp_name.c_str());
        return failure;
    }
    // Make the rename itself durable.
    const size_t slash = target.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    Fd dfd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dfd.ok()) ::fsync(dfd.get());

    // Describe the file as it now is. The Data Object is unchanged; only
    // its offset moved with the header size.
    const bool has_data = has_data_;
    const uint64_t data_size = data_size_;
    const uint64_t data_packets = data_object_packets_;
    const uint64_t new_size = head.size() + updated.tail_size_;
    Header fresh;
    if (!fresh.parseHeader(head.data(), head.size(), new_size)) {
        *this = Header();
        return S_OK;
    }
    fresh.has_data_ = has_data;
    fresh.data_size_ = data_size;
    fresh.data_object_packets_ = data_packets;
    *this = std::move(fresh);
    return S_OK;
}

}  // namespace asf
