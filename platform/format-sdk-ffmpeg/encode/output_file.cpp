// SPDX-License-Identifier: MIT
#include "encode/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace ffsdk {

namespace {

// The I/O context's buffer: what the muxer writes collects here until flush.
constexpr int kBufferSize = 64 * 1024;

}  // namespace

void OutputFile::IoFree::operator()(AVIOContext* io) const {
    // The buffer may have been replaced by FFmpeg; the context knows the current one.
    av_freep(&io->buffer);
    avio_context_free(&io);
}

OutputFile::~OutputFile() {
    io_.reset();
    if (fd_ >= 0) ::close(fd_);
}

Result OutputFile::Open(const std::string& path) {
    if (fd_ >= 0 || io_) return wm::NS_E_INVALID_REQUEST;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    // A named pipe nobody reads: ENXIO at once, where a blocking open waits.
    if (fd_ < 0) return errno == ENXIO ? wm::NS_E_FILE_OPEN_FAILED : wm::ResultFromErrno(errno);
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return wm::ResultFromErrno(errno);
    if (!S_ISREG(st.st_mode)) return wm::NS_E_FILE_OPEN_FAILED;
    // Only now that it is known to be a regular file is it emptied, and its
    // writes may block as ordinary file writes do.
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return wm::ResultFromErrno(errno);
    if (::ftruncate(fd_, 0) != 0) return wm::ResultFromErrno(errno);

    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    if (buffer == nullptr) return E_OUTOFMEMORY;
    io_.reset(avio_alloc_context(buffer, kBufferSize, 1, this, nullptr, &OutputFile::Write,
                                 &OutputFile::Seek));
    if (!io_) {
        av_free(buffer);
        return E_OUTOFMEMORY;
    }
    io_->seekable = AVIO_SEEKABLE_NORMAL;
    return S_OK;
}

int OutputFile::Write(void* opaque, uint8_t* data, int size) {
    auto* self = static_cast<OutputFile*>(opaque);
    if (self->error_ != 0) return AVERROR(self->error_);
    for (int done = 0; done < size;) {
        const ssize_t n = ::write(self->fd_, data + done, static_cast<size_t>(size - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            self->error_ = n < 0 ? errno : ENOSPC;
            return AVERROR(self->error_);
        }
        done += static_cast<int>(n);
    }
    return size;
}

int64_t OutputFile::Seek(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<OutputFile*>(opaque);
    if (whence == AVSEEK_SIZE) {
        struct stat st {};
        return ::fstat(self->fd_, &st) == 0 ? st.st_size : AVERROR(errno);
    }
    const off_t at = ::lseek(self->fd_, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : at;
}

Result OutputFile::Flush() {
    if (!io_) return wm::NS_E_INVALID_REQUEST;
    avio_flush(io_.get());
    if (error_ != 0) return wm::ResultFromErrno(error_);
    return io_->error < 0 ? wm::NS_E_FILE_WRITE : S_OK;
}

Result OutputFile::Close() {
    const Result flushed = Flush();
    io_.reset();
    const int fd = fd_;
    fd_ = -1;
    // close can report a failed write-back on some file systems.
    if (fd >= 0 && ::close(fd) != 0 && flushed) return wm::ResultFromErrno(errno);
    return flushed;
}

}  // namespace ffsdk
