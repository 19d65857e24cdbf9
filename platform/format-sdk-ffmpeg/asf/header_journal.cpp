// SPDX-License-Identifier: MIT
#include "asf/header_journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "asf/guids.h"
#include "common/file_io.h"
#include "little_endian.h"

namespace asf {

namespace {

using ffsdk::Fd;
using ffsdk::LinkUnnamed;
using ffsdk::PreadAll;
using ffsdk::PwriteAll;

// Journal layout, little-endian:
//   0   8  magic
//   8   8  inode of the file it belongs to
//   16  8  device of that file
//   24  4  header size N
//   28  4  zero
//   32  N  the new header
//   32+N 8 FNV-1a hash of the bytes before it
constexpr uint8_t kMagic[8] = {'A', 'S', 'F', 'H', 'J', 'N', 'L', '1'};
constexpr size_t kFixed = 32;
constexpr size_t kHashSize = 8;
constexpr size_t kMaxJournal = kFixed + kInPlaceHeaderLimit + kHashSize;

uint64_t Fnv1a(const uint8_t* data, size_t size) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < size; ++i) {
        hash ^= data[i];
        hash *= 0x100000001b3ull;
    }
    return hash;
}

// Whether `fd` holds `header` at its start (when `header` is given) and the
// Data Object right after `size` header bytes.
bool Holds(int fd, size_t size, const std::vector<uint8_t>* header) {
    std::vector<uint8_t> bytes(size + kDataGuid.size());
    if (!PreadAll(fd, bytes.data(), bytes.size(), 0)) return false;
    if (std::memcmp(bytes.data() + size, kDataGuid.data(), kDataGuid.size()) != 0) return false;
    return header == nullptr || std::memcmp(bytes.data(), header->data(), size) == 0;
}

// What is at a journal's name.
enum class Found { kNone, kForeign, kPending };

// Whether a journal with this status may speak for `file`.
bool Trusted(const struct stat& journal, const struct stat& file) {
    return S_ISREG(journal.st_mode) && journal.st_nlink == 1 &&
           (journal.st_uid == file.st_uid || journal.st_uid == 0) &&
           (journal.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Looks at the journal of the file open as `fd`: kPending, with the header it
// records, when it counts and is whole; kForeign for anything else there.
// Opens nothing but a regular file, and follows no link.
Found Inspect(int fd, const std::string& path, std::vector<uint8_t>* header) {
    struct stat file;
    struct stat named;
    // A name past the system's limit holds nothing.
    if (::lstat(path.c_str(), &named) != 0) {
        return errno == ENOENT || errno == ENAMETOOLONG ? Found::kNone : Found::kForeign;
    }
    if (::fstat(fd, &file) != 0 || !Trusted(named, file) ||
        named.st_size < static_cast<off_t>(kFixed + kHashSize) ||
        named.st_size > static_cast<off_t>(kMaxJournal)) {
        return Found::kForeign;
    }
    Fd journal(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY));
    struct stat st;
    if (!journal.ok() || ::fstat(journal.get(), &st) != 0 || st.st_ino != named.st_ino ||
        st.st_dev != named.st_dev || !Trusted(st, file) || st.st_size != named.st_size) {
        return Found::kForeign;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size));
    if (!PreadAll(journal.get(), bytes.data(), bytes.size(), 0)) return Found::kForeign;
    const size_t size = static_cast<size_t>(wm::ReadLe32(&bytes[24]));
    if (std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0 ||
        bytes.size() != kFixed + size + kHashSize ||
        wm::ReadLe64(&bytes[kFixed + size]) != Fnv1a(bytes.data(), kFixed + size) ||
        wm::ReadLe64(&bytes[8]) != static_cast<uint64_t>(file.st_ino) ||
        wm::ReadLe64(&bytes[16]) != static_cast<uint64_t>(file.st_dev) ||
        !Holds(fd, size, nullptr)) {
        return Found::kForeign;
    }
    header->assign(bytes.begin() + kFixed, bytes.begin() + static_cast<ptrdiff_t>(kFixed + size));
    return Found::kPending;
}

// Writes the header a pending journal records into the file open as `fd`
// (locked and writable), then removes the journal. True when it is gone.
bool Finish(int fd, const std::string& journal, const std::vector<uint8_t>& header) {
    if (!Holds(fd, header.size(), &header)) {
        if (!PwriteAll(fd, header.data(), header.size(), 0) || ::fdatasync(fd) != 0) return false;
    }
    return ::unlink(journal.c_str()) == 0 || errno == ENOENT;
}

// Opens `file` for writing and takes its lock; -1 on failure.
int OpenLocked(const std::string& file) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    struct stat st;
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX) == 0) {
        return fd;
    }
    if (fd >= 0) ::close(fd);
    return -1;
}

