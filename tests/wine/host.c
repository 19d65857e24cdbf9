/* SPDX-License-Identifier: MIT */
/*
 * A Windows host of MERVANE.dll (32-bit or 64-bit, as built), as a host
 * application uses it: LoadLibrary, GetProcAddress by bare name, calls in the
 * platform's convention. Every call goes through a small assembly probe that
 * checks the callee kept the stack and the registers it must keep.
 *
 *   host basics  DLL FILE MISSING   exports, EnumWMAFormat on two threads, refused arguments
 *   host decode  DLL FILE RATE CHANNELS OUTBASE REFBASE
 *                                   file query, decodes from 0 (twice) and 1,000 ms, written to
 *                                   OUTBASE-<ms>.pcm and compared with REFBASE-<ms>.pcm
 *   host cancel  DLL FILE           a file query, then CancelReader, during a decode
 *   host overlap DLL FILE RATE CHANNELS
 *                                   a second GoGoGoReader during a decode
 *   host unload  DLL FILE COPY      decodes a copy of FILE, deletes it and unloads the
 *                                   library right after the end call
 *   host tags    DLL FILE           song tags on a file Wine cannot edit
 *   host refused DLL FILE...        files whose decode is refused: GoGoGoReader returns 0
 *   host stalled DLL FILE           a file the reader may never open or never finish:
 *                                   GoGoGoReader returns within the open's bound, and a
 *                                   decode it started ends with one end call on a cancel
 *                                   and, left alone, once the reader has been silent 30 s
 *
 * Prints one line per failed check; exits with 1 if any check failed, and
 * otherwise with 0 by an ordinary return from main. Every wait is bounded, so a
 * decode that stalls fails instead of hanging.
 */
#include "host.h"

/* ---- Format listing --------------------------------------------------------- */

static LONG gFormatCalls;

static int32_t __stdcall CountFormat(uint32_t bitrate, uint32_t channels, uint32_t sampleRate) {
    InterlockedIncrement(&gFormatCalls);
    CHECK(bitrate > 0 && channels > 0 && channels <= 8 && sampleRate >= 8000,
          "implausible format %u bit/s, %u channels, %u Hz", (unsigned)bitrate, (unsigned)channels,
          (unsigned)sampleRate);
    return 1;
}

/* Lists the formats on the calling thread; the library must already have set up
 * COM for this thread, so the host's own CoInitialize afterwards finds it done. */
static void ListFormatsOnThisThread(const char* where) {
    LONG before = gFormatCalls;
    CallEnumWMAFormat(CountFormat);
    LONG calls = gFormatCalls - before;
    if (UnderWine()) {
        /* Wine's profile manager offers no codec information. */
        CHECK(calls == 0, "EnumWMAFormat on the %s reported %ld formats under Wine", where,
              (long)calls);
    }
    HRESULT hr = CoInitialize(NULL);
    CHECK(hr == S_FALSE,
          "COM was not initialised for the %s by the library (CoInitialize: 0x%08lx)", where,
          (unsigned long)hr);
    if (SUCCEEDED(hr)) CoUninitialize();
}

static DWORD WINAPI ListFormatsThread(LPVOID unused) {
    (void)unused;
    ListFormatsOnThisThread("second thread");
    return 0;
}

/* The callback of a decode that must never start. */
static LONG gIntruderCalls;

static int32_t __stdcall IntruderSamples(const void* data, uint32_t byteCount, uint32_t timeMs) {
    (void)data;
    (void)byteCount;
    (void)timeMs;
    InterlockedIncrement(&gIntruderCalls);
    return 1;
}

/* ---- Commands ---------------------------------------------------------------------- */

