// SPDX-License-Identifier: MIT
// The Header Extension object: a reserved GUID and WORD, then objects of its
// own. Of those, Metadata and Metadata Library are decoded, Padding Objects are
// counted, and Extended Stream Properties and Advanced Mutual Exclusion are
// read for the streams they describe; everything but the padding, and any
// bytes after the extension data, is kept as read. An extension written anew
// carries its padding as one Padding Object after its other objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "asf/record_list.h"

namespace asf {

// What an Extended Stream Properties object says of one stream. The platform's
// encoders declare some streams of a multiple-bitrate file only here, in a
// Stream Properties object embedded at the object's end.
struct ExtendedStream {
    uint16_t number = 0;               // 1..127
    uint32_t dataBitrate = 0;          // bit/s
    std::vector<uint8_t> streamProps;  // the embedded object's body; empty when none
};

// The stream numbers a mutual exclusion object (Bitrate Mutual Exclusion in
// the header, Advanced Mutual Exclusion in its extension; the body from the
// exclusion type on) names. False when the body is too short for them.
bool ParseExclusion(const uint8_t* body, size_t n, std::vector<uint16_t>* streams);

class HeaderExtension {
  public:
    // Decodes the object's body (after its GUID and size).
    bool Parse(const uint8_t* body, size_t n);
    uint64_t size() const;
    void Encode(std::vector<uint8_t>* out) const;
    bool dirty() const { return dirty_ || metadata_.dirty || metadataLibrary_.dirty; }
    bool present() const { return present_; }
    RecordList& metadata() { return metadata_; }
    const RecordList& metadata() const { return metadata_; }
    RecordList& metadataLibrary() { return metadataLibrary_; }
    const RecordList& metadataLibrary() const { return metadataLibrary_; }

    // Creates the Metadata Library object (and the extension's own fields,
    // for an extension new to the header) if missing.
    RecordList& EnsureMetadataLibrary();

    // In the order the extension holds them. An object of either kind too
    // short for what it announces is kept as read and describes nothing.
    const std::vector<ExtendedStream>& extendedStreams() const { return extendedStreams_; }
    const std::vector<std::vector<uint16_t>>& exclusions() const { return exclusions_; }

    // The bytes Padding Objects take up in the extension (headers included).
    uint64_t padding() const { return padding_; }
    // Makes the extension carry one Padding Object of `bytes` bytes, its
    // header included (0: none; otherwise at least the 24 of an object
    // header), creating the extension's own fields if it is new.
    void SetPadding(uint64_t bytes);

  private:
    enum class Slot : uint8_t { Raw, Metadata, MetadataLibrary };
    struct Inner {
        Slot slot = Slot::Raw;
        std::vector<uint8_t> raw;  // the whole object as read (empty for new ones)
    };
    const RecordList* ListOf(const Inner& o) const;
    // Gives a new extension its reserved fields.
    void EnsurePresent();

    bool present_ = false;
    bool dirty_ = false;
    RecordList metadata_{ListKind::Metadata};
    RecordList metadataLibrary_{ListKind::MetadataLibrary};
    std::vector<uint8_t> fixed_;     // reserved GUID + reserved WORD
    std::vector<uint8_t> trailing_;  // bytes after the extension data, kept
    std::vector<Inner> objects_;
    uint64_t padding_ = 0;
    std::vector<ExtendedStream> extendedStreams_;
    std::vector<std::vector<uint16_t>> exclusions_;
};

}  // namespace asf
