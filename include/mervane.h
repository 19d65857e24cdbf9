/* SPDX-License-Identifier: MIT */
/*
 * mervane: a plain function interface to Windows Media Audio files.
 *
 * Paths and tag texts are ANSI strings (the system code page; UTF-8 on Linux).
 * Times at this interface are milliseconds. Functions returning int return 1 on
 * success and 0 on failure; CloseWMAWriteFile returns an HRESULT (0 = success).
 * No function reports success for what it did not do, throws, or aborts, even
 * when memory or threads run out.
 *
 * Results:
 * - GetWmaFileInfo: 1 when every field was filled (bitrate and duration from
 *   the file's "Bitrate" and "Duration"; a file without one leaves that field
 *   as the host set it).
 * - GetWmaSongInfo: 1 when every one of the six tags the file holds was read
 *   into its field. A tag the file does not hold leaves its field as the host
 *   set it. On 0, fields may have been written.
 * - SetWmaSongInfo: 1 when all six tags are in the file. 0 when not all six
 *   are: either the file is as it was (it could not be opened, read or written,
 *   or a field holds no 0 within its size or text that is not valid in the code
 *   page), or a tag the editor refused is missing and the others were written.
 * - GoGoGoReader: 1 when the decode started. A decode that cannot go on (a
 *   failed read, no memory) ends early with its end call.
 * - CloseWMAWriteFile: 0 only when every WriteWMAFile of the encode succeeded
 *   and the file was written; the encode is over either way.
 *
 * Threads:
 * - Every function runs to completion on the caller's thread, except the decode,
 *   which goes on after GoGoGoReader has returned 1.
 * - A decode's blocks reach the SampleCallback on the Format SDK's delivery
 *   thread, one at a time and in order. Its end call (NULL, 0, 0) comes exactly
 *   once, after the last block, on a thread of the system's pool (never the
 *   delivery thread); by then the file is closed, and the host may start its
 *   next decode, or unload the library, from inside the end call.
 * - FormatCallback runs on the thread that called EnumWMAFormat.
 * - One decode at a time: GoGoGoReader returns 0 while a decode runs (until its
 *   end call has begun) and leaves that decode alone. The end call's thread is
 *   reserved when the decode starts; GoGoGoReader returns 0, with nothing left
 *   open, when it cannot be had. CancelReader may be called from any thread at
 *   any time; it returns 0 when no decode runs.
 * - GetWmaFileInfo works on objects of its own: it may be called while a decode
 *   runs, from any thread, including from the SampleCallback.
 * - One encode at a time: InitWMAWriteFile returns 0 while one is open and leaves
 *   it alone. InitWMAWriteFile, WriteWMAFile and CloseWMAWriteFile share one
 *   writer and must not overlap each other; they may overlap the reading side,
 *   e.g. WriteWMAFile from inside the SampleCallback.
 * - GetWmaSongInfo, SetWmaSongInfo and EnumWMAFormat use objects of their own
 *   and may run on any thread; two tag writes to the same file must not overlap.
 *
 * Files:
 * - An encode writes a new file beside its destination, which takes the
 *   destination's place at CloseWMAWriteFile when the encode succeeded. Until
 *   then a file at the destination stays as it was, for a decode of it too; an
 *   encode that fails, or is killed, leaves it so. InitWMAWriteFile refuses a
 *   destination that is a folder, a pipe, a device or a file the caller may
 *   not write.
 * Linux (on Windows the platform's Format SDK decides the first two):
 * - GetWmaFileInfo, GetWmaSongInfo and GoGoGoReader never write or remove a file.
 * - SetWmaSongInfo writes only a file the caller may write, and keeps its owner,
 *   group, mode and extended attributes. Every hard link of a file sees the new
 *   tags: they go into the header in place when it has room; a write that would
 *   need a new file for a file with several links returns 0 and leaves it as it
 *   was.
 * - An encode killed leaves nothing named beside the destination (on Windows,
 *   its temporary file, "mrvXXXX.tmp", stays).
 */
#ifndef MERVANE_H
#define MERVANE_H

#include <stddef.h>
#include <stdint.h>

#ifdef _WIN32
#define MERVANE_CALL __stdcall
#else
#define MERVANE_CALL
#endif

#if defined(MERVANE_BUILDING) && !defined(_WIN32)
#define MERVANE_API __attribute__((visibility("default")))
#else
#define MERVANE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Format of a file (GetWmaFileInfo) or of an encoding to make (InitWMAWriteFile). */
typedef struct AudioFormatInfo {
    uint32_t formatKind; /* 3 after GetWmaFileInfo */
    uint32_t sampleRate; /* Hz */
    uint32_t channels;
    uint32_t bitrateKbps; /* kbit/s */
    uint32_t reserved0;
    uint32_t reserved1;
    uint32_t reserved2;
    uint32_t durationMs;
} AudioFormatInfo;

/* Six song tags as 0-terminated ANSI strings. */
typedef struct SongInfo {
    char title[256];
    char author[256];
    char album[256];
    char year[20];
    char track[20];
    char genreId[20];
} SongInfo;

/* Receives decoded PCM: bytes (valid only during the call), byte count, block time
 * in ms. The end of a decode is the call (NULL, 0, 0). The result is ignored. */
typedef int32_t(MERVANE_CALL* SampleCallback)(const void* data, uint32_t byteCount,
                                              uint32_t timeMs);

/* Receives one codec format: bitrate in bit/s, channel count, sample rate in Hz. */
typedef int32_t(MERVANE_CALL* FormatCallback)(uint32_t bitrate, uint32_t channels,
                                              uint32_t sampleRate);

MERVANE_API int32_t MERVANE_CALL CancelReader(void);
MERVANE_API int32_t MERVANE_CALL CloseWMAWriteFile(void);
MERVANE_API void MERVANE_CALL EnumWMAFormat(FormatCallback callback);
MERVANE_API int32_t MERVANE_CALL GetWmaFileInfo(const char* path, AudioFormatInfo* info);
MERVANE_API int32_t MERVANE_CALL GetWmaSongInfo(const char* path, SongInfo* info);
MERVANE_API int32_t MERVANE_CALL GoGoGoReader(const char* path, uint32_t startMs, int32_t userClock,
                                              SampleCallback callback);
MERVANE_API int32_t MERVANE_CALL InitWMAWriteFile(const char* path, const AudioFormatInfo* info);
MERVANE_API int32_t MERVANE_CALL SetWmaSongInfo(const char* path, const SongInfo* info);
MERVANE_API int32_t MERVANE_CALL WriteWMAFile(const void* pcm, uint32_t byteCount);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(sizeof(AudioFormatInfo) == 32, "AudioFormatInfo is eight 32-bit words");
static_assert(sizeof(SongInfo) == 828, "SongInfo layout");
static_assert(offsetof(SongInfo, author) == 256 && offsetof(SongInfo, album) == 512 &&
                  offsetof(SongInfo, year) == 768 && offsetof(SongInfo, track) == 788 &&
                  offsetof(SongInfo, genreId) == 808,
              "SongInfo field offsets");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(AudioFormatInfo) == 32, "AudioFormatInfo is eight 32-bit words");
_Static_assert(sizeof(SongInfo) == 828, "SongInfo layout");
#endif

#endif /* MERVANE_H */
