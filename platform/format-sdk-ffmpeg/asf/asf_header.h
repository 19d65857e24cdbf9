// SPDX-License-Identifier: MIT
// The Header Object of an ASF (Windows Media) file: parsing, the attribute
// view the platform's IWMHeaderInfo gives for stream 0, editing, and writing
// the edited header back into the file.
//
// The class is implemented in three files: asf_header.cpp (parsing and
// serializing), attribute_view.cpp (the attribute view and its editing rules)
// and header_file.cpp (reading a file's header, the atomic rewrite). The
// objects attributes live in have files of their own (content_description,
// record_list, header_extension); guids.h and object_io.h hold what every
// object is made of.
//
// Every header object is kept as the bytes it was read from, so objects this
// module does not understand (or did not change) are written back byte for
// byte and in their original order. The objects attributes live in are also
// decoded: Content Description, Extended Content Description, and Metadata and
// Metadata Library inside the Header Extension. File Properties, Stream
// Properties, Stream Bitrate Properties, the mutual exclusion objects and
// Extended Stream Properties are decoded read-only.
//
// Only the C++ standard library and the core's result type are used, plus
// POSIX file calls in header_file.cpp (the standard library has no fsync,
// unnamed temporary files or atomic rename).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "asf/attribute.h"
#include "asf/content_description.h"
#include "asf/guids.h"
#include "asf/header_extension.h"
#include "asf/record_list.h"
#include "common/result.h"

namespace asf {

enum class StreamKind : uint8_t { Audio, Video, Other };

// One stream, from its Stream Properties object: one in the header, or one
// embedded in its Extended Stream Properties object in the Header Extension.
struct Stream {
    uint16_t number = 0;  // 1..127
    // bit/s: from Stream Bitrate Properties, else the Extended Stream
    // Properties' data bitrate, else (audio) the WAVEFORMATEX's nAvgBytesPerSec.
    uint32_t bitrate = 0;
    StreamKind kind = StreamKind::Other;
    GuidBytes typeGuid{};
    GuidBytes errorCorrectionGuid{};
    bool encrypted = false;
    uint64_t timeOffset = 0;               // 100 ns units
    std::vector<uint8_t> typeSpecific;     // audio: WAVEFORMATEX incl. cbSize extra bytes
    std::vector<uint8_t> errorCorrection;  // error correction data, as stored
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
    bool Parse(const uint8_t* data, size_t len);

    // Reads and parses the header of a file, which must be a regular file
    // whose header is followed by a Data Object. A header write that a journal
    // beside the file records as unfinished is read as it will be finished
    // (header_journal.h); reading never writes or removes anything. Fails with
    // NS_E_FILE_NOT_FOUND when nothing is at the path (or a folder on it is
    // missing), NS_E_FILE_OPEN_FAILED when it cannot be opened or is not a
    // regular file, NS_E_INVALID_INPUT_FORMAT when it holds no such header.
    ffsdk::Result ReadFile(const std::string& path);

    bool valid() const { return valid_; }

    // ---- Attributes of stream 0, in this order: the computed ones
    // (Duration, Bitrate, Seekable, Broadcast, FileSize), the five Content
    // Description strings that are present, Extended Content Description
    // descriptors, then the stream-0 records of Metadata and Metadata Library.
    // Pointers and indices stay valid until the next Set/Parse/ReadFile/
    // RewriteFile call. Names compare exactly (case-sensitive).
    size_t count() const { return attrs_.size(); }
    const Attribute* at(size_t i) const { return i < attrs_.size() ? &attrs_[i] : nullptr; }
    const Attribute* Find(std::u16string_view name) const;

    // True for the computed attributes, which set() refuses.
    static bool IsReadOnly(std::u16string_view name);

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
    // Fails with E_INVALIDARG for a name or value the header cannot take.
    ffsdk::Result Set(std::u16string_view name, AttrType type, const uint8_t* data, size_t len);

    // Removes every stream-0 record named `name` from Extended Content
    // Description, Metadata and Metadata Library. False if there was none.
    bool Remove(std::u16string_view name);

    // Sizes the Padding Object in the Header Extension (adding an extension
    // when there is none) so that Serialize() gives exactly `size` bytes.
    // False when the header without padding is larger than that, or smaller
    // by less than the 24 bytes of a Padding Object's own header; the header
    // is then left without padding.
    bool FitTo(uint64_t size);
    // The bytes the Header Extension's Padding Objects take up.
    uint64_t padding() const { return headerExt_.padding(); }

    // The header as it now stands: object count and sizes recomputed, the
    // File Properties file size set to the size the file has after
    // RewriteFile, objects not changed written back byte for byte, new
    // objects appended after the existing ones. Empty if !valid().
    std::vector<uint8_t> Serialize() const;

    // Replaces the header of the file at `path`, which must still begin with
    // the header this object parsed. The new file (new header, then every
    // byte that followed the old header) is written to an unnamed temporary
    // file in the same folder (a ReplacementFile), flushed to disk and renamed
    // over the original, so a crash leaves either the old or the new file
    // whole and no temporary that lasts. Refused, with the file untouched,
    // unless the caller may write the file, the file has no other hard link
    // (which would keep the old contents), and the new file can be given the
    // original's owner, group, mode and extended attributes (ACLs included).
    // A symbolic link is followed and its target replaced. On success this
    // object then describes the new file; on
    // failure the original is untouched and no temporary is left behind, and
    // the result says why (a file system error where there is one,
    // NS_E_FILE_WRITE when the file changed or is not a regular file).
    ffsdk::Result RewriteFile(const std::string& path);

