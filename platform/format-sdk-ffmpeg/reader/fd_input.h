// SPDX-License-Identifier: MIT
// FFmpeg's reads of a file through a descriptor the reader keeps open: pread
// at a position of the reader's own, so neither the descriptor's offset nor
// the file's path is used again. A decode so reads the file it opened,
// whatever becomes of the path meanwhile.
#pragma once

#include <cstdint>

struct AVIOContext;

namespace ffsdk {

struct FdCursor {
    int fd = -1;
    int64_t offset = 0;  // where the next read starts
};

// An I/O context reading `cursor` (which must outlive it) from its offset;
// null when out of memory. Free it with AvFree.
AVIOContext* MakeFdInput(FdCursor* cursor);

}  // namespace ffsdk
