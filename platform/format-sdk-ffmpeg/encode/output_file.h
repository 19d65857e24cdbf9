// SPDX-License-Identifier: MIT
// The encoder's output file, which FFmpeg's muxer writes through an I/O
// context of ours.
//
// open refuses at once anything but a regular file: the path is opened without
// blocking, so a named pipe nobody reads fails there instead of waiting for a
// reader, and a pipe, device or folder that opens is refused before anything
// is written. A missing file is created, a regular one truncated.
//
// Nothing is held back: each write the muxer makes is handed to the file
// system before flush() returns, and a write the file system refuses (a full
// disk, a file-size limit) fails that flush and every later one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/result.h"

struct AVIOContext;

namespace ffsdk {

class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile();  // closes without reporting
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // NS_E_FILE_OPEN_FAILED for a path that is not a regular file.
    Result Open(const std::string& path);
    // For AVFormatContext::pb; null before open. The context stays ours.
    AVIOContext* io() const { return io_.get(); }
    // Succeeds once everything written so far is with the file system; else
    // the reason the first refused write was refused (E_DISK_FULL for a full
    // disk or a file-size limit).
    Result Flush();
    // flush, then closes the file; the first failure met.
    Result Close();

  private:
    struct IoFree {
        void operator()(AVIOContext* io) const;
    };

    static int Write(void* opaque, uint8_t* data, int size);
    static int64_t Seek(void* opaque, int64_t offset, int whence);

    int fd_ = -1;
    std::unique_ptr<AVIOContext, IoFree> io_;
    int error_ = 0;  // errno of the first refused write, kept
};

}  // namespace ffsdk