static int RunBasics(const char* file, const char* missing) {
    /* On the loading thread, without the host initialising COM. */
    ListFormatsOnThisThread("loading thread");

    HANDLE thread = CreateThread(NULL, 0, ListFormatsThread, NULL, 0, NULL);
    CHECK(thread != NULL, "CreateThread failed");
    if (thread != NULL) {
        DWORD waited = WaitForSingleObject(thread, 60000);
        CHECK(waited == WAIT_OBJECT_0, "EnumWMAFormat on the second thread did not return");
        CloseHandle(thread);
    }

    /* Null pointers and missing files are refused without touching anything. */
    CallEnumWMAFormat(NULL);
    AudioFormatInfo info;
    SongInfo song;
    memset(&info, 0x5A, sizeof info);
    memset(&song, 0x5A, sizeof song);
    CHECK(CallGetWmaFileInfo(NULL, &info) == 0, "GetWmaFileInfo(NULL, info) succeeded");
    CHECK(CallGetWmaFileInfo(file, NULL) == 0, "GetWmaFileInfo(file, NULL) succeeded");
    CHECK(CallGetWmaFileInfo(missing, &info) == 0, "GetWmaFileInfo on a missing file succeeded");
    CHECK(CallGetWmaSongInfo(NULL, &song) == 0, "GetWmaSongInfo(NULL, song) succeeded");
    CHECK(CallGetWmaSongInfo(file, NULL) == 0, "GetWmaSongInfo(file, NULL) succeeded");
    CHECK(CallSetWmaSongInfo(NULL, &song) == 0, "SetWmaSongInfo(NULL, song) succeeded");
    CHECK(CallSetWmaSongInfo(file, NULL) == 0, "SetWmaSongInfo(file, NULL) succeeded");
    CaptureReset();
    CaptureRefused();
    CHECK(CallGoGoGoReader(NULL, 0, 1, ReceiveSamples) == 0, "GoGoGoReader(NULL path) succeeded");
    /* A null callback must not start a decode that would call it. */
    CHECK(CallGoGoGoReader(file, 0, 1, NULL) == 0, "GoGoGoReader(NULL callback) succeeded");
    CHECK(CallGoGoGoReader(missing, 0, 1, ReceiveSamples) == 0,
          "GoGoGoReader on a missing file succeeded");
    CHECK(CallCancelReader() == 0, "CancelReader found a reader after refused decodes");
    unsigned char pcm[64] = {0};
    CHECK(CallWriteWMAFile(NULL, 0) == 0, "WriteWMAFile(NULL, 0) succeeded");
    CHECK(CallWriteWMAFile(pcm, sizeof pcm) == 0,
          "WriteWMAFile without InitWMAWriteFile succeeded");
    int32_t closed = CallCloseWMAWriteFile();
    CHECK(closed == (int32_t)0x8000FFFF,
          "CloseWMAWriteFile without InitWMAWriteFile returned 0x%08lx, not E_UNEXPECTED",
          (unsigned long)closed);
    CHECK(gCapture.blocks == 0 && gCapture.endCalls == 0,
          "refused decodes reached the callback (%u blocks, %ld end calls)",
          (unsigned)gCapture.blocks, (long)gCapture.endCalls);
    return 0;
}

/* The file query either works or fails cleanly; on this platform it fails. */
static void CheckFileQuery(const char* file, const char* when) {
    AudioFormatInfo info;
    memset(&info, 0, sizeof info);
    int32_t known = CallGetWmaFileInfo(file, &info);
    if (UnderWine()) {
        /* Wine's header information has no GetAttributeCount. */
        CHECK(known == 0, "GetWmaFileInfo %s succeeded under Wine", when);
    } else {
        CHECK(known == 1 && info.formatKind == 3 && info.sampleRate > 0 && info.channels > 0,
              "GetWmaFileInfo %s: result %ld, kind %u, %u Hz, %u channels", when, (long)known,
              (unsigned)info.formatKind, (unsigned)info.sampleRate, (unsigned)info.channels);
    }
}

