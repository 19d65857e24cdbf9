/* SPDX-License-Identifier: MIT */
/*
 * mervane: a plain function interface to Windows Media Audio files.
 *
 * Conventions:
 * - Paths and tag texts are 0-terminated ANSI strings: in the process's ANSI
 *   code page on Windows, UTF-8 on Linux. Times at this interface are
 *   milliseconds. PCM is 16-bit signed, in the machine's byte order, channels
 *   interleaved.
 * - Functions returning int32_t return 1 on success and 0 on failure, with no
 *   error code; CloseWMAWriteFile returns an HRESULT (0 = success). No function
 *   reports success for what it did not do, throws, aborts or prints, even when
 *   memory or threads run out.
 * - A NULL path, record, block or callback is refused (0, or nothing done) and
 *   changes nothing. Other pointers are not checked: a path must be
 *   0-terminated, a record of the layout below.
 * - A tag or attribute the file does not hold leaves its field as the host set
 *   it: clear a record before a call that fills it.
 *
 * File names:
 * - A path names exactly one file. On Linux it is bytes, as the system takes
 *   them (any length the system takes, bytes that are not UTF-8 included).
 * - On Windows a path is converted from the ANSI code page and may hold at most
 *   259 UTF-16 characters. A host reaches any file name, including names its
 *   code page cannot spell, by running with UTF-8 as its ANSI code page: an
 *   application manifest whose <activeCodePage> is UTF-8 (Windows 10 version
 *   1903 and later), with paths and tag texts passed as UTF-8, as on Linux.
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
 * - A file at the destination of an encode keeps its mode, and its owner where
 *   the caller may give it away; a symbolic link there has its target replaced.
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

/* Format of a file (written by GetWmaFileInfo) or of an encoding to make (of
 * which InitWMAWriteFile reads sampleRate, channels and bitrateKbps only). */
typedef struct AudioFormatInfo {
    uint32_t formatKind; /* 3 after GetWmaFileInfo */
    uint32_t sampleRate; /* Hz */
    uint32_t channels;
    uint32_t bitrateKbps; /* kbit/s */
    uint32_t reserved0;   /* reserved0..2: 0 after GetWmaFileInfo */
    uint32_t reserved1;
    uint32_t reserved2;
    uint32_t durationMs;
} AudioFormatInfo;

/* Six song tags as 0-terminated ANSI strings, with the header attribute behind
 * each. */
typedef struct SongInfo {
    char title[256];  /* "Title" */
    char author[256]; /* "Author" */
    char album[256];  /* "WM/AlbumTitle" */
    char year[20];    /* "WM/Year" */
    char track[20];   /* "WM/Track" */
    char genreId[20]; /* "WM/GenreID" */
} SongInfo;

/* Receives a decode's PCM: the block's bytes (valid only during the call), their
 * count, and the block's presentation time in ms from the start of the file
 * (its low 32 bits). The end of a decode is the call (NULL, 0, 0). The result is
 * ignored. */
typedef int32_t(MERVANE_CALL* SampleCallback)(const void* data, uint32_t byteCount,
                                              uint32_t timeMs);

/* Receives one codec format: bitrate in bit/s, channel count, sample rate in Hz.
 * The result is ignored. */
typedef int32_t(MERVANE_CALL* FormatCallback)(uint32_t bitrate, uint32_t channels,
                                              uint32_t sampleRate);

/* ---- File information ---- */

/* Opens `path`, reads its header attributes and the format of its first output,
 * and closes it again. Returns 1 when all of that succeeded and the first
 * output is audio; it has then written formatKind = 3, sampleRate and channels
 * (those of the PCM a decode of the file delivers), reserved0..2 = 0, and, when
 * the file holds them, bitrateKbps (its "Bitrate" / 1000) and durationMs (its
 * "Duration"). Returns 0 when the file cannot be opened (missing, not a file,
 * not ASF, protected, or its open not reported within 30 s), its first output
 * is not audio, an attribute cannot be read, or memory runs out; formatKind,
 * sampleRate, channels and reserved0..2 are then as they were, bitrateKbps and
 * durationMs may have been written. */
MERVANE_API int32_t MERVANE_CALL GetWmaFileInfo(const char* path, AudioFormatInfo* info);

/* ---- Decoding ---- */

/* Opens `path` and starts decoding its first output (the audio GetWmaFileInfo
 * describes; no other stream reaches the host) from `startMs`, and returns 1
 * once the reader has accepted the start. The blocks then reach `callback` on
 * the Format SDK's delivery thread, as 16-bit PCM at the rate and channel count
 * GetWmaFileInfo reports. On Linux the first block begins with the sample at
 * startMs and is stamped startMs; a start past the end delivers no block. The
 * decode ends with exactly one end call, callback(NULL, 0, 0): at the end of
 * the file, after CancelReader, or early when the reader cannot go on (a failed
 * read, no memory) or stays silent (no block, no clock tick, no status) for
 * 30 s outside the callback. See Threads for where each call comes.
 *
 * `userClock` non-zero: the library drives the reader's clock. When the reader
 * starts, and each time it has delivered everything up to the time it was
 * given, the library gives it one second more; the decode so runs as fast as
 * the callback returns (the callback holds the delivery thread, so a slow
 * callback slows the decode and nothing is dropped): for transcoding and
 * analysis. `userClock` 0: the reader follows its own clock and delivers in
 * real time, about one second of audio per second: for playback.
 *
 * Returns 0, with no end call made and nothing left open, when path or callback
 * is NULL, a decode runs already, the end call's thread cannot be reserved, the
 * file cannot be opened (as for GetWmaFileInfo), its first output is not audio,
 * or the reader refuses the user clock or the start. */
