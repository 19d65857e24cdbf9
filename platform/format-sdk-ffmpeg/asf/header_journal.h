// SPDX-License-Identifier: MIT
// Writing a new ASF header over the old one in place, safe against a process
// killed at any instant and against a power loss.
//
// The new header has exactly the size of the old one (the Padding Object
// takes up the difference), so the Data Object and everything after it stay
// where they are and only the header's bytes change. Those bytes lie within
// the file's first page and go in with one write, which another process reads
// whole or not at all, and which a killed writer has made entirely or not at
// all.
//
// A power loss can still tear that write. So the new bytes first go to a
// journal beside the file ("<file>.header-journal"), which is flushed to disk
// before the file is touched; the file is flushed next, and then the journal
// is removed. The journal appears under its name only once it is whole (it is
// written unnamed and linked in), so a kill leaves a whole journal or none.
//
// A journal counts only when it is a regular file with one link, owned by the
// owner of the file it names or by the superuser, writable by nobody else,
// and names that file's device and inode. Anything else at that name (another
// user's forgery, a leftover of a file since replaced) is ignored and never
// deleted. A counting journal is finished only by the next header write, with
// the right to write the file; readers never write or delete anything: they
// take the header from the journal, as the finished write will leave it
// (PendingHeader). A writer that is neither the file's owner nor the
// superuser could make no journal that counts, so it writes without one (a
// kill still leaves the old or the new header whole); so does the owner where
// no journal can be made beside the file (a folder they may not write, or a
// file name so long that the journal's would pass the system's limit).
//
// Writers of one file hold an exclusive flock on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace asf {

// A header written in place fits in one aligned page.
inline constexpr size_t kInPlaceHeaderLimit = 4096;

// "<file>.header-journal"
std::string HeaderJournalPath(const std::string& file);

enum class InPlace {
    kWritten,      // the file holds the new header
    kUnavailable,  // something not ours holds the journal's name: nothing changed
    kFailed,       // see WriteHeaderInPlace
};

// Replaces the first oldHeader.size() bytes of `file` (a path without
// symbolic links) with newHeader, which must have the same size, at most
// kInPlaceHeaderLimit bytes. A journal an earlier write left is finished
// first. The file must then start with oldHeader and continue with the Data
// Object. kFailed with the file unchanged and no journal of this write left
// when any of that does not hold, the file cannot be written or the journal
// cannot be made; kFailed with the journal left in place when the file could
// not be written or flushed after the journal was (the next write finishes
// it, and readers see the new header meanwhile).
InPlace WriteHeaderInPlace(const std::string& file, const std::vector<uint8_t>& oldHeader,
                           const std::vector<uint8_t>& newHeader);

// The first step of WriteHeaderInPlace alone: records newHeader (at most
// kInPlaceHeaderLimit bytes) in the journal of `file` and flushes it, and
// leaves the file as it is, as a writer killed right after this step would.
bool WriteHeaderJournal(const std::string& file, const std::vector<uint8_t>& newHeader);

// Finishes the write a counting journal of `file` records, if there is one,
// and removes the journal. Needs the right to write `file`. True when no
// counting journal is left; anything else at the journal's name stays.
bool RollHeaderJournalForward(const std::string& file);

// For readers: the header a counting journal of `file` records, when `fd` (the
// file, open for reading) still holds a header of that size followed by the
// Data Object. False, and nothing touched, otherwise.
bool PendingHeader(int fd, const std::string& file, std::vector<uint8_t>* header);

}  // namespace asf
