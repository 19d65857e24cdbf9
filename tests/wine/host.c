/*
 * A 32-bit host of MERVANE.dll, as a host application uses it: LoadLibrary,
 * GetProcAddress by bare name, __stdcall calls. Every call goes through a small
 * assembly probe that checks the callee removed exactly its arguments from the
 * stack and kept the registers it must keep.
 *
 *   host basics  DLL FILE         exports, EnumWMAFormat on two threads, null arguments
 *   host decode  DLL FILE OUTBASE file information, decodes (written to OUTBASE-<ms>.pcm)
 *   host cancel  DLL FILE         CancelReader during a decode on the reader's clock
 *   host tags    DLL FILE         song tags on a file Wine cannot edit
 *
 * Prints one line per failed check; exits with 1 if any check failed.
 * Every wait is bounded, so a decode that stalls fails instead of hanging.
 */
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

static LONG gFailures;

static void Fail(const char* format, ...) {
    va_list args;
    va_start(args, format);
    fputs("FAIL: ", stdout);
    vprintf(format, args);
    fputs("\n", stdout);
    fflush(stdout);
    va_end(args);
    InterlockedIncrement(&gFailures);
}

#define CHECK(cond, ...)       \
    do {                       \
        if (!(cond)) {         \
            Fail(__VA_ARGS__); \
        }                      \
    } while (0)

/* ---- Calls through the stack probe ------------------------------------------ */

typedef struct ProbeResult {
    int32_t imbalance;  /* bytes the callee popped too many (negative: too few) */
    uint32_t clobbered; /* bit 0 ebx, 1 esi, 2 edi changed by the callee */
} ProbeResult;

typedef void (*AnyFunction)(void);

/* Pushes count 32-bit words (args[0] ends up nearest the return address), calls
 * fn, and compares ESP after the return with ESP before the pushes. */
uint32_t __cdecl StdcallProbe(AnyFunction fn, const uint32_t* args, uint32_t count,
                              ProbeResult* result);
__asm__(
    ".text\n"
    ".globl _StdcallProbe\n"
    "_StdcallProbe:\n"
    "    pushl %ebp\n"
    "    movl %esp, %ebp\n"
    "    pushl %ebx\n"
    "    pushl %esi\n"
    "    pushl %edi\n"
    "    movl 16(%ebp), %ecx\n"
    "    movl 12(%ebp), %edx\n"
    "1:  testl %ecx, %ecx\n"
    "    jz 2f\n"
    "    pushl -4(%edx,%ecx,4)\n"
    "    decl %ecx\n"
    "    jmp 1b\n"
    "2:  movl $0x13579bdf, %ebx\n"
    "    movl $0x2468ace0, %esi\n"
    "    movl $0x0f1e2d3c, %edi\n"
    "    call *8(%ebp)\n"
    "    movl %esp, %edx\n"
    "    subl %ebp, %edx\n"
    "    addl $12, %edx\n"
    "    movl 20(%ebp), %ecx\n"
    "    movl %edx, (%ecx)\n"
    "    xorl %edx, %edx\n"
    "    cmpl $0x13579bdf, %ebx\n"
    "    je 3f\n"
    "    orl $1, %edx\n"
    "3:  cmpl $0x2468ace0, %esi\n"
    "    je 4f\n"
    "    orl $2, %edx\n"
    "4:  cmpl $0x0f1e2d3c, %edi\n"
    "    je 5f\n"
    "    orl $4, %edx\n"
    "5:  movl %edx, 4(%ecx)\n"
    "    leal -12(%ebp), %esp\n"
    "    popl %edi\n"
    "    popl %esi\n"
    "    popl %ebx\n"
    "    popl %ebp\n"
    "    ret\n");

static uint32_t Invoke(const char* name, AnyFunction fn, const uint32_t* args, uint32_t count) {
    ProbeResult probe = {0, 0};
    uint32_t result = StdcallProbe(fn, args, count, &probe);
    CHECK(probe.imbalance == 0, "%s: stack off by %d bytes after the call", name,
          (int)probe.imbalance);
    CHECK(probe.clobbered == 0, "%s: callee-saved registers changed (mask %u)", name,
          (unsigned)probe.clobbered);
    return result;
}

