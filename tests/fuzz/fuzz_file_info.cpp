// SPDX-License-Identifier: MIT
// GetWmaFileInfo on any bytes: never a crash, and the same answer twice.
#include <cstring>

#include "fuzz_support.h"
#include "mervane.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* path = fuzz::WriteScratch(data, size);
    AudioFormatInfo first;
    AudioFormatInfo second;
    std::memset(&first, 0, sizeof first);
    std::memset(&second, 0, sizeof second);
    const int32_t ok = GetWmaFileInfo(path, &first);
    if (GetWmaFileInfo(path, &second) != ok) fuzz::Fail("two queries of one file disagree");
    if (ok == 1 && std::memcmp(&first, &second, sizeof first) != 0)
        fuzz::Fail("two queries of one file give different formats");
    if (ok == 1 && first.formatKind != 3) fuzz::Fail("format kind is not 3");
    return 0;
}
