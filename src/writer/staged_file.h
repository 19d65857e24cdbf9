// SPDX-License-Identifier: MIT
// The file an encode writes: made beside its destination and put in the
// destination's place only when the encode has succeeded. Until then a file
// that was at the destination stays as it was, for a decode reading it too; an
// encode that fails, or is killed, leaves it so.
//
// Linux: the new file is a wm::TemporaryFile in the destination's folder
// (unnamed where the file system allows, else of a short fixed-length name and
// locked while in use), reached by the file sink as /proc/self/fd/N; Commit
// renames it over the destination.
// Windows: the new file is a temporary file in the destination's folder
// (GetTempFileName), moved over the destination by Commit, keeping the
// destination's security and attributes (ReplaceFile) where there was one. A
// kill leaves that temporary file.
#pragma once

#include <string>

#include "platform.h"
#include "temporary_file.h"
#include "wide_text.h"

namespace mervane {

class StagedFile {
  public:
    StagedFile() = default;
    ~StagedFile() { Discard(); }
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Prepares a new file for the ANSI path `destination` and gives the name
    // the file sink is to open in `sinkPath`. Fails, with nothing made, when
    // something other than a regular file is at the destination (a folder, a
    // pipe, a device) or one the caller may not write.
    HRESULT Begin(const char* destination, WCHAR (&sinkPath)[kMaxWidePath]);
    bool Active() const;
    // Flushes the new file to disk and puts it in the destination's place.
    // On failure it is removed and the destination is as it was.
    HRESULT Commit();
    // Removes the new file; the destination stays as it was.
    void Discard();

  private:
#ifdef _WIN32
    WCHAR destination_[kMaxWidePath] = {};
    WCHAR staged_[kMaxWidePath] = {};
    bool replaces_ = false;  // a file was at the destination
#else
    std::string destination_;
    std::string name_;  // the destination's name in its folder
    wm::TemporaryFile file_;
#endif
};

}  // namespace mervane
