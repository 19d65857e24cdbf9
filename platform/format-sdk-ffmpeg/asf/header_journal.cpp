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
using ffsdk::PreadAll;
using ffsdk::PwriteAll;
using mervane::AppendLe;
using mervane::ReadLe32;
using mervane::ReadLe64;

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

// Reads the journal at `path`: false if there is none or it is incomplete.
bool ReadJournal(const std::string& path, const struct stat& file, std::vector<uint8_t>* header) {
    Fd journal(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st;
    if (!journal.ok() || ::fstat(journal.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size < static_cast<off_t>(kFixed + kHashSize) ||
        st.st_size > static_cast<off_t>(kMaxJournal)) {
        return false;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size));
    if (!PreadAll(journal.get(), bytes.data(), bytes.size(), 0)) return false;
    const size_t size = static_cast<size_t>(ReadLe32(&bytes[24]));
    if (std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0 ||
        bytes.size() != kFixed + size + kHashSize ||
        ReadLe64(&bytes[kFixed + size]) != Fnv1a(bytes.data(), kFixed + size)) {
        return false;
    }
    // A journal of a file that has since been replaced (renamed over) is stale.
    if (ReadLe64(&bytes[8]) != static_cast<uint64_t>(file.st_ino) ||
        ReadLe64(&bytes[16]) != static_cast<uint64_t>(file.st_dev)) {
        return false;
    }
    header->assign(bytes.begin() + kFixed, bytes.begin() + static_cast<ptrdiff_t>(kFixed + size));
    return true;
}

// Applies and removes the journal of the file open as `fd` (locked by the
// caller). True when no journal is left.
bool Apply(int fd, const std::string& journal) {
    struct stat file;
    if (::fstat(fd, &file) != 0) return false;
    std::vector<uint8_t> header;
    if (ReadJournal(journal, file, &header) && Holds(fd, header.size(), nullptr) &&
        !Holds(fd, header.size(), &header)) {
        if (!PwriteAll(fd, header.data(), header.size(), 0) || ::fdatasync(fd) != 0) return false;
    }
    return ::unlink(journal.c_str()) == 0 || errno == ENOENT;
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
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

}  // namespace

std::string HeaderJournalPath(const std::string& file) {
    return file + ".header-journal";
}

bool RollHeaderJournalForward(const std::string& file) {
    const std::string journal = HeaderJournalPath(file);
    if (!Exists(journal)) return true;
    Fd fd(OpenLocked(file));
    if (!fd.ok()) {
        // A journal without its file belongs to nothing.
        if (errno == ENOENT) return ::unlink(journal.c_str()) == 0 || errno == ENOENT;
        return false;
    }
    return Apply(fd.get(), journal);
}

namespace {

// Makes and flushes the journal recording `header` for the file open as `fd`;
// on failure no journal is left.
bool MakeJournal(int fd, const std::string& journal, const std::vector<uint8_t>& header) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return false;
    std::vector<uint8_t> record(kMagic, kMagic + sizeof kMagic);
    record.reserve(kFixed + header.size() + kHashSize);
    AppendLe(&record, static_cast<uint64_t>(st.st_ino), 8);
    AppendLe(&record, static_cast<uint64_t>(st.st_dev), 8);
    AppendLe(&record, header.size(), 4);
    AppendLe(&record, 0, 4);
    record.insert(record.end(), header.begin(), header.end());
    AppendLe(&record, Fnv1a(record.data(), record.size()), 8);

    // Syncing a file just made also makes its directory entry durable on
    // Linux's journaling file systems (ext4, XFS, btrfs): the journal is found
    // after a power loss without a sync of the folder.
    Fd out(::open(journal.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 0666));
    bool made = out.ok() && PwriteAll(out.get(), record.data(), record.size(), 0) &&
                ::fdatasync(out.get()) == 0;
    made = out.close() && made;
    if (!made) ::unlink(journal.c_str());
    return made;
}

}  // namespace

bool WriteHeaderJournal(const std::string& file, const std::vector<uint8_t>& newHeader) {
    if (newHeader.empty() || newHeader.size() > kInPlaceHeaderLimit) return false;
    Fd fd(OpenLocked(file));
    return fd.ok() && MakeJournal(fd.get(), HeaderJournalPath(file), newHeader);
}

bool WriteHeaderInPlace(const std::string& file, const std::vector<uint8_t>& oldHeader,
                        const std::vector<uint8_t>& newHeader) {
    const size_t size = newHeader.size();
    if (size == 0 || size != oldHeader.size() || size > kInPlaceHeaderLimit) return false;
    Fd fd(OpenLocked(file));
    if (!fd.ok()) return false;
    const std::string journal = HeaderJournalPath(file);
    // An earlier write that did not finish goes first.
    if (Exists(journal) && !Apply(fd.get(), journal)) return false;
    if (!Holds(fd.get(), size, &oldHeader)) return false;
    if (!MakeJournal(fd.get(), journal, newHeader)) return false;
    // From here on the journal holds the write: a failure leaves it for the
    // next open to finish.
    if (!PwriteAll(fd.get(), newHeader.data(), size, 0) || ::fdatasync(fd.get()) != 0) {
        return false;
    }
    return ::unlink(journal.c_str()) == 0;
}

}  // namespace asf