// Whether a journal this process makes for the file open as `fd` would count.
bool JournalWouldCount(int fd) {
    struct stat st;
    const uid_t self = ::geteuid();
    return ::fstat(fd, &st) == 0 && (self == 0 || self == st.st_uid);
}

// Makes and flushes the journal recording `header` for the file open as `fd`;
// on failure no journal of ours is left.
bool MakeJournal(int fd, const std::string& journal, const std::vector<uint8_t>& header) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return false;
    std::vector<uint8_t> record(kMagic, kMagic + sizeof kMagic);
    record.reserve(kFixed + header.size() + kHashSize);
    wm::AppendLe(&record, static_cast<uint64_t>(st.st_ino), 8);
    wm::AppendLe(&record, static_cast<uint64_t>(st.st_dev), 8);
    wm::AppendLe(&record, header.size(), 4);
    wm::AppendLe(&record, 0, 4);
    record.insert(record.end(), header.begin(), header.end());
    wm::AppendLe(&record, Fnv1a(record.data(), record.size()), 8);

    // Who may read the file may read its pending header; nobody else writes it.
    const mode_t mode = st.st_mode & 0644;
    const size_t slash = journal.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : journal.substr(0, slash + 1);
    int raw = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    bool named = false;
    if (raw < 0) {
        // No unnamed files here: the journal is made under its name, and a
        // kill while it is written leaves one that does not count.
        raw = ::open(journal.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        named = raw >= 0;
    }
    Fd out(raw);
    bool made = out.ok() && ::fchmod(out.get(), mode) == 0 &&
                PwriteAll(out.get(), record.data(), record.size(), 0);
    if (made && !named) named = made = LinkUnnamed(out.get(), journal);
    // Syncing the journal after its link makes both the contents and the name
    // durable on Linux's journaling file systems (ext4, XFS, btrfs).
    made = made && ::fsync(out.get()) == 0;
    made = out.Close() && made;
    if (!made && named) ::unlink(journal.c_str());
    return made;
}

}  // namespace

std::string HeaderJournalPath(const std::string& file) {
    return file + ".header-journal";
}

bool RollHeaderJournalForward(const std::string& file) {
    const std::string journal = HeaderJournalPath(file);
    struct stat st;
    if (::lstat(journal.c_str(), &st) != 0) return true;
    Fd fd(OpenLocked(file));
    if (!fd.ok()) return errno == ENOENT;  // nothing it could speak for
    std::vector<uint8_t> header;
    return Inspect(fd.get(), journal, &header) != Found::kPending ||
           Finish(fd.get(), journal, header);
}

bool PendingHeader(int fd, const std::string& file, std::vector<uint8_t>* header) {
    return Inspect(fd, HeaderJournalPath(file), header) == Found::kPending;
}

bool WriteHeaderJournal(const std::string& file, const std::vector<uint8_t>& newHeader) {
    if (newHeader.empty() || newHeader.size() > kInPlaceHeaderLimit) return false;
    Fd fd(OpenLocked(file));
    return fd.ok() && MakeJournal(fd.get(), HeaderJournalPath(file), newHeader);
}

InPlace WriteHeaderInPlace(const std::string& file, const std::vector<uint8_t>& oldHeader,
                           const std::vector<uint8_t>& newHeader) {
    const size_t size = newHeader.size();
    if (size == 0 || size != oldHeader.size() || size > kInPlaceHeaderLimit) {
        return InPlace::kFailed;
    }
    Fd fd(OpenLocked(file));
    if (!fd.ok()) return InPlace::kFailed;
    const std::string journal = HeaderJournalPath(file);
    std::vector<uint8_t> pending;
    switch (Inspect(fd.get(), journal, &pending)) {
        case Found::kPending:  // an earlier write that did not finish goes first
            if (!Finish(fd.get(), journal, pending)) return InPlace::kFailed;
            break;
        case Found::kForeign:
            return InPlace::kUnavailable;
        case Found::kNone:
            break;
    }
    if (!Holds(fd.get(), size, &oldHeader)) return InPlace::kFailed;
    bool journaled = JournalWouldCount(fd.get());
    if (journaled && !MakeJournal(fd.get(), journal, newHeader)) {
        // No journal can be made beside the file (a folder its owner may not
        // write, a name at the system's limit): the write goes in without
        // one, as another writer's does.
        if (errno != EACCES && errno != EPERM && errno != ENAMETOOLONG) return InPlace::kFailed;
        journaled = false;
    }
    // From here on the journal holds the write: a failure leaves it for the
    // next write to finish.
    if (!PwriteAll(fd.get(), newHeader.data(), size, 0) || ::fdatasync(fd.get()) != 0) {
        return InPlace::kFailed;
    }
    return !journaled || ::unlink(journal.c_str()) == 0 ? InPlace::kWritten : InPlace::kFailed;
}

}  // namespace asf