/* ---- The library ------------------------------------------------------------- */

typedef int32_t(__stdcall* CancelReaderFn)(void);
typedef int32_t(__stdcall* CloseWMAWriteFileFn)(void);
typedef void(__stdcall* EnumWMAFormatFn)(FormatCallback);
typedef int32_t(__stdcall* GetWmaFileInfoFn)(const char*, AudioFormatInfo*);
typedef int32_t(__stdcall* GetWmaSongInfoFn)(const char*, SongInfo*);
typedef int32_t(__stdcall* GoGoGoReaderFn)(const char*, uint32_t, int32_t, SampleCallback);
typedef int32_t(__stdcall* InitWMAWriteFileFn)(const char*, const AudioFormatInfo*);
typedef int32_t(__stdcall* SetWmaSongInfoFn)(const char*, const SongInfo*);
typedef int32_t(__stdcall* WriteWMAFileFn)(const void*, uint32_t);

/* The prototypes agree with the export header. */
_Static_assert(__builtin_types_compatible_p(CancelReaderFn, __typeof__(&CancelReader)), "");
_Static_assert(__builtin_types_compatible_p(CloseWMAWriteFileFn, __typeof__(&CloseWMAWriteFile)),
               "");
_Static_assert(__builtin_types_compatible_p(EnumWMAFormatFn, __typeof__(&EnumWMAFormat)), "");
_Static_assert(__builtin_types_compatible_p(GetWmaFileInfoFn, __typeof__(&GetWmaFileInfo)), "");
_Static_assert(__builtin_types_compatible_p(GetWmaSongInfoFn, __typeof__(&GetWmaSongInfo)), "");
_Static_assert(__builtin_types_compatible_p(GoGoGoReaderFn, __typeof__(&GoGoGoReader)), "");
_Static_assert(__builtin_types_compatible_p(InitWMAWriteFileFn, __typeof__(&InitWMAWriteFile)), "");
_Static_assert(__builtin_types_compatible_p(SetWmaSongInfoFn, __typeof__(&SetWmaSongInfo)), "");
_Static_assert(__builtin_types_compatible_p(WriteWMAFileFn, __typeof__(&WriteWMAFile)), "");

static struct {
    CancelReaderFn CancelReader;
    CloseWMAWriteFileFn CloseWMAWriteFile;
    EnumWMAFormatFn EnumWMAFormat;
    GetWmaFileInfoFn GetWmaFileInfo;
    GetWmaSongInfoFn GetWmaSongInfo;
    GoGoGoReaderFn GoGoGoReader;
    InitWMAWriteFileFn InitWMAWriteFile; /* found, never called: Wine has no file sink */
    SetWmaSongInfoFn SetWmaSongInfo;
    WriteWMAFileFn WriteWMAFile;
} gApi;

#define WORD_OF(p) ((uint32_t)(uintptr_t)(p))

static int32_t CallCancelReader(void) {
    return (int32_t)Invoke("CancelReader", (AnyFunction)gApi.CancelReader, NULL, 0);
}
static int32_t CallCloseWMAWriteFile(void) {
    return (int32_t)Invoke("CloseWMAWriteFile", (AnyFunction)gApi.CloseWMAWriteFile, NULL, 0);
}
static void CallEnumWMAFormat(FormatCallback callback) {
    uint32_t args[1] = {WORD_OF(callback)};
    Invoke("EnumWMAFormat", (AnyFunction)gApi.EnumWMAFormat, args, 1);
}
static int32_t CallGetWmaFileInfo(const char* path, AudioFormatInfo* info) {
    uint32_t args[2] = {WORD_OF(path), WORD_OF(info)};
    return (int32_t)Invoke("GetWmaFileInfo", (AnyFunction)gApi.GetWmaFileInfo, args, 2);
}
static int32_t CallGetWmaSongInfo(const char* path, SongInfo* info) {
    uint32_t args[2] = {WORD_OF(path), WORD_OF(info)};
    return (int32_t)Invoke("GetWmaSongInfo", (AnyFunction)gApi.GetWmaSongInfo, args, 2);
}
static int32_t CallGoGoGoReader(const char* path, uint32_t startMs, int32_t userClock,
                                SampleCallback callback) {
    uint32_t args[4] = {WORD_OF(path), startMs, (uint32_t)userClock, WORD_OF(callback)};
    return (int32_t)Invoke("GoGoGoReader", (AnyFunction)gApi.GoGoGoReader, args, 4);
}
static int32_t CallSetWmaSongInfo(const char* path, const SongInfo* info) {
    uint32_t args[2] = {WORD_OF(path), WORD_OF(info)};
    return (int32_t)Invoke("SetWmaSongInfo", (AnyFunction)gApi.SetWmaSongInfo, args, 2);
}
static int32_t CallWriteWMAFile(const void* pcm, uint32_t byteCount) {
    uint32_t args[2] = {WORD_OF(pcm), byteCount};
    return (int32_t)Invoke("WriteWMAFile", (AnyFunction)gApi.WriteWMAFile, args, 2);
}

