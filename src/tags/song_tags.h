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
// untouched and is not a failure.
HRESULT ReadTag(wm::IWMHeaderInfo* header, const WCHAR* name, char* field, size_t fieldSize);

// Writes `field` as the stream-0 string attribute `name`. The field is read up
// to its terminator but never past `fieldSize` bytes; a text that needs
// kMaxTagText or more WCHARs is written as an empty string.
HRESULT WriteTag(wm::IWMHeaderInfo* header, const WCHAR* name, const char* field, size_t fieldSize);

// Opens the file's metadata editor and reads (read = true) or writes the six
// tags of `info`. Writing leaves the record unchanged. Returns 1 when the editor
// was opened and closed successfully, 0 otherwise; single tags do not count.
int32_t EditTags(const WCHAR* path, SongInfo* info, bool read);

}  // namespace mervane