static int RunDecode(const char* file, PcmFormat format, const char* outBase, const char* refBase) {
    CheckFileQuery(file, "before a decode");
    /* Whatever the query did, it left no reader open. */
    CHECK(CallCancelReader() == 0, "CancelReader found a reader after GetWmaFileInfo");

    if (!DecodeWhole(file, 0, "decode from 0")) return 0;
    WritePcm(outBase, 0);
    CheckAgainstReference(refBase, 0, format);
    size_t firstSize = 0;
    unsigned char* first = CaptureTake(&firstSize);
    CHECK(CallCancelReader() == 0, "CancelReader found a reader after the end call");

    /* A second decode follows the end call and gives the same PCM. */
    if (DecodeWhole(file, 0, "second decode from 0")) {
        CheckSimilarPcm("second decode from 0", gCapture.pcm, gCapture.size, first, firstSize,
                        format);
    }
    free(first);

    if (DecodeWhole(file, 1000, "decode from 1000 ms")) {
        WritePcm(outBase, 1000);
        CheckAgainstReference(refBase, 1000, format);
        CHECK(gCapture.firstTime >= 1000 - 100, "decode from 1000 ms began at %u ms",
              (unsigned)gCapture.firstTime);
    }
    return 0;
}

/* Starts a decode on the reader's clock, which plays in real time: there is time
 * to act while it runs. Returns 1 once its first block has arrived. */
static int StartRealTimeDecode(const char* file, const char* what) {
    CaptureReset();
    int32_t started = CallGoGoGoReader(file, 0, 0, ReceiveSamples);
    CHECK(started == 1, "%s: GoGoGoReader on the reader's clock returned %ld", what, (long)started);
    if (started != 1) return 0;
    DWORD waited = WaitForSingleObject(gCapture.block, kDecodeWaitMs);
    CHECK(waited == WAIT_OBJECT_0, "%s: no block within %d ms", what, kDecodeWaitMs);
    return waited == WAIT_OBJECT_0;
}

static int RunCancel(const char* file) {
    CHECK(CallCancelReader() == 0, "CancelReader with nothing open returned non-zero");
    if (!StartRealTimeDecode(file, "decode to cancel")) return 0;

    /* A file query during the decode leaves it running and cancellable. */
    uint32_t seen = CapturedBlocks();
    CheckFileQuery(file, "during a decode");
    CHECK(MoreBlocksArrive(seen), "the decode stopped after GetWmaFileInfo");

    int32_t cancelled = CallCancelReader();
    CHECK(cancelled == 1, "CancelReader during the decode returned %ld", (long)cancelled);
    CheckEndedOnce("cancelled decode", kDecodeWaitMs);
    CHECK(CallCancelReader() == 0, "CancelReader after the end call returned non-zero");

    /* The reader side is free again. */
    DecodeWhole(file, 0, "decode after a cancel");
    return 0;
}

static int RunOverlap(const char* file, PcmFormat format) {
    if (!DecodeWhole(file, 0, "decode on the user clock")) return 0;
    size_t wholeSize = 0;
    unsigned char* whole = CaptureTake(&wholeSize);

    if (StartRealTimeDecode(file, "decode to overlap")) {
        int32_t second = CallGoGoGoReader(file, 0, 1, IntruderSamples);
        CHECK(second == 0, "a second GoGoGoReader during a decode returned %ld", (long)second);
        /* The running decode plays to the end of the file, once, to its own host. */
        if (CheckEndedOnce("decode overlapped by a second GoGoGoReader", kDecodeWaitMs)) {
            CheckSimilarPcm("decode overlapped by a second GoGoGoReader", gCapture.pcm,
                            gCapture.size, whole, wholeSize, format);
        }
        CHECK(gIntruderCalls == 0, "the refused decode's callback was called %ld times",
              (long)gIntruderCalls);
        CHECK(CallCancelReader() == 0, "CancelReader found a reader after the end call");
    }
    free(whole);
    return 0;
}

/* Decodes a copy of FILE made for the purpose; right after the end call, the
 * copy can be deleted and the library unloaded, and the host then leaves. */
