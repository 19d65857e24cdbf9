/* SPDX-License-Identifier: MIT */
/*
 * A Windows host linked against MERVANE.dll's import library, with no
 * LoadLibrary: calls every export once with arguments it must refuse, then
 * decodes a file on the library's clock and waits, bounded, for the end call.
 *   import_host FILE.wma
 * Prints one line per failed check; exits with 0 if none failed.
 */
#include <stdio.h>
#include <windows.h>

#include "mervane.h"

enum { kEndWaitMs = 30000 };

static int gFailures;
static HANDLE gEnded;
static volatile LONG gBlocks;
static volatile LONG gBytes;
static volatile LONG gEndCalls;

static void Check(int ok, const char* what) {
    if (!ok) {
        printf("FAIL: %s\n", what);
        fflush(stdout);
        ++gFailures;
    }
}

static int32_t MERVANE_CALL OnSamples(const void* data, uint32_t byteCount, uint32_t timeMs) {
    (void)timeMs;
    if (data == NULL && byteCount == 0) {
        InterlockedIncrement(&gEndCalls);
        SetEvent(gEnded);
    } else {
        InterlockedIncrement(&gBlocks);
        InterlockedExchangeAdd(&gBytes, (LONG)byteCount);
    }
    return 1;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fputs("usage: import_host FILE.wma\n", stderr);
        return 2;
    }

    /* Each export, reached through the import table. */
    AudioFormatInfo info;
    SongInfo song;
    ZeroMemory(&info, sizeof info);
    ZeroMemory(&song, sizeof song);
    EnumWMAFormat(NULL);
    Check(GetWmaFileInfo(NULL, &info) == 0, "GetWmaFileInfo(NULL) succeeded");
    Check(GetWmaSongInfo(NULL, &song) == 0, "GetWmaSongInfo(NULL) succeeded");
    Check(SetWmaSongInfo(NULL, &song) == 0, "SetWmaSongInfo(NULL) succeeded");
    Check(InitWMAWriteFile(NULL, &info) == 0, "InitWMAWriteFile(NULL) succeeded");
    Check(WriteWMAFile(NULL, 0) == 0, "WriteWMAFile without a writer succeeded");
    Check(CloseWMAWriteFile() == (int32_t)0x8000FFFF, "CloseWMAWriteFile without a writer");
    Check(CancelReader() == 0, "CancelReader found a reader before any decode");

    /* A whole decode: 16-bit PCM for the file's length, then one end call. */
    gEnded = CreateEventA(NULL, TRUE, FALSE, NULL);
    Check(GoGoGoReader(argv[1], 0, 1, OnSamples) == 1, "GoGoGoReader did not start");
    DWORD waited = WaitForSingleObject(gEnded, kEndWaitMs);
    Check(waited == WAIT_OBJECT_0, "no end call within 30 s");
    Sleep(300);
    printf("%ld blocks, %ld bytes, %ld end calls\n", (long)gBlocks, (long)gBytes, (long)gEndCalls);
    if (waited == WAIT_OBJECT_0) Check(gEndCalls == 1, "more than one end call");
    /* The test file is 3 s of 44.1 kHz stereo. */
    Check(gBytes >= 44100 * 4 * 5 / 2, "less than 2.5 s of PCM");
    fflush(stdout);
    return gFailures == 0 ? 0 : 1;
}
