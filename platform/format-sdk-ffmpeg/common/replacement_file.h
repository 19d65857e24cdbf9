// SPDX-License-Identifier: MIT
// A new version of a file, written beside it and put in its place in one step.
//
// The new contents go to an unnamed temporary file (O_TMPFILE) in the target's
// folder, so a process killed while writing them leaves nothing behind. Commit
// names it ".NAME.mervane-XXXXXX" only for the instant before renaming it over
// the target. A kill in that instant, or a file system without unnamed
// temporaries (where the named file is used from the start), can leave such a
// name behind; the next replacement of the same file removes it (a regular
// file of one link owned by the target's owner; nothing else of that name).
//
// The new file takes the target's place only with the target's owner, group,
// mode and extended attributes (ACLs included); where any of them cannot be
// given to it, the replacement is refused.
#pragma once

#include <sys/stat.h>

#include <string>

#include "common/result.h"

namespace ffsdk {

class ReplacementFile {
  public:
    ReplacementFile() = default;
    ~ReplacementFile();  // a replacement not committed is discarded
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Starts replacing `target` (a path with symbolic links resolved), open
    // as `source`, whose status is `original`: the new file gets its owner,
    // group, mode and extended attributes, or the replacement fails
    // (E_ACCESS_DENIED). Removes what earlier replacements of it left.
    Result Begin(const std::string& target, const struct stat& original, int source);
    // Where the new contents are written.
    int fd() const { return fd_; }
    // Flushes the new contents to disk and renames them over the target, then
    // flushes the folder. On failure the target is untouched, and the result
    // says why (the file system's reason where it gave one).
    Result Commit();

  private:
    bool LinkTemporary();
    // The failure errno says, after discarding the replacement.
    Result Fail();
    void Discard();

    std::string target_;
    std::string dir_;
    std::string named_;  // the temporary's name once it has one
    int fd_ = -1;
};

}  // namespace ffsdk