static const char* const kExportNames[9] = {
    "CancelReader", "CloseWMAWriteFile", "EnumWMAFormat",  "GetWmaFileInfo", "GetWmaSongInfo",
    "GoGoGoReader", "InitWMAWriteFile",  "SetWmaSongInfo", "WriteWMAFile"};

/* Loads the library and finds every export by its bare name; ordinal i + 1 must
 * lead to the same function. Returns 0 when the library is unusable. */
static int LoadApi(const char* path) {
    HMODULE module = LoadLibraryA(path);
    if (module == NULL) {
        Fail("LoadLibrary(%s) failed with error %lu", path, GetLastError());
        return 0;
    }
    FARPROC found[9];
    int complete = 1;
    for (int i = 0; i < 9; ++i) {
        found[i] = GetProcAddress(module, kExportNames[i]);
        if (found[i] == NULL) {
            Fail("GetProcAddress(%s) found nothing", kExportNames[i]);
            complete = 0;
            continue;
        }
        FARPROC byOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(i + 1));
        CHECK(byOrdinal == found[i], "ordinal %d is not %s", i + 1, kExportNames[i]);
    }
    if (!complete) return 0;
    gApi.CancelReader = (CancelReaderFn)(AnyFunction)found[0];
    gApi.CloseWMAWriteFile = (CloseWMAWriteFileFn)(AnyFunction)found[1];
    gApi.EnumWMAFormat = (EnumWMAFormatFn)(AnyFunction)found[2];
    gApi.GetWmaFileInfo = (GetWmaFileInfoFn)(AnyFunction)found[3];
    gApi.GetWmaSongInfo = (GetWmaSongInfoFn)(AnyFunction)found[4];
    gApi.GoGoGoReader = (GoGoGoReaderFn)(AnyFunction)found[5];
    gApi.InitWMAWriteFile = (InitWMAWriteFileFn)(AnyFunction)found[6];
    gApi.SetWmaSongInfo = (SetWmaSongInfoFn)(AnyFunction)found[7];
    gApi.WriteWMAFile = (WriteWMAFileFn)(AnyFunction)found[8];
    return 1;
}

static int UnderWine(void) {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != NULL && GetProcAddress(ntdll, "wine_get_version") != NULL;
}

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

/* ---- Decoding ------------------------------------------------------------------- */

typedef struct Capture {
    CRITICAL_SECTION lock;
    HANDLE firstBlock; /* manual-reset: a block arrived */
    HANDLE ended;      /* manual-reset: the end call arrived */
    unsigned char* pcm;
    size_t size;
    size_t capacity;
    uint32_t blocks;
    uint32_t firstTime;
    uint32_t lastTime;
    LONG endCalls;
    uint32_t afterEnd;  /* calls that came after the end call */
    uint32_t backwards; /* blocks whose time went back */
    uint32_t malformed; /* a null block with bytes, or an empty block */
} Capture;

static Capture gCapture;

