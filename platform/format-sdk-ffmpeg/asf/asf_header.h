// The Header Object of an ASF (Windows Media) file: parsing, the attribute
// view the platform's IWMHeaderInfo gives for stream 0, editing, and writing
// the edited header back into the file.
//
// Every header object is kept as the bytes it was read from, so objects this
// module does not understand (or did not change) are written back byte for
// byte and in their original order. The objects attributes live in are also
// decoded: Content Description, Extended Content Description, and Metadata and
// Metadata Library inside the Header Extension. File Properties, Stream
// Properties and Stream Bitrate Properties are decoded read-only.
//
// Only the C++ standard library and the core's result type are used, plus
// POSIX file calls in readFile and rewriteFile (the standard library has no
// fsync, mkstemp or atomic rename).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace asf {

// A GUID in its on-disk byte order (first three fields little-endian).
using GuidBytes = std::array<uint8_t, 16>;

// Attribute value types, numbered as the ASF file stores them (not as the
// SDK's WMT_ATTR_DATATYPE, which orders them differently).
enum class AttrType : uint16_t {
    String = 0,
    Binary = 1,
    Bool = 2,
    DWord = 3,
    QWord = 4,
    Word = 5,
    Guid = 6,
};

// One attribute as IWMHeaderInfo hands it out. Value bytes:
//   String  UTF-16LE, always ending in a 0 character
//   Binary  as stored
//   Bool    4 bytes (widened from the 2 bytes the Metadata objects store)
//   DWord 4, QWord 8, Word 2, Guid 16 bytes, little-endian.
// A stored value whose length does not fit its type is shown as Binary with
// the stored bytes, so callers can rely on the lengths above.
struct Attribute {
    std::u16string name;
    AttrType type = AttrType::Binary;
    std::vector<uint8_t> value;
};

enum class StreamKind : uint8_t { Audio, Video, Other };

// One Stream Properties object.
struct Stream {
    uint16_t number = 0;  // 1..127
    StreamKind kind = StreamKind::Other;
    GuidBytes type_guid{};
    GuidBytes error_correction_guid{};
    bool encrypted = false;
    uint64_t time_offset = 0;               // 100 ns units
    std::vector<uint8_t> type_specific;     // audio: WAVEFORMATEX incl. cbSize extra bytes
    std::vector<uint8_t> error_correction;  // error correction data, as stored
};

class Header {
  public:
    // Headers larger than this are refused rather than read into memory.
    static constexpr uint64_t kMaxHeaderSize = 256u * 1024u * 1024u;

    // Parses a buffer that starts with the Header Object. The buffer may end
    // right after the header, or continue with the Data Object (and the rest
    // of the file; its length is then taken as the file size). Anything else
    // after the header, and any malformed object this module decodes, makes
    // parse fail. On failure the object is left empty (valid() is false).
    bool parse(const uint8_t* data, size_t len);

    // Reads and parses the header of a file, which must be a regular file
    // whose header is followed by a Data Object. Fails with
    // NS_E_FILE_NOT_FOUND when nothing is at the path (or a folder on it is
    // missing), NS_E_FILE_OPEN_FAILED when it cannot be opened or is not a
    // regular file, NS_E_INVALID_INPUT_FORMAT when it holds no such header.
    ffsdk::Result readFile(const std::string& path);

    bool valid() const { return valid_; }

    // ---- Attributes of stream 0, in this order: the computed ones
    // (Duration, Bitrate, Seekable, Broadcast, FileSize), the five Content
    // Description strings that are present, Extended Content Description
    // descriptors, then the stream-0 records of Metadata and Metadata Library.
    // Pointers and indices stay valid until the next set/parse/readFile/
    // rewriteFile call. Names compare exactly (case-sensitive).
    size_t count() const { return attrs_.size(); }
    const Attribute* at(size_t i) const { return i < attrs_.size() ? &attrs_[i] : nullptr; }
    const Attribute* find(std::u16string_view name) const;

    // True for the computed attributes, which set() refuses.
    static bool isReadOnly(std::u16string_view name);