static int RunUnload(const char* file, const char* copy) {
    CHECK(CopyFileA(file, copy, FALSE), "cannot copy %s to %s (error %lu)", file, copy,
          GetLastError());
    CaptureReset();
    int32_t started = CallGoGoGoReader(copy, 0, 1, ReceiveSamples);
    CHECK(started == 1, "GoGoGoReader returned %ld", (long)started);
    if (started != 1) return 0;
    DWORD waited = WaitForSingleObject(gCapture.ended, kDecodeWaitMs);
    CHECK(waited == WAIT_OBJECT_0, "no end call within %d ms", kDecodeWaitMs);
    if (waited != WAIT_OBJECT_0) return 0;

    CHECK(DeleteFileA(copy), "the decoded file cannot be deleted after the end call (error %lu)",
          GetLastError());
    CHECK(FreeLibrary(gModule), "FreeLibrary failed (error %lu)", GetLastError());
    /* Nothing of the library may run any more: a thread still in its code would
     * crash the process once it is unmapped. The module goes once the last of
     * its threads lets go of it, which no event tells: polled, within the
     * bound that turns a hang into a failure. */
    DWORD unloadedAfter = 0;
    while (GetModuleHandleA("MERVANE.dll") != NULL && unloadedAfter < kDecodeWaitMs) {
        Sleep(10);
        unloadedAfter += 10;
    }
    CHECK(GetModuleHandleA("MERVANE.dll") == NULL,
          "MERVANE.dll still loaded %d ms after FreeLibrary", kDecodeWaitMs);
    CHECK(gCapture.endCalls == 1, "%ld end calls", (long)gCapture.endCalls);
    CHECK(gCapture.blocks > 0, "no PCM delivered");
    return 0;
}

static int RunTags(const char* file) {
    size_t sizeBefore = 0, sizeAfter = 0;
    unsigned char* before = ReadWholeFile(file, &sizeBefore);
    CHECK(before != NULL && sizeBefore > 0, "cannot read %s", file);

    /* Wine has no metadata editor: both calls fail and touch nothing. */
    SongInfo song;
    memset(&song, 0x5A, sizeof song);
    SongInfo pattern = song;
    CHECK(CallGetWmaSongInfo(file, &song) == 0, "GetWmaSongInfo succeeded under Wine");
    CHECK(memcmp(&song, &pattern, sizeof song) == 0, "failed GetWmaSongInfo changed the record");

    /* The record's unused bytes are zero, as the host's would be. */
    SongInfo tags = {"Title", "Author", "Album", "2024", "7", "12"};
    SongInfo copy = tags;
    CHECK(CallSetWmaSongInfo(file, &tags) == 0, "SetWmaSongInfo succeeded under Wine");
    CHECK(memcmp(&tags, &copy, sizeof tags) == 0, "SetWmaSongInfo changed the host's record");

    unsigned char* after = ReadWholeFile(file, &sizeAfter);
    CHECK(after != NULL && sizeAfter == sizeBefore &&
              (before == NULL || memcmp(before, after, sizeBefore) == 0),
          "failed SetWmaSongInfo changed the file");
    free(before);
    free(after);
    return 0;
}

/* Starts a decode of `file` and returns GoGoGoReader's result; the call must
 * come back within the library's 30 s bound on an open. */
static int32_t StartBounded(const char* file) {
    CaptureReset();
    DWORD began = GetTickCount();
    int32_t started = CallGoGoGoReader(file, 0, 1, ReceiveSamples);
    DWORD took = GetTickCount() - began;
    CHECK(took < 40000, "%s: GoGoGoReader returned after %lu ms", file, (unsigned long)took);
    printf("%s: GoGoGoReader returned %ld after %lu ms\n", file, (long)started,
           (unsigned long)took);
    return started;
}

/* Files whose decode is refused (output 0 not audio, protected): no host
 * call, no reader left open. */
static int RunRefused(int count, char** files) {
    for (int i = 0; i < count; ++i) {
        int32_t started = StartBounded(files[i]);
        CHECK(started == 0, "%s: GoGoGoReader returned %ld", files[i], (long)started);
        if (started == 1) WaitForSingleObject(gCapture.ended, kDecodeWaitMs);
        if (started == 0) CaptureRefused();
        CHECK(started == 1 || (gCapture.blocks == 0 && gCapture.endCalls == 0),
              "%s: a refused decode reached the callback", files[i]);
        CHECK(CallCancelReader() == 0, "%s: a reader stayed open", files[i]);
    }
    return 0;
}