static void CaptureReset(void) {
    EnterCriticalSection(&gCapture.lock);
    free(gCapture.pcm);
    gCapture.pcm = NULL;
    gCapture.size = gCapture.capacity = 0;
    gCapture.blocks = gCapture.firstTime = gCapture.lastTime = 0;
    gCapture.afterEnd = gCapture.backwards = gCapture.malformed = 0;
    gCapture.endCalls = 0;
    ResetEvent(gCapture.firstBlock);
    ResetEvent(gCapture.ended);
    LeaveCriticalSection(&gCapture.lock);
}

static int32_t __stdcall ReceiveSamples(const void* data, uint32_t byteCount, uint32_t timeMs) {
    EnterCriticalSection(&gCapture.lock);
    if (gCapture.endCalls > 0) {
        ++gCapture.afterEnd;
    }
    if (data == NULL && byteCount == 0 && timeMs == 0) {
        ++gCapture.endCalls;
        SetEvent(gCapture.ended);
    } else if (data == NULL || byteCount == 0) {
        ++gCapture.malformed;
    } else {
        if (gCapture.blocks == 0) {
            gCapture.firstTime = timeMs;
        } else if (timeMs < gCapture.lastTime) {
            ++gCapture.backwards;
        }
        gCapture.lastTime = timeMs;
        ++gCapture.blocks;
        if (gCapture.size + byteCount > gCapture.capacity) {
            size_t capacity = (gCapture.size + byteCount) * 2;
            unsigned char* grown = realloc(gCapture.pcm, capacity);
            if (grown == NULL) {
                ++gCapture.malformed;
                LeaveCriticalSection(&gCapture.lock);
                return 0;
            }
            gCapture.pcm = grown;
            gCapture.capacity = capacity;
        }
        memcpy(gCapture.pcm + gCapture.size, data, byteCount);
        gCapture.size += byteCount;
        SetEvent(gCapture.firstBlock);
    }
    LeaveCriticalSection(&gCapture.lock);
    return 1;
}

enum { kDecodeWaitMs = 60000, kSettleMs = 500 };

/* After the end call, gives a stray second end call or late block time to show. */
static void CheckEndedOnce(const char* what) {
    DWORD waited = WaitForSingleObject(gCapture.ended, kDecodeWaitMs);
    CHECK(waited == WAIT_OBJECT_0, "%s: no end call within %d ms", what, kDecodeWaitMs);
    Sleep(kSettleMs);
    EnterCriticalSection(&gCapture.lock);
    CHECK(gCapture.endCalls == 1, "%s: %ld end calls", what, (long)gCapture.endCalls);
    CHECK(gCapture.afterEnd == 0, "%s: %u calls after the end call", what,
          (unsigned)gCapture.afterEnd);
    CHECK(gCapture.malformed == 0, "%s: %u malformed blocks", what, (unsigned)gCapture.malformed);
    CHECK(gCapture.backwards == 0, "%s: block times went back %u times", what,
          (unsigned)gCapture.backwards);
    LeaveCriticalSection(&gCapture.lock);
}

/* Decodes the whole file on the library's clock; returns 1 if the decode ran. */
static int DecodeWhole(const char* path, uint32_t startMs, const char* what) {
    CaptureReset();
    int32_t started = CallGoGoGoReader(path, startMs, 1, ReceiveSamples);
    CHECK(started == 1, "%s: GoGoGoReader returned %ld", what, (long)started);
    if (started != 1) return 0;
    CheckEndedOnce(what);
    CHECK(gCapture.blocks > 0 && gCapture.size > 0, "%s: no PCM delivered", what);
    return gCapture.endCalls == 1;
}

static void WritePcm(const char* base, uint32_t startMs) {
    char name[MAX_PATH];
    snprintf(name, sizeof name, "%s-%u.pcm", base, (unsigned)startMs);
    FILE* out = fopen(name, "wb");
    if (out == NULL || fwrite(gCapture.pcm, 1, gCapture.size, out) != gCapture.size) {
        Fail("cannot write %s", name);
    }
    if (out != NULL) fclose(out);
}

/* ---- Commands ---------------------------------------------------------------------- */