    // Sets a stream-0 attribute, taking the value in the form at() hands out
    // (a string may omit its terminating 0; one is added). Fails for read-only
    // names, an empty name or one containing a 0 character, an unknown type,
    // and values of the wrong length for their type (Bool and DWord 4 bytes,
    // QWord 8, Word 2, Guid 16, String an even number).
    //
    // Where the value goes:
    //  - "Title", "Author", "Copyright", "Description", "Rating" are stored in
    //    Content Description (created if missing). They are strings there, so
    //    any other type is refused, as is a string over 65,535 bytes.
    //    String records elsewhere in the header (Extended Content Description,
    //    Metadata, Metadata Library, stream 0) whose name equals the Content
    //    Description name ignoring ASCII case are updated to the same string:
    //    ffmpeg writes title/author a second time as Extended Content
    //    Description "title"/"Author", and its demuxer lets the later object
    //    win, so without this a player built on it would keep the old title.
    //  - Any other name already stored is updated where it is, keeping its
    //    position and taking the new type; further records with the same name
    //    (stream 0) are removed so the name holds exactly the new value. If
    //    its object cannot hold the value (Extended Content Description and
    //    Metadata take neither GUIDs nor values over 65,535 bytes) the record
    //    is removed there and the value goes to Metadata Library.
    //  - A new name is appended to Extended Content Description (created if
    //    missing) when it fits there, else to Metadata Library inside the
    //    Header Extension (both created if missing).
    // A Bool written to Metadata or Metadata Library is stored as 2 bytes
    // holding 1 for any non-zero value.
    bool set(std::u16string_view name, AttrType type, const uint8_t* data, size_t len);

    // The header as it now stands: object count and sizes recomputed, the
    // File Properties file size set to the size the file has after
    // rewriteFile, objects not changed written back byte for byte, new
    // objects appended after the existing ones. Empty if !valid().
    std::vector<uint8_t> serialize() const;

    // Replaces the header of the file at `path`, which must still begin with
    // the header this object parsed. The new file (new header, then every
    // byte that followed the old header) is written to a temporary file in
    // the same folder, flushed to disk and renamed over the original, so a
    // crash leaves either the old or the new file whole. The original's
    // permission bits are kept; a symbolic link is followed and its target
    // replaced. On success this object then describes the new file; on
    // failure the original is untouched and no temporary is left behind, and
    // the result says why (a file system error where there is one,
    // NS_E_FILE_WRITE when the file changed or is not a regular file).
    ffsdk::Result rewriteFile(const std::string& path);

    // ---- File Properties.
    const GuidBytes& fileId() const { return file_id_; }
    uint64_t fileSize() const { return file_size_; }  // the stored field
    uint64_t creationDate() const { return creation_date_; }
    uint64_t dataPacketCount() const { return data_packet_count_; }
    uint64_t playDuration() const { return play_duration_; }  // 100 ns, includes preroll
    uint64_t sendDuration() const { return send_duration_; }  // 100 ns
    uint64_t prerollMs() const { return preroll_ms_; }        // milliseconds
    uint32_t flags() const { return flags_; }
    bool broadcast() const { return (flags_ & 1u) != 0; }
    bool seekable() const { return (flags_ & 2u) != 0; }
    uint32_t minPacketSize() const { return min_packet_size_; }
    uint32_t maxPacketSize() const { return max_packet_size_; }
    // ASF data packets have one fixed size: min and max packet size agree.
    uint32_t packetSize() const { return max_packet_size_; }
    uint32_t maxBitrate() const { return max_bitrate_; }

    // Playing duration in 100 ns units (play duration minus preroll, never
    // negative) and the file's bitrate in bit/s, as reported in "Duration"
    // and "Bitrate".
    uint64_t duration() const;
    uint32_t bitrate() const;

    // ---- Streams, in header order.
    const std::vector<Stream>& streams() const { return streams_; }
    const Stream* streamByNumber(uint16_t number) const;

    // ---- Layout of the parsed file.
    uint64_t headerSize() const { return header_size_; }  // where the header ends
    bool hasDataObject() const { return has_data_; }
    uint64_t dataObjectOffset() const { return header_size_; }
    // The stored Data Object size, or the bytes left in the file when that
    // is 0 or larger than the file.
    uint64_t dataObjectSize() const { return data_size_; }
    uint64_t firstPacketOffset() const { return header_size_ + 50; }
    // The packet count stored in the Data Object itself.
    uint64_t dataObjectPacketCount() const { return data_object_packets_; }

