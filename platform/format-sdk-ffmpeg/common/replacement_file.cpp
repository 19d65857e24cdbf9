// SPDX-License-Identifier: MIT
#include "common/replacement_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

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

std::string RandomSuffix() {
    static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<size_t> pick(0, sizeof kChars - 2);
    std::string suffix(kRandomChars, 'x');
    for (char& c : suffix) c = kChars[pick(random)];
    return suffix;
}

// Removes the temporaries earlier replacements of `target` left in `dir`.
void RemoveLeftovers(const std::string& dir, const std::string& target) {
    const std::string prefix = TemporaryPrefix(target);
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return;
    while (const dirent* entry = ::readdir(d)) {
        const size_t length = std::strlen(entry->d_name);
        if (length == prefix.size() + kRandomChars &&
            std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0) {
            ::unlinkat(::dirfd(d), entry->d_name, 0);
        }
    }
    ::closedir(d);
}

bool CopyOwnerAndMode(int fd, const struct stat& original) {
    // File systems without Unix permissions (FAT) refuse chmod but give every
    // file the same mode; that is fine as long as the modes agree.
    struct stat now {};
    const bool modeOk =
        ::fchmod(fd, original.st_mode & 07777) == 0 ||
        (::fstat(fd, &now) == 0 && (now.st_mode & 07777) == (original.st_mode & 07777));
    if (modeOk && ::fchown(fd, original.st_uid, original.st_gid) != 0) {
        // Only the owner or root can hand a file to someone else; keeping the
        // caller as owner is the best that can be done.
    }
    return modeOk;
}

}  // namespace

ReplacementFile::~ReplacementFile() {
    discard();
}

void ReplacementFile::discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!named_.empty()) ::unlink(named_.c_str());
    named_.clear();
}

Result ReplacementFile::fail() {
    const int error = errno;
    discard();
    return error != 0 ? ResultFromErrno(error) : Result(wm::NS_E_FILE_WRITE);
}

Result ReplacementFile::begin(const std::string& target, const struct stat& original) {
    discard();
    target_ = target;
    dir_ = DirName(target);
    RemoveLeftovers(dir_, target_);

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
            return fail();
        }
    }
    if (!CopyOwnerAndMode(fd_, original)) return fail();
    return S_OK;
}

bool ReplacementFile::linkTemporary() {
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string name = dir_ + "/" + TemporaryPrefix(target_) + RandomSuffix();
        // AT_EMPTY_PATH needs a capability ordinary users lack; /proc does not.
        if (::linkat(fd_, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0 ||
            ::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            named_ = name;
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

Result ReplacementFile::commit() {
    if (fd_ < 0) return wm::NS_E_INVALID_REQUEST;
    errno = 0;
    if (::fsync(fd_) != 0 || (named_.empty() && !linkTemporary())) return fail();
    const int fd = fd_;
    fd_ = -1;
    // close can report a failed write-back on some file systems.
    if (::close(fd) != 0 || ::rename(named_.c_str(), target_.c_str()) != 0) return fail();
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
