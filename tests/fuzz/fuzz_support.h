// SPDX-License-Identifier: MIT
// Shared pieces of the fuzz targets: the input as a file, a stray-file check
// and a way to report a broken promise as a crash the fuzzer keeps.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzz {

// Writes the input to this process's scratch file (a folder of its own, in
// /dev/shm when there is one) and returns its path.
const char* WriteScratch(const uint8_t* data, size_t size);

// True when the scratch folder holds anything but the scratch file.
bool ScratchHasStrays();

// Prints what went wrong and aborts, so the fuzzer saves the input.
[[noreturn]] void Fail(const char* what);

}  // namespace fuzz
