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
 *
 * Prints one line per failed check; exits with 1 if any check failed, and
 * otherwise with 0 by an ordinary return from main. Every wait is bounded, so a
 * decode that stalls fails instead of hanging.
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

/* ---- Calls through the probe ------------------------------------------------- */

/* One argument slot: 32 bits on 32-bit Windows, 64 on 64-bit Windows. */
typedef uintptr_t Word;

typedef struct ProbeResult {
    intptr_t imbalance; /* bytes the callee popped too many (negative: too few) */
    uint32_t clobbered; /* callee-saved registers the callee changed, one bit each */
} ProbeResult;

typedef void (*AnyFunction)(void);

#if defined(__i386__)

static const char* const kSavedRegisters[] = {"ebx", "esi", "edi"};

/* Pushes count words (args[0] ends up nearest the return address), calls fn,
 * and compares ESP after the return with ESP before the pushes: a __stdcall
 * callee removes exactly its arguments. */
uint32_t __cdecl StdcallProbe(AnyFunction fn, const Word* args, uint32_t count,
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

static Word Probe(AnyFunction fn, const Word* args, uint32_t count, ProbeResult* result) {
    return StdcallProbe(fn, args, count, result);
}

#elif defined(__x86_64__)

/* The Microsoft x64 convention: the caller passes the first four arguments in
 * rcx, rdx, r8, r9 (with 32 bytes of home space on the stack for them) and
 * cleans up the stack; the callee keeps rbx, rbp, rdi, rsi, r12-r15 and
 * xmm6-xmm15, and returns with rsp where it found it. The probe fills those
 * registers with patterns, calls, and compares. Any register may have been
 * lost when the call returns, so the probe keeps its own state in memory: one
 * probed call at a time (gProbeLock). Of the xmm registers the low 64 bits are
 * compared. */
static const char* const kSavedRegisters[] = {"rbx",   "rbp",   "rdi",   "rsi",   "r12",   "r13",
                                              "r14",   "r15",   "xmm6",  "xmm7",  "xmm8",  "xmm9",
                                              "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15"};

__attribute__((used)) uint64_t gProbeFrame;   /* rsp after the probe saved its registers */
__attribute__((used)) uint64_t gProbeCallRsp; /* rsp at the call */
__attribute__((used)) int64_t gProbeImbalance;
__attribute__((used)) uint32_t gProbeClobbered;

uint64_t ProbeX64(AnyFunction fn, const Word* args, uint64_t count);

#define PROBE_SET(reg, pattern) "    movabsq $" pattern ", %" reg "\n"
#define PROBE_SET_XMM(reg, pattern) "    movabsq $" pattern ", %r11\n    movq %r11, %" reg "\n"
#define PROBE_TEST(reg, pattern, bit)                                                   \
    "    movabsq $" pattern ", %r11\n    cmpq %r11, %" reg "\n    je 1f\n    orl $" bit \
    ", %r10d\n1:\n"
#define PROBE_TEST_XMM(reg, pattern, bit)            \
    "    movq %" reg ", %rcx\n    movabsq $" pattern \
    ", %r11\n    cmpq %r11, %rcx\n"                  \
    "    je 1f\n    orl $" bit ", %r10d\n1:\n"
#define PROBE_REGISTERS(X, XX)                   \
    X("rbx", "0x1111222233334444", "0x1")        \
    X("rbp", "0x2222333344445555", "0x2")        \
    X("rdi", "0x3333444455556666", "0x4")        \
    X("rsi", "0x4444555566667777", "0x8")        \
    X("r12", "0x5555666677778888", "0x10")       \
    X("r13", "0x6666777788889999", "0x20")       \
    X("r14", "0x77778888999900aa", "0x40")       \
    X("r15", "0x8888999900aabbcc", "0x80")       \
    XX("xmm6", "0x0123456789abcdef", "0x100")    \
    XX("xmm7", "0x123456789abcdef0", "0x200")    \
    XX("xmm8", "0x23456789abcdef01", "0x400")    \
    XX("xmm9", "0x3456789abcdef012", "0x800")    \
    XX("xmm10", "0x456789abcdef0123", "0x1000")  \
    XX("xmm11", "0x56789abcdef01234", "0x2000")  \
    XX("xmm12", "0x6789abcdef012345", "0x4000")  \
    XX("xmm13", "0x789abcdef0123456", "0x8000")  \
    XX("xmm14", "0x89abcdef01234567", "0x10000") \
    XX("xmm15", "0x9abcdef012345678", "0x20000")
#define PROBE_SET3(reg, pattern, bit) PROBE_SET(reg, pattern)
#define PROBE_SET_XMM3(reg, pattern, bit) PROBE_SET_XMM(reg, pattern)

/* rcx = fn, rdx = args, r8 = count. Copies the arguments to the stack (at
 * least the four words of home space, 16-byte aligned at the call), loads the
 * first four into registers, calls, and records rsp and the registers. */
__asm__(
    ".text\n"
    ".globl ProbeX64\n"
    "ProbeX64:\n"
    "    pushq %rbx\n"
    "    pushq %rbp\n"
    "    pushq %rdi\n"
    "    pushq %rsi\n"
    "    pushq %r12\n"
    "    pushq %r13\n"
    "    pushq %r14\n"
    "    pushq %r15\n"
    "    subq $160, %rsp\n"
    "    movdqu %xmm6, 0(%rsp)\n"
    "    movdqu %xmm7, 16(%rsp)\n"
    "    movdqu %xmm8, 32(%rsp)\n"
    "    movdqu %xmm9, 48(%rsp)\n"
    "    movdqu %xmm10, 64(%rsp)\n"
    "    movdqu %xmm11, 80(%rsp)\n"
    "    movdqu %xmm12, 96(%rsp)\n"
    "    movdqu %xmm13, 112(%rsp)\n"
    "    movdqu %xmm14, 128(%rsp)\n"
    "    movdqu %xmm15, 144(%rsp)\n"
    "    movq %rsp, gProbeFrame(%rip)\n"
    "    movq %rcx, %r10\n"
    /* Words to reserve: max(count, 4) rounded up to even, plus one so that rsp
     * (8 off a 16-byte boundary here) is aligned at the call. */
    "    movq %r8, %rax\n"
    "    cmpq $4, %rax\n"
    "    jae 2f\n"
    "    movl $4, %eax\n"
    "2:  addq $1, %rax\n"
    "    andq $-2, %rax\n"
    "    leaq 8(,%rax,8), %rax\n"
    "    subq %rax, %rsp\n"
    "    xorl %eax, %eax\n"
    "3:  cmpq %r8, %rax\n"
    "    jae 4f\n"
    "    movq (%rdx,%rax,8), %r11\n"
    "    movq %r11, (%rsp,%rax,8)\n"
    "    incq %rax\n"
    "    jmp 3b\n"
    "4:  movq (%rsp), %rcx\n"
    "    movq 8(%rsp), %rdx\n"
    "    movq 16(%rsp), %r8\n"
    "    movq 24(%rsp), %r9\n"
    "    movq %rsp, gProbeCallRsp(%rip)\n" PROBE_REGISTERS(PROBE_SET3, PROBE_SET_XMM3)
    "    callq *%r10\n"
    "    movq %rsp, %r10\n"
    "    subq gProbeCallRsp(%rip), %r10\n"
    "    movq %r10, gProbeImbalance(%rip)\n"
    "    xorl %r10d, %r10d\n" PROBE_REGISTERS(PROBE_TEST, PROBE_TEST_XMM)
    "    movl %r10d, gProbeClobbered(%rip)\n"
    "    movq gProbeFrame(%rip), %rsp\n"
    "    movdqu 0(%rsp), %xmm6\n"
    "    movdqu 16(%rsp), %xmm7\n"
    "    movdqu 32(%rsp), %xmm8\n"
    "    movdqu 48(%rsp), %xmm9\n"
    "    movdqu 64(%rsp), %xmm10\n"
    "    movdqu 80(%rsp), %xmm11\n"
    "    movdqu 96(%rsp), %xmm12\n"
    "    movdqu 112(%rsp), %xmm13\n"
    "    movdqu 128(%rsp), %xmm14\n"
    "    movdqu 144(%rsp), %xmm15\n"
    "    addq $160, %rsp\n"
    "    popq %r15\n"
    "    popq %r14\n"
    "    popq %r13\n"
    "    popq %r12\n"
    "    popq %rsi\n"
    "    popq %rdi\n"
    "    popq %rbp\n"
    "    popq %rbx\n"
    "    ret\n");

static CRITICAL_SECTION gProbeLock;

static Word Probe(AnyFunction fn, const Word* args, uint32_t count, ProbeResult* result) {
    EnterCriticalSection(&gProbeLock);
    Word value = (Word)ProbeX64(fn, args, count);
    result->imbalance = (intptr_t)gProbeImbalance;
    result->clobbered = gProbeClobbered;
    LeaveCriticalSection(&gProbeLock);
    return value;
}

#else
#error "host.c probes calls on x86 and x86-64 only"
#endif

static Word Invoke(const char* name, AnyFunction fn, const Word* args, uint32_t count) {
    ProbeResult probe = {0, 0};
    Word result = Probe(fn, args, count, &probe);
    CHECK(probe.imbalance == 0, "%s: stack off by %ld bytes after the call", name,
          (long)probe.imbalance);
    for (size_t i = 0; i < sizeof kSavedRegisters / sizeof kSavedRegisters[0]; ++i) {
        CHECK((probe.clobbered & (1u << i)) == 0, "%s: the callee changed %s", name,
              kSavedRegisters[i]);
    }
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

#define WORD_OF(p) ((Word)(uintptr_t)(p))

static int32_t CallCancelReader(void) {
    return (int32_t)Invoke("CancelReader", (AnyFunction)gApi.CancelReader, NULL, 0);
}
static int32_t CallCloseWMAWriteFile(void) {
    return (int32_t)Invoke("CloseWMAWriteFile", (AnyFunction)gApi.CloseWMAWriteFile, NULL, 0);
}
static void CallEnumWMAFormat(FormatCallback callback) {
    Word args[1] = {WORD_OF(callback)};
    Invoke("EnumWMAFormat", (AnyFunction)gApi.EnumWMAFormat, args, 1);
}
static int32_t CallGetWmaFileInfo(const char* path, AudioFormatInfo* info) {
    Word args[2] = {WORD_OF(path), WORD_OF(info)};
    return (int32_t)Invoke("GetWmaFileInfo", (AnyFunction)gApi.GetWmaFileInfo, args, 2);
}
static int32_t CallGetWmaSongInfo(const char* path, SongInfo* info) {
    Word args[2] = {WORD_OF(path), WORD_OF(info)};
    return (int32_t)Invoke("GetWmaSongInfo", (AnyFunction)gApi.GetWmaSongInfo, args, 2);
}
static int32_t CallGoGoGoReader(const char* path, uint32_t startMs, int32_t userClock,
                                SampleCallback callback) {
    Word args[4] = {WORD_OF(path), startMs, (Word)(uint32_t)userClock, WORD_OF(callback)};
    return (int32_t)Invoke("GoGoGoReader", (AnyFunction)gApi.GoGoGoReader, args, 4);
}
static int32_t CallSetWmaSongInfo(const char* path, const SongInfo* info) {
    Word args[2] = {WORD_OF(path), WORD_OF(info)};
    return (int32_t)Invoke("SetWmaSongInfo", (AnyFunction)gApi.SetWmaSongInfo, args, 2);
}
static int32_t CallWriteWMAFile(const void* pcm, uint32_t byteCount) {
    Word args[2] = {WORD_OF(pcm), byteCount};
    return (int32_t)Invoke("WriteWMAFile", (AnyFunction)gApi.WriteWMAFile, args, 2);
}

static const char* const kExportNames[9] = {
    "CancelReader", "CloseWMAWriteFile", "EnumWMAFormat",  "GetWmaFileInfo", "GetWmaSongInfo",
    "GoGoGoReader", "InitWMAWriteFile",  "SetWmaSongInfo", "WriteWMAFile"};

/* Loads the library and finds every export by its bare name; ordinal i + 1 must
 * lead to the same function. Returns 0 when the library is unusable. */
static HMODULE gModule;

static int LoadApi(const char* path) {
    HMODULE module = LoadLibraryA(path);
    gModule = module;
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

/* Takes the captured PCM out of the capture. */
static unsigned char* CaptureTake(size_t* size) {
    EnterCriticalSection(&gCapture.lock);
    unsigned char* pcm = gCapture.pcm;
    *size = gCapture.size;
    gCapture.pcm = NULL;
    gCapture.size = gCapture.capacity = 0;
    LeaveCriticalSection(&gCapture.lock);
    return pcm;
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

/* The callback of a decode that must never start. */
static LONG gIntruderCalls;

static int32_t __stdcall IntruderSamples(const void* data, uint32_t byteCount, uint32_t timeMs) {
    (void)data;
    (void)byteCount;
    (void)timeMs;
    InterlockedIncrement(&gIntruderCalls);
    return 1;
}

/* Decodes here take well under a second per file on the user clock and a few
 * seconds on the reader's: the bound only turns a hang into a failure. */
enum { kDecodeWaitMs = 20000, kSettleMs = 500 };

static uint32_t CapturedBlocks(void) {
    EnterCriticalSection(&gCapture.lock);
    uint32_t blocks = gCapture.blocks;
    LeaveCriticalSection(&gCapture.lock);
    return blocks;
}

/* Whether more than `seen` blocks arrive within the decode bound. */
static int MoreBlocksArrive(uint32_t seen) {
    for (DWORD waited = 0; waited < kDecodeWaitMs; waited += 20) {
        if (CapturedBlocks() > seen) return 1;
        Sleep(20);
    }
    return 0;
}

/* After the end call, gives a stray second end call or late block time to show. */
static int CheckEndedOnce(const char* what, DWORD waitMs) {
    DWORD waited = WaitForSingleObject(gCapture.ended, waitMs);
    CHECK(waited == WAIT_OBJECT_0, "%s: no end call within %lu ms", what, (unsigned long)waitMs);
    Sleep(kSettleMs);
    EnterCriticalSection(&gCapture.lock);
    int once = gCapture.endCalls == 1;
    CHECK(once, "%s: %ld end calls", what, (long)gCapture.endCalls);
    CHECK(gCapture.afterEnd == 0, "%s: %u calls after the end call", what,
          (unsigned)gCapture.afterEnd);
    CHECK(gCapture.malformed == 0, "%s: %u malformed blocks", what, (unsigned)gCapture.malformed);
    CHECK(gCapture.backwards == 0, "%s: block times went back %u times", what,
          (unsigned)gCapture.backwards);
    LeaveCriticalSection(&gCapture.lock);
    return once;
}

/* Decodes the whole file on the library's clock; returns 1 if the decode ran. */
static int DecodeWhole(const char* path, uint32_t startMs, const char* what) {
    CaptureReset();
    int32_t started = CallGoGoGoReader(path, startMs, 1, ReceiveSamples);
    CHECK(started == 1, "%s: GoGoGoReader returned %ld", what, (long)started);
    if (started != 1) return 0;
    int once = CheckEndedOnce(what, kDecodeWaitMs);
    CHECK(gCapture.blocks > 0 && gCapture.size > 0, "%s: no PCM delivered", what);
    return once;
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

/* ---- Comparing PCM ------------------------------------------------------------------- */

/* Two decodes of one file by Wine's decoder are not bit-identical: the first
 * frame (about 46 ms) may come out differently from run to run, and later
 * samples may be up to 2 apart. Beyond that, the PCM must match. */
enum { kLooseMs = 50, kSampleTolerance = 2 };

typedef struct PcmFormat {
    uint32_t rate;
    uint32_t channels;
} PcmFormat;

static void CheckSimilarPcm(const char* what, const unsigned char* got, size_t gotSize,
                            const unsigned char* want, size_t wantSize, PcmFormat format) {
    CHECK(gotSize == wantSize, "%s: %u bytes, expected %u", what, (unsigned)gotSize,
          (unsigned)wantSize);
    size_t loose = (size_t)format.rate * format.channels * 2 * kLooseMs / 1000;
    size_t samples = (gotSize < wantSize ? gotSize : wantSize) / 2;
    size_t outside = 0;
    size_t first = 0;
    int largest = 0;
    for (size_t i = loose / 2; i < samples; ++i) {
        int16_t a, b;
        memcpy(&a, got + 2 * i, 2);
        memcpy(&b, want + 2 * i, 2);
        int diff = abs((int)a - (int)b);
        if (diff > largest) largest = diff;
        if (diff > kSampleTolerance && outside++ == 0) first = i;
    }
    CHECK(samples > loose / 2, "%s: only %u bytes", what, (unsigned)gotSize);
    CHECK(outside == 0,
          "%s: %u samples after the first %d ms differ by more than %d (largest %d, first at byte "
          "%u)",
          what, (unsigned)outside, kLooseMs, kSampleTolerance, largest, (unsigned)(2 * first));
    if (outside == 0 && gotSize == wantSize) {
        printf("%s: %u bytes, largest difference after the first %d ms: %d\n", what,
               (unsigned)gotSize, kLooseMs, largest);
    }
}

/* Compares the captured PCM with what the platform's reader gave from startMs. */
static void CheckAgainstReference(const char* refBase, uint32_t startMs, PcmFormat format) {
    char name[MAX_PATH];
    snprintf(name, sizeof name, "%s-%u.pcm", refBase, (unsigned)startMs);
    size_t size = 0;
    unsigned char* reference = ReadWholeFile(name, &size);
    CHECK(reference != NULL && size > 0, "no reference PCM in %s", name);
    if (reference != NULL && size > 0) {
        char what[64];
        snprintf(what, sizeof what, "PCM from %u ms against the reader's", (unsigned)startMs);
        CheckSimilarPcm(what, gCapture.pcm, gCapture.size, reference, size, format);
    }
    free(reference);
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
    Sleep(kSettleMs);
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
    DWORD waited = WaitForSingleObject(gCapture.firstBlock, kDecodeWaitMs);
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
     * crash the process once it is unmapped. */
    DWORD unloadedAfter = 0;
    while (GetModuleHandleA("MERVANE.dll") != NULL && unloadedAfter < 5000) {
        Sleep(50);
        unloadedAfter += 50;
    }
    CHECK(GetModuleHandleA("MERVANE.dll") == NULL,
          "MERVANE.dll still loaded 5 s after FreeLibrary");
    Sleep(kSettleMs);
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
    "       host tags DLL FILE\n";

int main(int argc, char** argv) {
    static const struct {
        const char* name;
        int argc;
    } kCommands[] = {{"basics", 5},  {"decode", 8}, {"cancel", 4},
                     {"overlap", 6}, {"unload", 5}, {"tags", 4}};
    int known = 0;
    for (size_t i = 0; argc >= 2 && i < sizeof kCommands / sizeof kCommands[0]; ++i) {
        if (strcmp(argv[1], kCommands[i].name) == 0) known = argc == kCommands[i].argc;
    }
    if (!known) {
        fputs(kUsage, stderr);
        return 100;
    }
    InitializeCriticalSection(&gCapture.lock);
#if defined(__x86_64__)
    InitializeCriticalSection(&gProbeLock);
#endif
    gCapture.firstBlock = CreateEventA(NULL, TRUE, FALSE, NULL);
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
    } else {
        RunTags(file);
    }
    printf("%s: %ld failures\n", command, (long)gFailures);
    fflush(stdout);
    /* An ordinary exit: the library is still loaded (except after unload) and
     * sees the process detach; its exit must be as clean as the host's. */
    return gFailures != 0 ? 1 : 0;
}
