// SPDX-License-Identifier: MIT
// GetWmaSongInfo on any bytes: never a crash, and every field 0-terminated
// inside its size.
#include <cstring>

#include "fuzz_support.h"
#include "mervane.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* path = fuzz::WriteScratch(data, size);
    SongInfo info;
    std::memset(&info, 'x', sizeof info);
    if (GetWmaSongInfo(path, &info) != 1) return 0;
    const char* fields[] = {info.title, info.author, info.album,
                            info.year,  info.track,  info.genreId};
    const size_t sizes[] = {sizeof info.title, sizeof info.author, sizeof info.album,
                            sizeof info.year,  sizeof info.track,  sizeof info.genreId};
    for (int i = 0; i < 6; ++i) {
        // A field the file has no tag for keeps what the host put there.
        if (std::memchr(fields[i], 0, sizes[i]) == nullptr && fields[i][0] != 'x')
            fuzz::Fail("a tag field read is not terminated");
    }
    return 0;
}
