// SPDX-License-Identifier: MIT
#include "fd_input.h"

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace ffsdk {

namespace {

// The demuxer's read buffer.
constexpr int kBufferSize = 32 * 1024;

int Read(void* opaque, uint8_t* buffer, int size) {
    auto* cursor = static_cast<FdCursor*>(opaque);
    for (;;) {
        const ssize_t got = pread(cursor->fd, buffer, static_cast<size_t>(size),
                                  static_cast<off_t>(cursor->offset));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return AVERROR(EIO);
        if (got == 0) return AVERROR_EOF;
        cursor->offset += got;
        return static_cast<int>(got);
    }
}

int64_t Seek(void* opaque, int64_t offset, int whence) {
    auto* cursor = static_cast<FdCursor*>(opaque);
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE || whence == SEEK_END) {
        struct stat st {};
        if (fstat(cursor->fd, &st) != 0) return AVERROR(EIO);
        if (whence == AVSEEK_SIZE) return st.st_size;
        offset += st.st_size;
    } else if (whence == SEEK_CUR) {
        offset += cursor->offset;
    } else if (whence != SEEK_SET) {
        return AVERROR(EINVAL);
    }
    if (offset < 0) return AVERROR(EINVAL);
    cursor->offset = offset;
    return offset;
}

}  // namespace

AVIOContext* MakeFdInput(FdCursor* cursor) {
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    if (buffer == nullptr) return nullptr;
    AVIOContext* io = avio_alloc_context(buffer, kBufferSize, 0, cursor, &Read, nullptr, &Seek);
    if (io == nullptr) av_free(buffer);
    return io;
}

}  // namespace ffsdk