static int RunBasics(const char* file) {
    /* On the loading thread, without the host initialising COM. */
    ListFormatsOnThisThread("loading thread");

    HANDLE thread = CreateThread(NULL, 0, ListFormatsThread, NULL, 0, NULL);
    CHECK(thread != NULL, "CreateThread failed");
    if (thread != NULL) {
        DWORD waited = WaitForSingleObject(thread, 60000);
        CHECK(waited == WAIT_OBJECT_0, "EnumWMAFormat on the second thread did not return");
        CloseHandle(thread);
    }

    /* Null pointers are refused without touching anything. */
    CallEnumWMAFormat(NULL);
    AudioFormatInfo info;
    SongInfo song;
    memset(&info, 0x5A, sizeof info);
    memset(&song, 0x5A, sizeof song);
    CHECK(CallGetWmaFileInfo(NULL, &info) == 0, "GetWmaFileInfo(NULL, info) succeeded");
    CHECK(CallGetWmaFileInfo(file, NULL) == 0, "GetWmaFileInfo(file, NULL) succeeded");
    CHECK(CallGetWmaSongInfo(NULL, &song) == 0, "GetWmaSongInfo(NULL, song) succeeded");
    CHECK(CallGetWmaSongInfo(file, NULL) == 0, "GetWmaSongInfo(file, NULL) succeeded");
    CHECK(CallSetWmaSongInfo(NULL, &song) == 0, "SetWmaSongInfo(NULL, song) succeeded");
    CHECK(CallSetWmaSongInfo(file, NULL) == 0, "SetWmaSongInfo(file, NULL) succeeded");
    CaptureReset();
    CHECK(CallGoGoGoReader(NULL, 0, 1, ReceiveSamples) == 0, "GoGoGoReader(NULL path) succeeded");
    /* A null callback must not start a decode that would call it. */
    CHECK(CallGoGoGoReader(file, 0, 1, NULL) == 0, "GoGoGoReader(NULL callback) succeeded");
    CHECK(CallCancelReader() == 0, "CancelReader found a reader after refused decodes");
    unsigned char pcm[64] = {0};
    CHECK(CallWriteWMAFile(NULL, 0) == 0, "WriteWMAFile(NULL, 0) succeeded");
    CHECK(CallWriteWMAFile(pcm, sizeof pcm) == 0,
          "WriteWMAFile without InitWMAWriteFile succeeded");
    int32_t closed = CallCloseWMAWriteFile();
    CHECK(closed == (int32_t)0x8000FFFF,
          "CloseWMAWriteFile without InitWMAWriteFile returned 0x%08lx, not E_UNEXPECTED",
          (unsigned long)closed);
    Sleep(kSettleMs);
    CHECK(gCapture.blocks == 0 && gCapture.endCalls == 0,
          "refused decodes reached the callback (%u blocks, %ld end calls)",
          (unsigned)gCapture.blocks, (long)gCapture.endCalls);
    return 0;
}

static int RunDecode(const char* file, const char* outBase) {
    AudioFormatInfo info;
    memset(&info, 0, sizeof info);
    int32_t known = CallGetWmaFileInfo(file, &info);
    if (UnderWine()) {
        /* Wine's header information has no GetAttributeCount. */
        CHECK(known == 0, "GetWmaFileInfo succeeded under Wine");
    } else {
        CHECK(known == 1 && info.formatKind == 3 && info.sampleRate > 0 && info.channels > 0,
              "GetWmaFileInfo: result %ld, kind %u, %u Hz, %u channels", (long)known,
              (unsigned)info.formatKind, (unsigned)info.sampleRate, (unsigned)info.channels);
    }
    /* Whatever the query did, it left no reader open. */
    CHECK(CallCancelReader() == 0, "CancelReader found a reader after GetWmaFileInfo");

    if (!DecodeWhole(file, 0, "decode from 0")) return 0;
    WritePcm(outBase, 0);
    unsigned char* first = gCapture.pcm;
    size_t firstSize = gCapture.size;
    uint32_t firstBlocks = gCapture.blocks;
    gCapture.pcm = NULL;
    gCapture.size = gCapture.capacity = 0;
    CHECK(CallCancelReader() == 0, "CancelReader found a reader after the end call");

    /* A second decode follows the end call and gives the same PCM. */
    if (DecodeWhole(file, 0, "second decode from 0")) {
        CHECK(gCapture.size == firstSize && memcmp(gCapture.pcm, first, firstSize) == 0,
              "second decode differs: %u bytes in %u blocks, first had %u bytes in %u blocks",
              (unsigned)gCapture.size, (unsigned)gCapture.blocks, (unsigned)firstSize,
              (unsigned)firstBlocks);
    }
    free(first);

    if (DecodeWhole(file, 1000, "decode from 1000 ms")) {
        WritePcm(outBase, 1000);
        CHECK(gCapture.size < firstSize, "decode from 1000 ms gave %u bytes, from 0 %u",
              (unsigned)gCapture.size, (unsigned)firstSize);
    }
    return 0;
}

