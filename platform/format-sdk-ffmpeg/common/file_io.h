// SPDX-License-Identifier: MIT
// Whole reads and writes on POSIX file descriptors, an owner that closes one,
// and the naming of unnamed files: what the stand-in's file code shares.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

namespace ffsdk {

// A file descriptor closed when it goes out of scope.
class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            std::swap(fd_, other.fd_);
        }
        return *this;
    }
    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    // Closes and reports whether the close succeeded (a write-back error may
    // show only here).
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

  private:
    int fd_;
};

// Runs `step(buffer, count, offset)` (pread, pwrite or write) until all `n`
// bytes are through; false on an error or a short end of file.
template <typename Byte, typename Step>
bool TransferAll(Byte* buf, size_t n, uint64_t offset, Step step) {
    while (n > 0) {
        const ssize_t r = step(buf, n, static_cast<off_t>(offset));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        buf += r;
        n -= static_cast<size_t>(r);
        offset += static_cast<uint64_t>(r);
    }
    return true;
}

inline bool PreadAll(int fd, uint8_t* buf, size_t n, uint64_t offset) {
    return TransferAll(buf, n, offset,
                       [fd](uint8_t* b, size_t c, off_t o) { return ::pread(fd, b, c, o); });
}

inline bool PwriteAll(int fd, const uint8_t* buf, size_t n, uint64_t offset) {
    return TransferAll(buf, n, offset,
                       [fd](const uint8_t* b, size_t c, off_t o) { return ::pwrite(fd, b, c, o); });
}

// Writes at the descriptor's current position.
inline bool WriteAll(int fd, const uint8_t* buf, size_t n) {
    return TransferAll(buf, n, 0,
                       [fd](const uint8_t* b, size_t c, off_t) { return ::write(fd, b, c); });
}

// Gives the unnamed file (O_TMPFILE) open as `fd` the name `path`; fails with
// EEXIST when the name is taken. The name appears with the file's contents
// complete, never half-written.
inline bool LinkUnnamed(int fd, const std::string& path) noexcept {
    // AT_EMPTY_PATH needs a capability ordinary users lack; /proc does not.
    if (::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0) return true;
    if (errno == EEXIST) return false;
    char self[32];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    return ::linkat(AT_FDCWD, self, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

}  // namespace ffsdk
