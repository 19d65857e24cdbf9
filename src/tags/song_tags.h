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

// Opens the file's metadata editor and reads (read = true) or writes the six
// tags of `info`. Writing leaves the record unchanged. A tag that fails does not
// stop the others. Returns 1 when reading read every tag the file holds, or when
// writing set all six and flushed them to the file; 0 otherwise. A write with a
// field that cannot be stored (see WriteTag) returns 0 before opening the file.
int32_t EditTags(const WCHAR* path, SongInfo* info, bool read);

}  // namespace mervane
