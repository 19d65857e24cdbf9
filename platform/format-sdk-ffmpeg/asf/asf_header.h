// SPDX-License-Identifier: MIT
// The Header Object of an ASF (Windows Media) file: its objects, streams and
// layout, parsed and serialized, and the file it is read from and written
// back to.
//
// Header is implemented in asf_header.cpp (parsing and serializing) and
// header_file.cpp (reading a file's header, the in-place and the atomic
// write). What it holds has files of its own: file_properties (the File
// Properties record), tags (the attribute records and their editing rules),
// attribute (one value and its type rules), content_description, record_list
// and header_extension (the objects attributes live in); guids.h and
// object_io.h hold what every object is made of.
//
// Every header object is kept as the bytes it was read from, so objects this
// module does not understand (or did not change) are written back byte for
// byte and in their original order. The objects attributes live in are also
// decoded: Content Description, Extended Content Description, and Metadata and
// Metadata Library inside the Header Extension. File Properties, Stream
// Properties, Stream Bitrate Properties, the mutual exclusion objects and
// Extended Stream Properties are decoded read-only.
//
// Only the C++ standard library, the SDK contract and the core's result type
// are used, plus POSIX file calls in header_file.cpp (the standard library has
// no fsync, unnamed temporary files or atomic rename).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "asf/file_properties.h"
#include "asf/guids.h"
#include "asf/header_extension.h"
#include "asf/tags.h"
#include "common/result.h"
#include "wmsdk.h"

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
    // after the header, and any malformed object this module decodes, fails
    // with NS_E_INVALID_INPUT_FORMAT, and the object is left empty (valid()
    // is false).
    ffsdk::Result Parse(const uint8_t* data, size_t len);

    // Reads and parses the header of a file, which must be a regular file
    // whose header is followed by a Data Object. A header write that a journal
    // beside the file records as unfinished is read as it will be finished
    // (header_journal.h); reading never writes or removes anything. Fails with
    // NS_E_FILE_NOT_FOUND when nothing is at the path (or a folder on it is
    // missing), NS_E_FILE_OPEN_FAILED when it cannot be opened or is not a
    // regular file, NS_E_INVALID_INPUT_FORMAT when it holds no such header.
    ffsdk::Result ReadFile(const std::string& path);

    bool valid() const { return valid_; }

    // The attributes of stream 0, the computed ones first (Duration, Bitrate,
    // Seekable, Broadcast, FileSize); see tags.h. Valid until the next
    // Set/Remove/Parse/ReadFile/WriteFile/RewriteFile call.
    const Tags& tags() const { return tags_; }

    // Sets a stream-0 attribute, taking the value in the form the view hands
    // it out (Attribute::Make; a string may omit its terminating 0), stored
    // where tags.h says. Fails with NS_E_INVALID_REQUEST when nothing is
    // parsed, with Tags::CheckName's result for a name that cannot be set,
    // and with E_INVALIDARG for a value the header cannot take.
    ffsdk::Result Set(std::u16string_view name, wm::WMT_ATTR_DATATYPE type, const uint8_t* data,
                      size_t len);

    // Removes every stream-0 record named `name` (Tags::Remove): S_FALSE
    // when there was none, NS_E_INVALID_REQUEST when nothing is parsed.
    ffsdk::Result Remove(std::u16string_view name);

    // Sizes the Padding Object in the Header Extension (adding an extension
    // when there is none) so that Serialize() gives exactly `size` bytes.
    // Fails with ASF_E_BUFFERTOOSMALL when the header without padding is
    // larger than that, or smaller by less than the 24 bytes of a Padding
    // Object's own header; the header is then left without padding.
    ffsdk::Result FitTo(uint64_t size);
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
    const FileProperties& properties() const { return props_; }
    // The play duration Serialize writes (100 ns, preroll included).
    void SetPlayDuration(uint64_t units) { props_.playDuration = units; }

    // Playing duration in 100 ns units (play duration minus preroll, never
    // negative) and the file's bitrate in bit/s, as reported in "Duration"
    // and "Bitrate".
    uint64_t duration() const { return PlayingDuration(props_); }
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
    // The stored Data Object size, or the bytes left in the file when that
    // is 0 or larger than the file.
    uint64_t dataObjectSize() const { return dataSize_; }
    uint64_t firstPacketOffset() const { return headerSize_ + kDataObjectFixedSize; }

  private:
    enum class Slot : uint8_t { Raw, FileProps, ContentDesc, ExtContentDesc, HeaderExt };
    struct Object {
        Slot slot = Slot::Raw;
        std::vector<uint8_t> raw;  // the whole object as read (empty for new ones)
    };

    ffsdk::Result ParseHeader(const uint8_t* data, size_t len, uint64_t totalSize);
    bool ParseObject(const GuidBytes& id, const uint8_t* object, size_t size);
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
    // Gives each object an edit made present its place, after the others.
    void AddNewObjects();

    bool valid_ = false;
    std::vector<uint8_t> original_;  // the header bytes as parsed
    uint64_t headerSize_ = 0;
    uint64_t tailSize_ = 0;  // bytes after the header in the parsed file
    std::array<uint8_t, 2> headerReserved_{{1, 2}};

    std::vector<Object> objects_;
    bool hasFileProps_ = false;
    FileProperties props_;

    std::vector<Stream> streams_;
    std::vector<std::vector<uint16_t>> exclusions_;
    std::vector<std::pair<uint16_t, uint32_t>> streamBitrates_;  // number, bit/s
    bool contentEncrypted_ = false;
    bool hasBitrates_ = false;
    uint64_t bitrateSum_ = 0;

    Tags tags_;
    HeaderExtension headerExt_;

    bool hasData_ = false;
    uint64_t dataSize_ = 0;
};

}  // namespace asf
