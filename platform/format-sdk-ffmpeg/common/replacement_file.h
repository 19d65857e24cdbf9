// SPDX-License-Identifier: MIT
// A new version of a file, written beside it and put in its place in one step:
// a wm::TemporaryFile in the target's folder (unnamed where the file system
// allows, else of a short fixed-length name and locked while in use), renamed
// over the target by Commit. A kill leaves the old file or the new one; a name
// it leaves (between naming and rename, or without unnamed files) is removed
// by the next write in that folder.
//
// The new file takes the target's place only with the target's owner, group,
// mode and extended attributes (ACLs included); where any of them cannot be
// given to it, the replacement is refused.
#pragma once

#include <sys/stat.h>

#include <string>

#include "common/result.h"
#include "temporary_file.h"

namespace ffsdk {

class ReplacementFile {
  public:
    ReplacementFile() = default;
    // A replacement not committed is discarded with the object.
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Starts replacing `target` (a path with symbolic links resolved), open
    // as `source`, whose status is `original`: the new file gets its owner,
    // group, mode and extended attributes, or the replacement fails
    // (E_ACCESS_DENIED). Removes what earlier writes left in the folder.
    Result Begin(const std::string& target, const struct stat& original, int source);
    // Where the new contents are written.
    int fd() const { return file_.fd(); }
    // Flushes the new contents to disk and renames them over the target, then
    // flushes the folder. On failure the target is untouched, and the result
    // says why (the file system's reason where it gave one).
    Result Commit();

  private:
    std::string name_;  // the target's name in its folder
    wm::TemporaryFile file_;
};

}  // namespace ffsdk
