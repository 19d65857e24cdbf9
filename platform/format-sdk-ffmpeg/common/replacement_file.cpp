// SPDX-License-Identifier: MIT
#include "common/replacement_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

#include "common/file_io.h"

namespace ffsdk {

namespace {

constexpr char kMarker[] = ".mervane-";
constexpr size_t kRandomChars = 6;

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// ".NAME.mervane-" for the target NAME; a temporary is that and six characters.
std::string TemporaryPrefix(const std::string& target) {
    return "." + BaseName(target) + kMarker;
}

// Six characters for a temporary's name, from the kernel's random source (no
// state of our own: nothing to allocate or set up per thread); a counter and
// the clock where that source is unavailable.
std::string RandomSuffix() {
    static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<uint32_t> counter{0};
    uint8_t bytes[kRandomChars];
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        uint64_t mix = static_cast<uint64_t>(now.tv_nsec) ^ (uint64_t{counter++} << 32) ^
                       static_cast<uint64_t>(::getpid());
        for (uint8_t& b : bytes) {
            mix = mix * 6364136223846793005ull + 1442695040888963407ull;
            b = static_cast<uint8_t>(mix >> 56);
        }
    }
    std::string suffix(kRandomChars, 'x');
    for (size_t i = 0; i < kRandomChars; ++i) suffix[i] = kChars[bytes[i] % (sizeof kChars - 1)];
    return suffix;
}

// Removes the temporaries earlier replacements of `target` left in `dir`:
// regular files of one link owned by the target's owner, as a replacement
// leaves them; never anything another user could have put there.
void RemoveLeftovers(const std::string& dir, const std::string& target, uid_t owner) {
    const std::string prefix = TemporaryPrefix(target);
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return;
    while (const dirent* entry = ::readdir(d)) {
        const size_t length = std::strlen(entry->d_name);
        struct stat st;
        if (length == prefix.size() + kRandomChars &&
            std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0 &&
            ::fstatat(::dirfd(d), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == owner) {
            ::unlinkat(::dirfd(d), entry->d_name, 0);
        }
    }
    ::closedir(d);
}

// The value of the extended attribute `name` of `fd`; false if it has none.
bool ReadAttribute(int fd, const char* name, std::vector<char>* value) {
    for (;;) {
        const ssize_t size = ::fgetxattr(fd, name, nullptr, 0);
        if (size < 0) return false;
        value->resize(static_cast<size_t>(size));
        const ssize_t got = ::fgetxattr(fd, name, value->data(), value->size());
        if (got >= 0) {
            value->resize(static_cast<size_t>(got));
            return true;
        }
        if (errno != ERANGE) return false;  // ERANGE: it grew meanwhile
    }
}

// Gives the new file `fd` the owner, group, mode and extended attributes of
// the original; false if any of them cannot be given.
bool CopyRights(int fd, const struct stat& original, int source) {
    struct stat now {};
    if (::fstat(fd, &now) != 0) return false;
    // Owner and group first: changing them clears the set-id bits, which the
    // mode then restores. Only the superuser gives a file to someone else, and
    // a file system without owners (FAT) gives every file the same one.
    if ((now.st_uid != original.st_uid || now.st_gid != original.st_gid) &&
        ::fchown(fd, original.st_uid, original.st_gid) != 0) {
        return false;
    }
    // File systems without Unix permissions refuse chmod but give every file
    // the same mode; that is fine as long as the modes agree.
    if (::fchmod(fd, original.st_mode & 07777) != 0 &&
        (::fstat(fd, &now) != 0 || (now.st_mode & 07777) != (original.st_mode & 07777))) {
        return false;
    }
    // After the mode, which would otherwise narrow an access ACL's mask.
    ssize_t size = ::flistxattr(source, nullptr, 0);
    if (size < 0) return errno == ENOTSUP;  // a file system without them
    std::vector<char> names(static_cast<size_t>(size));
    size = ::flistxattr(source, names.data(), names.size());
    if (size < 0) return false;
    std::vector<char> value;
    std::vector<char> present;
    for (size_t at = 0; at < static_cast<size_t>(size); at += std::strlen(&names[at]) + 1) {
        const char* name = &names[at];
        if (!ReadAttribute(source, name, &value)) {
            if (errno == ENODATA) continue;  // removed meanwhile
            return false;
        }
        // The system may have set it already (a security label, say).
        if (ReadAttribute(fd, name, &present) && present == value) continue;
        if (::fsetxattr(fd, name, value.data(), value.size(), 0) != 0) return false;
    }
    return true;
}

}  // namespace

ReplacementFile::~ReplacementFile() {
    Discard();
}

void ReplacementFile::Discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!named_.empty()) ::unlink(named_.c_str());
    named_.clear();
}

Result ReplacementFile::Fail() {
    const int error = errno;
    Discard();
    return error != 0 ? wm::ResultFromErrno(error) : Result(wm::NS_E_FILE_WRITE);
}

Result ReplacementFile::Begin(const std::string& target, const struct stat& original, int source) {
    Discard();
    target_ = target;
    dir_ = DirName(target);
    RemoveLeftovers(dir_, target_, original.st_uid);

    fd_ = ::open(dir_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        // No unnamed temporaries here: a named one, removed on failure here
        // and, after a kill, by the next replacement.
        for (int attempt = 0; attempt < 16 && fd_ < 0; ++attempt) {
            named_ = dir_ + "/" + TemporaryPrefix(target_) + RandomSuffix();
            fd_ = ::open(named_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd_ < 0 && errno != EEXIST) break;
        }
        if (fd_ < 0) {
            named_.clear();  // never made: not ours to remove
            return Fail();
        }
    }
    errno = 0;
    if (!CopyRights(fd_, original, source)) {
        Discard();
        return wm::E_ACCESS_DENIED;
    }
    return S_OK;
}

bool ReplacementFile::LinkTemporary() {
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string name = dir_ + "/" + TemporaryPrefix(target_) + RandomSuffix();
        // Whatever allocates (and may throw) comes before the link; once the
        // name is made, it is taken over without allocating, to be removed if
        // the rename does not follow.
        if (LinkUnnamed(fd_, name)) {
            named_.swap(name);
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

Result ReplacementFile::Commit() {
    if (fd_ < 0) return wm::NS_E_INVALID_REQUEST;
    errno = 0;
    if (::fsync(fd_) != 0 || (named_.empty() && !LinkTemporary())) return Fail();
    const int fd = fd_;
    fd_ = -1;
    // close can report a failed write-back on some file systems.
    if (::close(fd) != 0 || ::rename(named_.c_str(), target_.c_str()) != 0) return Fail();
    named_.clear();
    // Make the rename itself durable.
    const int dirFd = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return S_OK;
}

}  // namespace ffsdk
