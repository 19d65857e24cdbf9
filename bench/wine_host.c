/* SPDX-License-Identifier: MIT */
/*
 * Times a decode through MERVANE.dll inside the process, as a Windows host
 * makes it: user clock, every block written to a file.
 *
 *   bench_wine_host DLL FILE OUT.pcm
 *
 * The clock runs from the GoGoGoReader call to the end call; loading the
 * library is not counted. Prints the milliseconds; exit code 0 on success.
 */
// clang-format off
#include <windows.h>
// clang-format on

#include <stdint.h>
#include <stdio.h>

#include "mervane.h"

typedef int32_t(__stdcall* GoGoGoReaderFn)(const char*, uint32_t, int32_t, SampleCallback);

static FILE* gOut;
static HANDLE gEnded;
static LONG gFailed;

static int32_t __stdcall Receive(const void* data, uint32_t bytes, uint32_t timeMs) {
    (void)timeMs;
    if (data == NULL && bytes == 0) {
        SetEvent(gEnded);
    } else if (fwrite(data, 1, bytes, gOut) != bytes) {
        gFailed = 1;
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: bench_wine_host DLL FILE OUT.pcm\n");
        return 2;
    }
    HMODULE library = LoadLibraryA(argv[1]);
    if (library == NULL) return 1;
    GoGoGoReaderFn decode = (GoGoGoReaderFn)(void (*)(void))GetProcAddress(library, "GoGoGoReader");
    gOut = fopen(argv[3], "wb");
    gEnded = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (decode == NULL || gOut == NULL || gEnded == NULL) return 1;

    LARGE_INTEGER frequency, began, ended;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&began);
    if (decode(argv[2], 0, 1, Receive) != 1) return 1;
    if (WaitForSingleObject(gEnded, 600000) != WAIT_OBJECT_0) return 1;
    QueryPerformanceCounter(&ended);

    if (fclose(gOut) != 0 || gFailed) return 1;
    printf("%.3f\n", (double)(ended.QuadPart - began.QuadPart) * 1e3 / (double)frequency.QuadPart);
    fflush(stdout);
    ExitProcess(0);
}
