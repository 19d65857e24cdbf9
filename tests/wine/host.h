// SPDX-License-Identifier: MIT
/* Shared by the parts of the Wine host (host.c): checks, the probed calls into
 * MERVANE.dll, and the capture of decoded PCM. */
#pragma once

// clang-format off
#include <windows.h>
#include <objbase.h>
// clang-format on

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "mervane.h"

/* ---- Checks ---------------------------------------------------------------- */

extern LONG gFailures;
void Fail(const char* format, ...);

#define CHECK(cond, ...)       \
    do {                       \
        if (!(cond)) {         \
            Fail(__VA_ARGS__); \
        }                      \
    } while (0)

/* ---- Calls through the probe ------------------------------------------------- */

/* One argument slot: 32 bits on 32-bit Windows, 64 on 64-bit Windows. */
typedef uintptr_t Word;
typedef void (*AnyFunction)(void);

void InitProbe(void);
/* Calls fn with count arguments and checks the stack and the callee-saved
 * registers afterwards. */
Word Invoke(const char* name, AnyFunction fn, const Word* args, uint32_t count);

/* ---- The library ------------------------------------------------------------- */

/* Loads the library and finds every export by its bare name; ordinal i + 1 must
 * lead to the same function. Returns 0 when the library is unusable. */
int LoadApi(const char* path);
extern HMODULE gModule;
int UnderWine(void);

int32_t CallCancelReader(void);
int32_t CallCloseWMAWriteFile(void);
void CallEnumWMAFormat(FormatCallback callback);
int32_t CallGetWmaFileInfo(const char* path, AudioFormatInfo* info);
int32_t CallGetWmaSongInfo(const char* path, SongInfo* info);
int32_t CallGoGoGoReader(const char* path, uint32_t startMs, int32_t userClock,
                         SampleCallback callback);
int32_t CallSetWmaSongInfo(const char* path, const SongInfo* info);
int32_t CallWriteWMAFile(const void* pcm, uint32_t byteCount);

/* ---- Decoding ------------------------------------------------------------------- */

/* Decodes here take well under a second per file on the user clock and a few
 * seconds on the reader's: the bound only turns a hang into a failure. */
/* kSilentDecodeWaitMs: the library's 30 s bound on a silent reader, with room. */
enum { kDecodeWaitMs = 20000, kSilentDecodeWaitMs = 60000 };

typedef struct Capture {
    CRITICAL_SECTION lock;
    HANDLE block; /* manual-reset: a block arrived since it was last reset */
    HANDLE ended; /* manual-reset: the end call arrived */
    unsigned char* pcm;
    size_t size;
    size_t capacity;
    uint32_t blocks;
    uint32_t firstTime;
    uint32_t lastTime;
    LONG endCalls;
    uint32_t afterEnd;  /* calls after the end call, or of a decode that did not start */
    int refused;        /* the decode did not start: no call may come */
    uint32_t backwards; /* blocks whose time went back */
    uint32_t malformed; /* a null block with bytes, or an empty block */
} Capture;

extern Capture gCapture;

/* Checks that no call came after the last decode's end (or for a refused
 * one), then empties the capture. Every reset and the host's exit check it:
 * no wait after an end call is long enough to prove nothing follows. */
void CaptureReset(void);
void CheckNoStrayCalls(void);
/* Notes that the decode under way did not start. */
void CaptureRefused(void);
/* Takes the captured PCM out of the capture. */
unsigned char* CaptureTake(size_t* size);
int32_t __stdcall ReceiveSamples(const void* data, uint32_t byteCount, uint32_t timeMs);
uint32_t CapturedBlocks(void);
/* Whether more than `seen` blocks arrive within the decode bound. */
int MoreBlocksArrive(uint32_t seen);
/* Waits for the end call and checks what came up to it. */
int CheckEndedOnce(const char* what, DWORD waitMs);
/* Decodes the whole file on the library's clock; returns 1 if the decode ran. */
int DecodeWhole(const char* path, uint32_t startMs, const char* what);
void WritePcm(const char* base, uint32_t startMs);
unsigned char* ReadWholeFile(const char* path, size_t* size);

typedef struct PcmFormat {
    uint32_t rate;
    uint32_t channels;
} PcmFormat;

void CheckSimilarPcm(const char* what, const unsigned char* got, size_t gotSize,
                     const unsigned char* want, size_t wantSize, PcmFormat format);
/* Compares the captured PCM with what the platform's reader gave from startMs. */
void CheckAgainstReference(const char* refBase, uint32_t startMs, PcmFormat format);
