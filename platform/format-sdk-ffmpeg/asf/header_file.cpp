// SPDX-License-Identifier: MIT
// Reading a file's header, and replacing it with the edited one: in place
// through a journal when it fits where the old one was, else a new file
// written beside the old one (a ReplacementFile), flushed and renamed over it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>

#include "asf/asf_header.h"
#include "asf/header_journal.h"
#include "asf/object_io.h"
#include "common/file_io.h"
#include "common/replacement_file.h"

namespace asf {
namespace {

using ffsdk::Fd;
using ffsdk::PreadAll;
using ffsdk::WriteAll;

// Why the last file call failed; the write itself when errno says nothing.
ffsdk::Result FileFailure() {
    return errno != 0 ? wm::ResultFromErrno(errno) : ffsdk::Result(wm::NS_E_FILE_WRITE);
}

// The path with symbolic links resolved, or empty.
std::string Resolved(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return std::string();
    std::string target(resolved);
    std::free(resolved);
    return target;
}

// The file a write of `header` replaces: the one a symbolic link points to,
// not the link.
ffsdk::Result WriteTarget(const Header& header, const std::string& path, std::string* target) {
    if (!header.valid()) return wm::NS_E_INVALID_REQUEST;
    errno = 0;
    *target = Resolved(path);
    return target->empty() ? FileFailure() : ffsdk::Result();
}

}  // namespace

ffsdk::Result Header::ReadFile(const std::string& path) {
    *this = Header();
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused below.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.ok()) {
        return errno == ENOENT || errno == ENOTDIR ? wm::NS_E_FILE_NOT_FOUND
                                                   : wm::NS_E_FILE_OPEN_FAILED;
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return wm::NS_E_FILE_OPEN_FAILED;
    const uint64_t fileSize = static_cast<uint64_t>(st.st_size);
    uint8_t fixed[kHeaderFixedSize];
    if (fileSize < kHeaderFixedSize || !PreadAll(fd.get(), fixed, sizeof fixed, 0)) {
        return wm::NS_E_INVALID_INPUT_FORMAT;
    }
    if (ReadGuid(fixed) != kHeaderGuid) return wm::NS_E_INVALID_INPUT_FORMAT;
    const uint64_t headerSize = wm::ReadLe64(fixed + 16);
    if (headerSize < kHeaderFixedSize || headerSize > kMaxHeaderSize || headerSize > fileSize ||
        fileSize - headerSize < kDataObjectFixedSize) {
        return wm::NS_E_INVALID_INPUT_FORMAT;
    }
    std::vector<uint8_t> buf(static_cast<size_t>(headerSize) + kDataObjectFixedSize);
    if (!PreadAll(fd.get(), buf.data(), buf.size(), 0)) return wm::NS_E_INVALID_INPUT_FORMAT;
    // A header write killed halfway is read as it will be finished. The
    // journal sits beside the file a symbolic link points to.
    if (headerSize <= kInPlaceHeaderLimit) {
        const std::string target = Resolved(path);
        std::vector<uint8_t> pending;
        if (!target.empty() && PendingHeader(fd.get(), target, &pending) &&
            pending.size() == headerSize) {
            std::copy(pending.begin(), pending.end(), buf.begin());
        }
    }
    Header h;
    const ffsdk::Result parsed = h.ParseHeader(buf.data(), buf.size(), fileSize);
    if (!parsed) return parsed;
    // A header the file ends with is not a file to read.
    if (!h.hasData_) return wm::NS_E_INVALID_INPUT_FORMAT;
    *this = std::move(h);
    return S_OK;
}

// --------------------------------------------------------- file rewriting

ffsdk::Result Header::RewriteFile(const std::string& path) {
    std::string target;
    const ffsdk::Result found = WriteTarget(*this, path, &target);
    if (!found) return found;

    // Only a caller who may write the file replaces it. Opening it for
    // writing asks the system exactly that (mode, ACLs, read-only mounts).
    Fd in(::open(target.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK));
    struct stat st;
    if (!in.ok() || ::fstat(in.get(), &st) != 0) return FileFailure();
    // Its other links would keep the old contents.
    if (!S_ISREG(st.st_mode) || st.st_nlink != 1) return wm::NS_E_FILE_WRITE;
    const uint64_t oldSize = static_cast<uint64_t>(st.st_size);
    if (oldSize < headerSize_) return wm::NS_E_FILE_WRITE;

    // The file must still start with the header this object describes,
    // otherwise the bytes copied after the new header would not match it.
    std::vector<uint8_t> current(original_.size());
    if (!PreadAll(in.get(), current.data(), current.size(), 0) || current != original_) {
        return wm::NS_E_FILE_WRITE;
    }

    Header updated(*this);
    updated.tailSize_ = oldSize - headerSize_;
    const std::vector<uint8_t> head = updated.Serialize();

    ffsdk::ReplacementFile out;
    const ffsdk::Result begun = out.Begin(target, st, in.get());
    if (!begun) return begun;
    bool ok = WriteAll(out.fd(), head.data(), head.size());
    if (ok) {
        std::vector<uint8_t> buf(1u << 20);
        uint64_t offset = headerSize_;
        while (ok && offset < oldSize) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(buf.size(), oldSize - offset));
            ok = PreadAll(in.get(), buf.data(), n, offset) && WriteAll(out.fd(), buf.data(), n);
            offset += n;
        }
        // A file that grew while being copied has changed under us.
        uint8_t probe;
        ok = ok && ::pread(in.get(), &probe, 1, static_cast<off_t>(oldSize)) == 0;
    }
    if (!ok) return FileFailure();  // the replacement goes with `out`
    const ffsdk::Result committed = out.Commit();
    if (!committed) return committed;

    AdoptWritten(head, head.size() + updated.tailSize_);
    return S_OK;
}