MERVANE_API int32_t MERVANE_CALL GoGoGoReader(const char* path, uint32_t startMs, int32_t userClock,
                                              SampleCallback callback);

/* Asks the running decode to stop, from any thread, without waiting: its end
 * call follows on the pool thread. Returns 1 when the reader took the request;
 * 0 when no decode has its reader open (none started, or its end has begun) or
 * the reader refused the request. */
MERVANE_API int32_t MERVANE_CALL CancelReader(void);

/* ---- Encoding: InitWMAWriteFile, any number of WriteWMAFile, CloseWMAWriteFile ---- */

/* Begins encoding 16-bit PCM into a new Windows Media Audio file (WMA 2, format
 * tag 0x0161) for `path`. Reads info->sampleRate, info->channels and
 * info->bitrateKbps only: the three must match a format the platform's WMA
 * codec offers, the bitrate to within 249 bit/s (EnumWMAFormat lists the
 * formats). Returns 1 when the writer has begun; the encode is then open until
 * CloseWMAWriteFile. Returns 0, with nothing made and a file at `path` as it
 * was, when path or info is NULL, an encode is open already (it is left alone),
 * no format matches, the destination is a folder, a pipe, a device or a file
 * the caller may not write, its folder does not exist or takes no new file, or
 * the writer fails. Where the new file is written: see Files. */
MERVANE_API int32_t MERVANE_CALL InitWMAWriteFile(const char* path, const AudioFormatInfo* info);

/* Encodes `byteCount` bytes of PCM at `pcm`, at the encode's rate and channel
 * count, in whole frames (channels x 2 bytes; Linux takes any count). Each block
 * is stamped with the playing time of the bytes written before it, each
 * block's share rounded to 100 ns. Returns 1 when the writer took the block.
 * Returns 0 when no encode is open or pcm is NULL (nothing else happens), or
 * when the writer refused the block: its time is not counted, and the encode
 * can no longer succeed (CloseWMAWriteFile reports the refusal). */
MERVANE_API int32_t MERVANE_CALL WriteWMAFile(const void* pcm, uint32_t byteCount);

/* Ends the encode, whatever the outcome: the next InitWMAWriteFile may follow.
 * Returns 0 when every block WriteWMAFile was given was taken, the writer
 * finished the file and the file took the destination's place. Otherwise
 * returns a negative HRESULT, that of the first refused block or else of the
 * step that failed (finishing the file, putting it in place); the new file is
 * then removed and a file at the destination stays as it was. Returns
 * E_UNEXPECTED (0x8000FFFF) when no encode is open. */
MERVANE_API int32_t MERVANE_CALL CloseWMAWriteFile(void);

/* ---- Song tags ---- */

/* Opens `path` with the Format SDK's metadata editor and reads six tags of its
 * header into the record (see SongInfo). "WM/Title" stands in for "Title", and
 * "WM/Author" for "Author", only when the first cannot be read, not when the
 * file lacks it. Text is converted to the code page (on Windows a character the
 * code page lacks becomes the system's default character); numbers read as
 * decimal text; binary and GUID values as an empty field; a value too long for
 * its field (255 or 19 bytes and the 0) empties it. A tag the file does not
 * hold leaves its field as the host set it. Returns 1 when every tag the file
 * holds was read. Returns 0 when path or info is NULL or the file cannot be
 * opened (the record is then as it was), or when a tag could not be read (the
 * other fields may have been written). */
MERVANE_API int32_t MERVANE_CALL GetWmaSongInfo(const char* path, SongInfo* info);

/* Writes the record's six fields into the header of `path` as text tags (see
 * SongInfo; an empty field as an empty tag; "WM/Title" and "WM/Author" are not
 * written), leaving the audio and every other tag alone; the record is only
 * read. Returns 1 when all six tags are in the file. Returns 0 when not all six
 * are: either the file is as it was (path or info is NULL, a field holds no 0
 * within its size or text that is not valid in the code page, or the file
 * could not be opened, read or written), or a tag the editor refused is
 * missing and the others were written. See Files for what a write keeps. */
MERVANE_API int32_t MERVANE_CALL SetWmaSongInfo(const char* path, const SongInfo* info);

/* ---- Codec formats ---- */

/* Calls `callback` once for each format of each audio codec the Format SDK
 * offers, in its order (codec by codec, unsorted, duplicates kept), on the
 * calling thread, before returning. A failure ends the list early and is not
 * reported; a NULL callback does nothing. On Linux the list is the WMA 2
 * formats InitWMAWriteFile encodes; on Windows it may also hold formats of the
 * platform's other audio codecs, which InitWMAWriteFile does not use. */
MERVANE_API void MERVANE_CALL EnumWMAFormat(FormatCallback callback);

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
