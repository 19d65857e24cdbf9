// SPDX-License-Identifier: MIT
// A new file made in a folder and put in the place of one of the folder's
// files in one step (a rename): what an encode's output and a tag rewrite are
// written to, on Linux, by the library and by the Format SDK stand-in alike.
//
// The file is unnamed (O_TMPFILE) where the file system allows, so a kill
// while it is written leaves nothing. Elsewhere, and for the instant between
// naming it and the rename, it has a name of fixed length, ".mrv-" and twelve
// random characters, whatever the target is called: a 255-byte target name
// works, and paths up to the system's limit work because every call is made
// relative to the folder. While the file is in use its maker holds an
// exclusive flock on it; the leftover sweep removes only such names whose lock
// it can take, so it never removes a file a running encode or rewrite (in this
// process or another) is writing, and a killed one's lock is gone with it.
#pragma once

#ifndef _WIN32

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace wm {

class TemporaryFile {
  public:
    TemporaryFile() = default;
    ~TemporaryFile() { Discard(); }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Makes the file in `folder` with `mode` (less the umask), after removing
    // the leftovers there that are owned by `owner` or by this process's user.
    // 0, or the errno that says why nothing was made.
    int Create(const std::string& folder, mode_t mode, uid_t owner) {
        Discard();
        dir_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir_ < 0) return Failed();
        SweepLeftovers(dir_, owner);
        fd_ = ::openat(dir_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
        if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0) return 0;
        Close(fd_);
        // No unnamed files here: a named one, locked before anything is in it.
        // A sweep may take a name in the instant before its lock: then the
        // name is no longer this file's, and another is tried.
        for (int attempt = 0; attempt < 16; ++attempt) {
            NewName(named_);
            fd_ = ::openat(dir_, named_, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
            if (fd_ < 0) {
                named_[0] = 0;
                if (errno == EEXIST) continue;
                return Failed();
            }
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0 && Named(named_)) return 0;
            Close(fd_);
            named_[0] = 0;
        }
        errno = EEXIST;
        return Failed();
    }

    int fd() const { return fd_; }
    bool Active() const { return fd_ >= 0; }

    // Flushes the file, gives it a name if it has none, renames it over
    // `name` (a name in the folder) and flushes the folder. 0, or the errno
    // that says why, with the file discarded and `name` untouched.
    int CommitAs(const char* name) {
        if (fd_ < 0) return EBADF;
        if (::fsync(fd_) != 0) return Failed();
        for (int attempt = 0; attempt < 16 && named_[0] == 0; ++attempt) {
            char candidate[sizeof named_];
            NewName(candidate);
            if (Link(candidate)) {
                std::memcpy(named_, candidate, sizeof named_);
            } else if (errno != EEXIST) {
                return Failed();
            }
        }
        if (named_[0] == 0) {
            errno = EEXIST;
            return Failed();
        }
        if (::renameat(dir_, named_, dir_, name) != 0) return Failed();
        named_[0] = 0;
        // The lock goes only now: until the rename the name was in use.
        Close(fd_);
        ::fsync(dir_);  // makes the rename itself durable
        Close(dir_);
        return 0;
    }

    // Removes the file; nothing else changes.
    void Discard() {
        if (named_[0] != 0 && dir_ >= 0) ::unlinkat(dir_, named_, 0);
        named_[0] = 0;
        Close(fd_);
        Close(dir_);
    }

    // Removes from the folder open as `dir` what earlier writes left: regular
    // files of one link with such a name, owned by `owner` or by this
    // process's user, whose lock nobody holds.
    static void SweepLeftovers(int dir, uid_t owner) {
        int listed = ::dup(dir);
        DIR* entries = listed >= 0 ? ::fdopendir(listed) : nullptr;
        if (entries == nullptr) {
            Close(listed);
            return;
        }
        ::rewinddir(entries);
        while (const dirent* entry = ::readdir(entries)) {
            const char* name = entry->d_name;
            struct stat st;
            if (std::strlen(name) != kNameLength ||
                std::strncmp(name, kPrefix, kPrefixLength) != 0 ||
                ::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
                st.st_nlink != 1 || (st.st_uid != owner && st.st_uid != ::geteuid())) {
                continue;
            }
            constexpr int kOpen = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
            int fd = ::openat(dir, name, O_RDONLY | kOpen);
            if (fd < 0) fd = ::openat(dir, name, O_WRONLY | kOpen);
            struct stat locked;
            struct stat now;
            if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &locked) == 0 &&
                ::fstatat(dir, name, &now, AT_SYMLINK_NOFOLLOW) == 0 &&
                now.st_ino == locked.st_ino && now.st_dev == locked.st_dev) {
                ::unlinkat(dir, name, 0);
            }
            Close(fd);
        }
        ::closedir(entries);
    }

  private:
    static constexpr char kPrefix[] = ".mrv-";
    static constexpr size_t kPrefixLength = sizeof kPrefix - 1;
    static constexpr size_t kRandom = 12;
    static constexpr size_t kNameLength = kPrefixLength + kRandom;

    static void Close(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }

    // The errno of the last call, after discarding the file.
    int Failed() {
        const int error = errno != 0 ? errno : EIO;
        Discard();
        return error;
    }

    // ".mrv-" and twelve characters from the kernel's random source; from a
    // counter and the clock where that is unavailable.
    static void NewName(char (&name)[kNameLength + 1]) {
        static const char kChars[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        static std::atomic<uint32_t> counter{0};
        uint8_t bytes[kRandom];
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
        std::memcpy(name, kPrefix, kPrefixLength);
        for (size_t i = 0; i < kRandom; ++i) name[kPrefixLength + i] = kChars[bytes[i] % 62];
        name[kNameLength] = 0;
    }

    // Whether `name` in the folder is still this file.
    bool Named(const char* name) const {
        struct stat mine;
        struct stat there;
        return ::fstat(fd_, &mine) == 0 &&
               ::fstatat(dir_, name, &there, AT_SYMLINK_NOFOLLOW) == 0 &&
               mine.st_ino == there.st_ino && mine.st_dev == there.st_dev;
    }

    // Gives the unnamed file `name`; fails with EEXIST when it is taken.
    bool Link(const char* name) const {
        // AT_EMPTY_PATH needs a capability ordinary users lack; /proc does not.
        if (::linkat(fd_, "", dir_, name, AT_EMPTY_PATH) == 0) return true;
        if (errno == EEXIST) return false;
        char self[32];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd_);
        return ::linkat(AT_FDCWD, self, dir_, name, AT_SYMLINK_FOLLOW) == 0;
    }

    int dir_ = -1;
    int fd_ = -1;
    char named_[kNameLength + 1] = {};  // the file's name once it has one
};

}  // namespace wm

#endif  // !_WIN32