ffsdk::Result Header::WriteFile(const std::string& path) {
    std::string target;
    const ffsdk::Result found = WriteTarget(*this, path, &target);
    if (!found) return found;
    // A write killed halfway is finished first: this header was read as that
    // write leaves the file.
    if (!RollHeaderJournalForward(target)) return wm::NS_E_FILE_WRITE;
    if (headerSize_ <= kInPlaceHeaderLimit) {
        Header updated(*this);
        if (updated.FitTo(headerSize_).ok()) {
            const std::vector<uint8_t> head = updated.Serialize();
            switch (WriteHeaderInPlace(target, original_, head)) {
                case InPlace::kWritten:
                    AdoptWritten(head, headerSize_ + tailSize_);
                    return S_OK;
                case InPlace::kFailed:
                    return wm::NS_E_FILE_WRITE;
                case InPlace::kUnavailable:  // rewritten below instead
                    break;
            }
        }
    }
    // A header that grew past its space goes into a new file, with room to
    // spare up to a page for the writes after this one.
    Header roomy(*this);
    if (!roomy.FitTo(kInPlaceHeaderLimit).ok()) roomy = *this;
    const ffsdk::Result written = roomy.RewriteFile(target);
    if (written.ok()) *this = std::move(roomy);
    return written;
}

// The Data Object is unchanged; at most its offset moved with the header size.
// The file is written by now: a failure here (no memory to parse the new
// header) only leaves this object empty, it does not undo the write.
void Header::AdoptWritten(const std::vector<uint8_t>& head, uint64_t fileSize) noexcept {
    const bool hasData = hasData_;
    const uint64_t dataSize = dataSize_;
    try {
        Header fresh;
        if (fresh.ParseHeader(head.data(), head.size(), fileSize).ok()) {
            fresh.hasData_ = hasData;
            fresh.dataSize_ = dataSize;
            *this = std::move(fresh);
            return;
        }
    } catch (...) {
    }
    *this = Header();
}

}  // namespace asf