    // Writes the edited header into the file at `path`, which must still
    // begin with the header this object parsed. When the header fits in the
    // space the old one took (its padding absorbs the difference) and within
    // one page, it is written over the old one in place through a journal
    // (header_journal.h): the file keeps its data where it is, and every hard
    // link to it sees the new header. Otherwise, or when something not this
    // library's holds the journal's name, the file is rewritten (RewriteFile)
    // with padding that fills the header to a page when it can, so that later
    // writes fit. On success this object then
    // describes the file as written.
    ffsdk::Result WriteFile(const std::string& path);

    // ---- File Properties.
    const GuidBytes& fileId() const { return fileId_; }
    uint64_t fileSize() const { return fileSize_; }  // the stored field
    uint64_t creationDate() const { return creationDate_; }
    uint64_t dataPacketCount() const { return dataPacketCount_; }
    uint64_t playDuration() const { return playDuration_; }  // 100 ns, includes preroll
    // The play duration Serialize writes (100 ns, preroll included).
    void SetPlayDuration(uint64_t units) { playDuration_ = units; }
    uint64_t sendDuration() const { return sendDuration_; }  // 100 ns
    uint64_t prerollMs() const { return prerollMs_; }        // milliseconds
    uint32_t flags() const { return flags_; }
    bool broadcast() const { return (flags_ & 1u) != 0; }
    bool seekable() const { return (flags_ & 2u) != 0; }
    uint32_t minPacketSize() const { return minPacketSize_; }
    uint32_t maxPacketSize() const { return maxPacketSize_; }
    // ASF data packets have one fixed size: min and max packet size agree.
    uint32_t packetSize() const { return maxPacketSize_; }
    uint32_t maxBitrate() const { return maxBitrate_; }

    // Playing duration in 100 ns units (play duration minus preroll, never
    // negative) and the file's bitrate in bit/s, as reported in "Duration"
    // and "Bitrate".
    uint64_t duration() const;
    uint32_t bitrate() const;

    // Whether the header carries a Content Encryption or Extended Content
    // Encryption Object: the file's data is protected.
    bool contentEncrypted() const { return contentEncrypted_; }

    // ---- Streams, in header order (the Header Extension's where the
    // extension lies), one per stream number: a number declared again keeps
    // its first declaration.
    const std::vector<Stream>& streams() const { return streams_; }
    // The sets of mutually exclusive streams, whatever their kind of
    // exclusion (bitrate, language, presentation), in header order.
    const std::vector<std::vector<uint16_t>>& exclusions() const { return exclusions_; }
    const Stream* StreamByNumber(uint16_t number) const;

    // ---- Layout of the parsed file.
    uint64_t headerSize() const { return headerSize_; }  // where the header ends
    bool hasDataObject() const { return hasData_; }
    uint64_t dataObjectOffset() const { return headerSize_; }
    // The stored Data Object size, or the bytes left in the file when that
    // is 0 or larger than the file.
    uint64_t dataObjectSize() const { return dataSize_; }
    uint64_t firstPacketOffset() const { return headerSize_ + 50; }

  private:
    enum class Slot : uint8_t { Raw, FileProps, ContentDesc, ExtContentDesc, HeaderExt };
    struct Object {
        Slot slot = Slot::Raw;
        std::vector<uint8_t> raw;  // the whole object as read (empty for new ones)
    };

    bool ParseHeader(const uint8_t* data, size_t len, uint64_t totalSize);
    bool ParseObject(const GuidBytes& id, const uint8_t* object, size_t size);
    bool ParseFileProps(const uint8_t* p, size_t n);
    bool ParseStream(const uint8_t* p, size_t n);
    // Gives every stream its bitrate, once the whole header is read.
    void ResolveBitrates();
    bool ParseBitrates(const uint8_t* p, size_t n);
    bool ParseDataObject(const uint8_t* p, size_t n, uint64_t available);

    // Whether an object is written from its decoded form rather than as read.
    bool Rewritten(const Object& o) const;
    uint64_t SerializedSize() const;
    // Takes `head`, just written as the header of a file now `fileSize` bytes
    // long, as this object's description of that file.
    void AdoptWritten(const std::vector<uint8_t>& head, uint64_t fileSize) noexcept;

    void RebuildAttributes();
    void AddRecordAttributes(const RecordList& list);
    void AddObject(Slot slot);
    RecordList& EnsureMetadataLibrary();
    void SetContentDesc(size_t field, const std::vector<uint8_t>& value);

    bool valid_ = false;
    std::vector<uint8_t> original_;  // the header bytes as parsed
    uint64_t headerSize_ = 0;
    uint64_t tailSize_ = 0;  // bytes after the header in the parsed file
    std::array<uint8_t, 2> headerReserved_{{1, 2}};

    std::vector<Object> objects_;

    bool hasFileProps_ = false;
    GuidBytes fileId_{};
    uint64_t fileSize_ = 0;
    uint64_t creationDate_ = 0;
    uint64_t dataPacketCount_ = 0;
    uint64_t playDuration_ = 0;
    uint64_t sendDuration_ = 0;
    uint64_t prerollMs_ = 0;
    uint32_t flags_ = 0;
    uint32_t minPacketSize_ = 0;
    uint32_t maxPacketSize_ = 0;
    uint32_t maxBitrate_ = 0;

    std::vector<Stream> streams_;
    std::vector<std::vector<uint16_t>> exclusions_;
    std::vector<std::pair<uint16_t, uint32_t>> streamBitrates_;  // number, bit/s
    bool contentEncrypted_ = false;
    bool hasBitrates_ = false;
    uint64_t bitrateSum_ = 0;

    ContentDescription contentDesc_;
    RecordList extContentDesc_{ListKind::ExtContentDesc};
    HeaderExtension headerExt_;

    bool hasData_ = false;
    uint64_t dataSize_ = 0;

    std::vector<Attribute> attrs_;
};

}  // namespace asf
