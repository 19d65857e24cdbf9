// SPDX-License-Identifier: MIT
// Six song tags of a file's header, read into and written from a host SongInfo
// through the platform's metadata editor.
#pragma once

#include <cstddef>

#include "mervane.h"
#include "wmsdk.h"

namespace mervane {

// Tag text goes to the SDK through a buffer of this many WCHARs, terminator
// included.
constexpr int kMaxTagText = 256;

// Reads the stream-0 attribute `name` into `field` (`fieldSize` bytes) as a
// 0-terminated ANSI string: strings as their text, numbers (DWORD, QWORD, WORD,
// BOOL) as decimal text, binary and GUID values as an empty string. A value that
// does not fit into the field empties it. An absent attribute leaves the field
// untouched and is not a failure (S_FALSE); a value present that cannot be read
// (no memory for it, say) is.
HRESULT ReadTag(wm::IWMHeaderInfo* header, const WCHAR* name, char* field, size_t fieldSize);

// Writes `field` as the stream-0 string attribute `name`. A field without its
// terminator within `fieldSize` bytes, or whose text is not valid in the code
// page (UTF-8 on Linux), fails with E_INVALIDARG and nothing is written.
HRESULT WriteTag(wm::IWMHeaderInfo* header, const WCHAR* name, const char* field, size_t fieldSize);

// The host record of an edit: a read fills it, a write only reads it.
struct SongRecord {
    explicit SongRecord(SongInfo* into) : readInto(into), writeFrom(into) {}
    explicit SongRecord(const SongInfo* from) : writeFrom(from) {}
    SongInfo* readInto = nullptr;  // empty for a write
    const SongInfo* writeFrom;
};

// Opens the file's metadata editor and reads (read = true) or writes the six
// tags of `record`. A tag that fails does not stop the others. Fails with the
// first failure: of the editor's creation, open or header query, of a tag that
// the file holds but could not be read, or of a tag that could not be set or
// flushed to the file. A write with a field that cannot be stored (see
// WriteTag) fails with E_INVALIDARG before the file is opened.
HRESULT EditTags(const WCHAR* path, SongRecord record, bool read);

}  // namespace mervane
