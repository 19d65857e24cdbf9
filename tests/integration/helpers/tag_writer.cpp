// SPDX-License-Identifier: MIT
// Writes song tags into one file through libmervane.so again and again, until
// it is killed: set A, set B, set A... Writes one byte to standard output once
// the library is loaded and the first write is about to begin.
//
//   tag_writer FILE
//
// Exits with 1 if a write fails.
#include <unistd.h>

#include <cstring>

#include "mervane.h"
#include "tag_sets.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    SongInfo sets[2];
    tag_sets::Fill(&sets[0], tag_sets::kA);
    tag_sets::Fill(&sets[1], tag_sets::kB);
    if (write(STDOUT_FILENO, "r", 1) != 1) return 1;
    for (unsigned i = 0;; ++i) {
        if (SetWmaSongInfo(argv[1], &sets[i % 2]) != 1) return 1;
    }
}
