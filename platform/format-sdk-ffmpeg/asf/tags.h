// SPDX-License-Identifier: MIT
// The tag records of a header: the attributes of stream 0 as the platform's
// IWMHeaderInfo shows them, from the objects that hold them (Content
// Description and Extended Content Description here, Metadata and Metadata
// Library inside the Header Extension, which every call that needs them
// takes), and the rules for where an edited value is stored.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "asf/attribute.h"
#include "asf/content_description.h"
#include "asf/header_extension.h"
#include "asf/record_list.h"
#include "common/result.h"

namespace asf {

class Tags {
  public:
    // The two header objects held here, for parsing and serializing them.
    ContentDescription& content() { return content_; }
    const ContentDescription& content() const { return content_; }
    RecordList& extended() { return extended_; }
    const RecordList& extended() const { return extended_; }

    // ---- The attribute view: `computed` (the header's own numbers), the
    // five Content Description strings that are present, Extended Content
    // Description descriptors, then the stream-0 records of Metadata and
    // Metadata Library. Pointers and indices stay valid until the next
    // Rebuild. Names compare exactly (case-sensitive).
    void Rebuild(std::vector<Attribute> computed, const HeaderExtension& ext);
    size_t count() const { return view_.size(); }
    const Attribute* at(size_t i) const { return i < view_.size() ? &view_[i] : nullptr; }
    const Attribute* Find(std::u16string_view name) const;

    // Whether a name can be set at all: NS_E_ATTRIBUTE_READ_ONLY for the
    // computed ones (Duration, Bitrate, Seekable, Broadcast, FileSize),
    // E_INVALIDARG for an empty name, one containing a 0 character or one too
    // long for a record.
    static ffsdk::Result CheckName(std::u16string_view name);

    // Stores a value whose name passed CheckName (the view is then stale):
    //  - "Title", "Author", "Copyright", "Description", "Rating" go to Content
    //    Description (made present if missing). They are strings there, so
    //    any other type is refused, as is a string over 65,535 bytes.
    //    String records elsewhere (Extended Content Description, Metadata,
    //    Metadata Library, stream 0) whose name equals the Content
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
    //  - A new name is appended to Extended Content Description (made present
    //    if missing) when it fits there, else to Metadata Library inside the
    //    Header Extension (both made present if missing).
    // Fails with E_INVALIDARG for a value no object can take.
    ffsdk::Result Set(const Attribute& attr, HeaderExtension& ext);

    // Removes every stream-0 record named `name` from Extended Content
    // Description, Metadata and Metadata Library; S_FALSE when there was
    // none.
    ffsdk::Result Remove(std::u16string_view name, HeaderExtension& ext);

  private:
    void SetContent(size_t field, const std::vector<uint8_t>& value, HeaderExtension& ext);
    void AddRecords(const RecordList& list);

    ContentDescription content_;
    RecordList extended_{ListKind::ExtContentDesc};
    std::vector<Attribute> view_;
};

}  // namespace asf
