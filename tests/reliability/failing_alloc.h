// SPDX-License-Identifier: MIT
// An allocator that fails on request, linked into a test program: its malloc,
// calloc, realloc, aligned allocations and operator new take the place of the
// system's for every library of the process (FFmpeg's included) and pass on
// to it (or to the sanitizer's allocator under a sanitizer). Once armed with
// N, the N-th allocation from then on, on any thread, fails as an exhausted
// heap does (null, ENOMEM; operator new throws std::bad_alloc); all others
// succeed. Under a sanitizer an N-th allocation that the C library or the
// dynamic loader asks for passes, and the next one fails.
#pragma once

#include <cstdint>

namespace failing_alloc {

// Counts from here and fails the n-th allocation; 0 stops failing.
void FailNth(uint64_t n);
// Whether the allocation FailNth asked for has been made (and failed).
bool Reached();

}  // namespace failing_alloc
