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
// is removed. A journal found later (the writer died, or the machine did) is
// rolled forward by the next open of the file through this module: the new
// header is written again, whatever the file holds at that moment, as long
// as the file is still the one the journal was made for.
//
// Writers and roll-forwards of one file hold an exclusive flock on it, so a
// roll-forward never replays a journal the writer is about to remove.
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

// Replaces the first oldHeader.size() bytes of `file` (a path without
// symbolic links) with newHeader, which must have the same size, at most
// kInPlaceHeaderLimit bytes. The file must still start with oldHeader and
// continue with the Data Object. Returns false, with the file unchanged and no
// journal left, when any of that does not hold or the journal cannot be made;
// returns false with the journal left in place when the file could not be
// written or flushed after the journal was (the next open finishes the write).
bool WriteHeaderInPlace(const std::string& file, const std::vector<uint8_t>& oldHeader,
                        const std::vector<uint8_t>& newHeader);

// The first step of WriteHeaderInPlace alone: records newHeader (at most
// kInPlaceHeaderLimit bytes) in the journal of `file` and flushes it, and
// leaves the file as it is, as a writer killed right after this step would.
bool WriteHeaderJournal(const std::string& file, const std::vector<uint8_t>& newHeader);

// Finishes a write a journal beside `file` records, if there is one: a
// journal that is incomplete (its writer died while making it), or that
// belongs to a file since replaced, is removed; a complete one is applied
// and removed. Returns false only when a complete journal could not be
// applied (the file is not writable, say); the file is then left as it is.
bool RollHeaderJournalForward(const std::string& file);

}  // namespace asf
