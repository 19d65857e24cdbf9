// SPDX-License-Identifier: MIT
#include "staged_file.h"

#include "wm_results.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#endif

namespace mervane {

#ifdef _WIN32

namespace {

HRESULT LastError() {
    const DWORD error = GetLastError();
    return error != 0 ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

}  // namespace

bool StagedFile::Active() const {
    return staged_[0] != 0;
}

HRESULT StagedFile::Begin(const char* destination, WCHAR (&sinkPath)[kMaxWidePath]) {
    Discard();
    ToWidePath(destination, destination_);
    if (destination_[0] == 0) return E_INVALIDARG;
    const DWORD attributes = GetFileAttributesW(destination_);
    replaces_ = attributes != INVALID_FILE_ATTRIBUTES;
    if (replaces_) {
        // A file there must be one the caller may write (and replace).
        if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
            return E_ACCESSDENIED;
        }
        const HANDLE file = CreateFileW(destination_, GENERIC_WRITE | DELETE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return LastError();
        const bool disk = GetFileType(file) == FILE_TYPE_DISK;
        CloseHandle(file);
        if (!disk) return E_ACCESSDENIED;
    }
    // The new file goes into the destination's folder, so that it can take
    // the destination's place without a copy.
    WCHAR folder[kMaxWidePath];
    int end = 0;
    for (int i = 0; destination_[i] != 0; ++i) {
        folder[i] = destination_[i];
        if (destination_[i] == L'\\' || destination_[i] == L'/') end = i + 1;
    }
    folder[end] = 0;
    if (end == 0) {
        folder[0] = L'.';
        folder[1] = 0;
    }
    if (GetTempFileNameW(folder, L"mrv", 0, staged_) == 0) {
        staged_[0] = 0;
        return LastError();
    }
    for (int i = 0; i < kMaxWidePath; ++i) {
        sinkPath[i] = staged_[i];
        if (staged_[i] == 0) break;
    }
    return S_OK;
}

HRESULT StagedFile::Commit() {
    if (!Active()) return E_UNEXPECTED;
    // The new contents reach the disk before they take the old file's place.
    const HANDLE file = CreateFileW(staged_, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool flushed = file != INVALID_HANDLE_VALUE && FlushFileBuffers(file);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    bool moved = false;
    if (flushed) {
        // ReplaceFile keeps the replaced file's security and attributes; a
        // destination that is gone (or never was) takes a plain move.
        moved = replaces_ && ReplaceFileW(destination_, staged_, nullptr,
                                          REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
        if (!moved && (!replaces_ || GetLastError() == ERROR_FILE_NOT_FOUND)) {
            moved = MoveFileExW(staged_, destination_, MOVEFILE_WRITE_THROUGH) != 0;
        }
    }
    if (!moved) {
        const HRESULT hr = LastError();
        Discard();
        return hr;
    }
    staged_[0] = 0;
    return S_OK;
}

void StagedFile::Discard() {
    if (Active()) DeleteFileW(staged_);
    staged_[0] = 0;
}

#else

namespace {

// ".NAME.mervane-" and six characters, beside `path`.
std::string TemporaryName(const std::string& folder, const std::string& path) {
    static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const size_t slash = path.find_last_of('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    uint64_t mix = static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(getpid()) << 32);
    std::string name = folder + "/." + base + ".mervane-";
    for (int i = 0; i < 6; ++i) {
        mix = mix * 6364136223846793005ull + 1442695040888963407ull;
        name += kChars[(mix >> 33) % (sizeof kChars - 1)];
    }
    return name;
}

}  // namespace

bool StagedFile::Active() const {
    return fd_ >= 0 || !named_.empty();
}

HRESULT StagedFile::Begin(const char* destination, WCHAR (&sinkPath)[kMaxWidePath]) {
    Discard();
    destination_ = destination;
    if (destination_.empty()) return E_INVALIDARG;
    // A symbolic link to a file has its target replaced, as writing through
    // the link would.
    if (char* target = realpath(destination, nullptr)) {
        destination_ = target;
        std::free(target);
    }
    const size_t slash = destination_.find_last_of('/');
    folder_ = slash == std::string::npos ? "." : slash == 0 ? "/" : destination_.substr(0, slash);

    struct stat old {};
    const bool replaces = stat(destination_.c_str(), &old) == 0;
    if (replaces) {
        // Opened without blocking (a pipe nobody reads would wait) and without
        // truncating: only to learn that the caller may write it and that it is
        // a regular file.
        const int fd = open(destination_.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) return errno == ENXIO ? wm::NS_E_FILE_OPEN_FAILED : wm::ResultFromErrno(errno);
        const bool regular = fstat(fd, &old) == 0 && S_ISREG(old.st_mode);
        close(fd);
        if (!regular) return wm::NS_E_FILE_OPEN_FAILED;
    }
    fd_ = open(folder_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    int fd = fd_;
    char path[32];
    if (fd_ >= 0) {
        std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd_);
    } else {
        for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
            named_ = TemporaryName(folder_, destination_);
            fd = open(named_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST) break;
        }
        if (fd < 0) {
            const int error = errno;
            named_.clear();  // never made: not ours to remove
            return wm::ResultFromErrno(error);
        }
    }
    // The new file takes the old one's permissions, and its owner where the
    // caller may give it away.
    if (replaces && (fchmod(fd, old.st_mode & 07777) != 0 ||
                     (fchown(fd, old.st_uid, old.st_gid) != 0 && errno != EPERM))) {
        const int error = errno;
        if (fd != fd_) close(fd);
        Discard();
        return wm::ResultFromErrno(error);
    }
    if (fd != fd_) close(fd);
    ToWidePath(named_.empty() ? path : named_.c_str(), sinkPath);
    return S_OK;
}

HRESULT StagedFile::Commit() {
    if (!Active()) return E_UNEXPECTED;
    int error = 0;
    if (fd_ >= 0) {
        char self[32];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd_);
        if (fsync(fd_) != 0) error = errno;
        for (int attempt = 0; attempt < 16 && error == 0 && named_.empty(); ++attempt) {
            std::string name = TemporaryName(folder_, destination_);
            // AT_EMPTY_PATH needs a capability ordinary users lack; /proc does not.
            if (linkat(fd_, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0 ||
                linkat(AT_FDCWD, self, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                named_.swap(name);
            } else if (errno != EEXIST) {
                error = errno;
            }
        }
        if (error == 0 && named_.empty()) error = EEXIST;
    } else {
        const int fd = open(named_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || fsync(fd) != 0) error = errno;
        if (fd >= 0) close(fd);
    }
    if (error == 0 && rename(named_.c_str(), destination_.c_str()) != 0) error = errno;
    if (error != 0) {
        Discard();
        return wm::ResultFromErrno(error);
    }
    named_.clear();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    // Makes the rename itself durable.
    const int folder = open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return S_OK;
}

void StagedFile::Discard() {
    if (!named_.empty()) unlink(named_.c_str());
    named_.clear();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

#endif

}  // namespace mervane
