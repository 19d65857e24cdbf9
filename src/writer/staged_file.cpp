// SPDX-License-Identifier: MIT
#include "staged_file.h"

#include "wm_results.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
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

bool StagedFile::Active() const {
    return file_.Active();
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
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : destination_.substr(0, slash);
    name_ = slash == std::string::npos ? destination_ : destination_.substr(slash + 1);

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
    const int error = file_.Create(folder, 0666, replaces ? old.st_uid : geteuid());
    if (error != 0) return wm::ResultFromErrno(error);
    // The new file takes the old one's permissions, and its owner where the
    // caller may give it away.
    if (replaces && (fchmod(file_.fd(), old.st_mode & 07777) != 0 ||
                     (fchown(file_.fd(), old.st_uid, old.st_gid) != 0 && errno != EPERM))) {
        const int failure = errno;
        Discard();
        return wm::ResultFromErrno(failure);
    }
    // The sink reaches the new file through its descriptor, named or not: no
    // path of the folder's length is made.
    char path[32];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", file_.fd());
    ToWidePath(path, sinkPath);
    return S_OK;
}

HRESULT StagedFile::Commit() {
    if (!Active()) return E_UNEXPECTED;
    const int error = file_.CommitAs(name_.c_str());
    return error == 0 ? S_OK : wm::ResultFromErrno(error);
}

void StagedFile::Discard() {
    file_.Discard();
}

#endif

}  // namespace mervane