static int RunCancel(const char* file) {
    CHECK(CallCancelReader() == 0, "CancelReader with nothing open returned non-zero");
    CaptureReset();
    /* On the reader's own clock the file plays in real time: there is time to stop it. */
    int32_t started = CallGoGoGoReader(file, 0, 0, ReceiveSamples);
    CHECK(started == 1, "GoGoGoReader on the reader's clock returned %ld", (long)started);
    if (started != 1) return 0;
    DWORD waited = WaitForSingleObject(gCapture.firstBlock, kDecodeWaitMs);
    CHECK(waited == WAIT_OBJECT_0, "no block within %d ms", kDecodeWaitMs);
    int32_t cancelled = CallCancelReader();
    CHECK(cancelled == 1, "CancelReader during the decode returned %ld", (long)cancelled);
    CheckEndedOnce("cancelled decode");
    CHECK(CallCancelReader() == 0, "CancelReader after the end call returned non-zero");

    /* The reader side is free again. */
    if (DecodeWhole(file, 0, "decode after a cancel")) {
        CHECK(gCapture.blocks > 0, "decode after a cancel delivered nothing");
    }
    return 0;
}

static unsigned char* ReadWholeFile(const char* path, size_t* size) {
    *size = 0;
    FILE* in = fopen(path, "rb");
    if (in == NULL) return NULL;
    unsigned char* data = NULL;
    size_t capacity = 0;
    for (;;) {
        if (*size == capacity) {
            capacity = capacity ? capacity * 2 : 65536;
            unsigned char* grown = realloc(data, capacity);
            if (grown == NULL) break;
            data = grown;
        }
        size_t got = fread(data + *size, 1, capacity - *size, in);
        if (got == 0) break;
        *size += got;
    }
    fclose(in);
    return data;
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

    SongInfo tags;
    memset(&tags, 0, sizeof tags);
    strcpy(tags.title, "Title");
    strcpy(tags.author, "Author");
    strcpy(tags.album, "Album");
    strcpy(tags.year, "2024");
    strcpy(tags.track, "7");
    strcpy(tags.genreId, "12");
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

int main(int argc, char** argv) {
    if (argc < 4 || (strcmp(argv[1], "decode") == 0 && argc < 5)) {
        fprintf(stderr, "usage: host basics|decode|cancel|tags DLL FILE [OUTBASE]\n");
        return 100;
    }
    InitializeCriticalSection(&gCapture.lock);
    gCapture.firstBlock = CreateEventA(NULL, TRUE, FALSE, NULL);
    gCapture.ended = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (!LoadApi(argv[2])) return 101;

    const char* command = argv[1];
    const char* file = argv[3];
    if (strcmp(command, "basics") == 0) {
        RunBasics(file);
    } else if (strcmp(command, "decode") == 0) {
        RunDecode(file, argv[4]);
    } else if (strcmp(command, "cancel") == 0) {
        RunCancel(file);
    } else if (strcmp(command, "tags") == 0) {
        RunTags(file);
    } else {
        fprintf(stderr, "unknown command %s\n", command);
        return 100;
    }
    printf("%s: %ld failures\n", command, (long)gFailures);
    fflush(stdout);
    /* Decodes have ended (or failed a bounded wait); leave without unloading the
     * library under a reader thread that may still be finishing. */
    ExitProcess(gFailures != 0 ? 1 : 0);
}