/* A file the reader may never open or never finish: the host is held by
 * neither. A decode whose reader stays silent ends on a cancel and, left
 * alone, by itself once the library has stopped the silent reader. */
static int RunStalled(const char* file) {
    if (StartBounded(file) != 1) {
        CaptureRefused();
        CHECK(gCapture.blocks == 0 && gCapture.endCalls == 0, "a failed start called the host");
        return 0;
    }
    if (WaitForSingleObject(gCapture.ended, 5000) == WAIT_OBJECT_0) return 0;
    printf("no end of the decode within 5 s (%u blocks): cancelling\n", (unsigned)CapturedBlocks());
    CHECK(CallCancelReader() == 1, "CancelReader of the stalled decode failed");
    CheckEndedOnce("cancelled stalled decode", kDecodeWaitMs);

    if (StartBounded(file) != 1) return 0;
    DWORD began = GetTickCount();
    int ended = WaitForSingleObject(gCapture.ended, kSilentDecodeWaitMs) == WAIT_OBJECT_0;
    printf("the decode left alone ended after %lu ms (%u blocks)\n",
           (unsigned long)(GetTickCount() - began), (unsigned)CapturedBlocks());
    CheckEndedOnce("stalled decode left alone", ended ? 0 : kDecodeWaitMs);
    return 0;
}

static PcmFormat ParseFormat(const char* rate, const char* channels) {
    PcmFormat format = {(uint32_t)strtoul(rate, NULL, 10), (uint32_t)strtoul(channels, NULL, 10)};
    return format;
}

static const char kUsage[] =
    "usage: host basics DLL FILE MISSING_FILE\n"
    "       host decode DLL FILE RATE CHANNELS OUTBASE REFBASE\n"
    "       host cancel DLL FILE\n"
    "       host overlap DLL FILE RATE CHANNELS\n"
    "       host unload DLL FILE COPY\n"
    "       host tags DLL FILE\n"
    "       host refused DLL FILE...\n"
    "       host stalled DLL FILE\n";

int main(int argc, char** argv) {
    static const struct {
        const char* name;
        int argc;
    } kCommands[] = {{"basics", 5}, {"decode", 8}, {"cancel", 4}, {"overlap", 6},
                     {"unload", 5}, {"tags", 4},   {"stalled", 4}};
    int known = argc >= 4 && strcmp(argv[1], "refused") == 0;
    for (size_t i = 0; argc >= 2 && i < sizeof kCommands / sizeof kCommands[0]; ++i) {
        if (strcmp(argv[1], kCommands[i].name) == 0) known = argc == kCommands[i].argc;
    }
    if (!known) {
        fputs(kUsage, stderr);
        return 100;
    }
    InitializeCriticalSection(&gCapture.lock);
    InitProbe();
    gCapture.block = CreateEventA(NULL, TRUE, FALSE, NULL);
    gCapture.ended = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (!LoadApi(argv[2])) return 101;

    const char* command = argv[1];
    const char* file = argv[3];
    if (strcmp(command, "basics") == 0) {
        RunBasics(file, argv[4]);
    } else if (strcmp(command, "decode") == 0) {
        RunDecode(file, ParseFormat(argv[4], argv[5]), argv[6], argv[7]);
    } else if (strcmp(command, "cancel") == 0) {
        RunCancel(file);
    } else if (strcmp(command, "overlap") == 0) {
        RunOverlap(file, ParseFormat(argv[4], argv[5]));
    } else if (strcmp(command, "unload") == 0) {
        RunUnload(file, argv[4]);
    } else if (strcmp(command, "refused") == 0) {
        RunRefused(argc - 3, argv + 3);
    } else if (strcmp(command, "stalled") == 0) {
        RunStalled(file);
    } else {
        RunTags(file);
    }
    CheckNoStrayCalls();
    printf("%s: %ld failures\n", command, (long)gFailures);
    fflush(stdout);
    /* An ordinary exit: the library is still loaded (except after unload) and
     * sees the process detach; its exit must be as clean as the host's. */
    return gFailures != 0 ? 1 : 0;
}