  private:
    enum class Slot : uint8_t { Raw, FileProps, ContentDesc, ExtContentDesc, HeaderExt };
    enum class InnerSlot : uint8_t { Raw, Metadata, MetadataLibrary };

    struct Record {
        uint16_t lang = 0;              // Metadata Library language index (reserved in Metadata)
        uint16_t stream = 0;            // unused in Extended Content Description
        std::vector<uint8_t> name_raw;  // stored name bytes, terminator included
        std::u16string name;
        uint16_t type = 0;
        std::vector<uint8_t> value;  // stored value bytes
    };
    enum class ListKind : uint8_t { ExtContentDesc, Metadata, MetadataLibrary };
    struct RecordList {
        explicit RecordList(ListKind k) : kind(k) {}
        ListKind kind;
        bool present = false;
        bool dirty = false;
        std::vector<Record> items;
    };

    struct Object {
        Slot slot = Slot::Raw;
        std::vector<uint8_t> raw;  // the whole object as read (empty for new ones)
    };
    struct InnerObject {
        InnerSlot slot = InnerSlot::Raw;
        std::vector<uint8_t> raw;
    };

    bool parseHeader(const uint8_t* data, size_t len, uint64_t total_size);
    bool parseFileProps(const uint8_t* p, size_t n);
    bool parseStream(const uint8_t* p, size_t n);
    bool parseBitrates(const uint8_t* p, size_t n);
    bool parseContentDesc(const uint8_t* p, size_t n);
    bool parseHeaderExt(const uint8_t* p, size_t n);
    static bool parseRecords(const uint8_t* p, size_t n, RecordList* out);

    void encodeRecords(const RecordList& list, std::vector<uint8_t>* out) const;
    void encodeContentDesc(std::vector<uint8_t>* out) const;
    void encodeHeaderExt(std::vector<uint8_t>* out) const;
    static uint64_t recordsSize(const RecordList& list);
    uint64_t headerExtSize() const;
    uint64_t serializedSize() const;
    bool headerExtDirty() const { return he_dirty_ || meta_.dirty || metalib_.dirty; }

    void rebuildAttributes();
    void addRecordAttributes(const RecordList& list);
    RecordList& ensureMetadataLibrary();
    bool setContentDesc(size_t field, const std::vector<uint8_t>& value);

    bool valid_ = false;
    std::vector<uint8_t> original_;  // the header bytes as parsed
    uint64_t header_size_ = 0;
    uint64_t tail_size_ = 0;  // bytes after the header in the parsed file
    std::array<uint8_t, 2> header_reserved_{{1, 2}};

    std::vector<Object> objects_;

    GuidBytes file_id_{};
    uint64_t file_size_ = 0;
    uint64_t creation_date_ = 0;
    uint64_t data_packet_count_ = 0;
    uint64_t play_duration_ = 0;
    uint64_t send_duration_ = 0;
    uint64_t preroll_ms_ = 0;
    uint32_t flags_ = 0;
    uint32_t min_packet_size_ = 0;
    uint32_t max_packet_size_ = 0;
    uint32_t max_bitrate_ = 0;

    std::vector<Stream> streams_;
    bool has_bitrates_ = false;
    uint64_t bitrate_sum_ = 0;

    bool has_cd_ = false;
    bool cd_dirty_ = false;
    std::array<std::vector<uint8_t>, 5> cd_;

    RecordList ecd_{ListKind::ExtContentDesc};

    bool has_he_ = false;
    bool he_dirty_ = false;
    std::vector<uint8_t> he_fixed_;     // reserved GUID + reserved WORD
    std::vector<uint8_t> he_trailing_;  // bytes after the extension data, kept
    std::vector<InnerObject> he_objects_;
    RecordList meta_{ListKind::Metadata};
    RecordList metalib_{ListKind::MetadataLibrary};

    bool has_data_ = false;
    uint64_t data_size_ = 0;
    uint64_t data_object_packets_ = 0;

    std::vector<Attribute> attrs_;
};

}  // namespace asf
