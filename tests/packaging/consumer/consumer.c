/* SPDX-License-Identifier: MIT */
/*
 * A host built against an installed mervane: prints a file's format and exits
 * with 0 if its sample rate is the one expected.
 *   consumer FILE.wma RATE
 */
#include <mervane.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fputs("usage: consumer FILE.wma RATE\n", stderr);
        return 2;
    }
    AudioFormatInfo info = {0};
    if (GetWmaFileInfo(argv[1], &info) != 1) {
        fprintf(stderr, "GetWmaFileInfo failed on %s\n", argv[1]);
        return 1;
    }
    printf("%u Hz, %u channels, %u kbit/s, %u ms\n", (unsigned)info.sampleRate,
           (unsigned)info.channels, (unsigned)info.bitrateKbps, (unsigned)info.durationMs);
    return info.sampleRate == strtoul(argv[2], NULL, 10) ? 0 : 1;
}
