/* SPDX-License-Identifier: MIT */
/* The host's checks, and calls into the library through a probe that checks
 * the callee kept the stack and the registers it must keep. */
#include "host.h"

/* ---- Checks ---------------------------------------------------------------- */

LONG gFailures;

void Fail(const char* format, ...) {
    va_list args;
    va_start(args, format);
    fputs("FAIL: ", stdout);
    vprintf(format, args);
    fputs("\n", stdout);
    fflush(stdout);
    va_end(args);
    InterlockedIncrement(&gFailures);
}

/* ---- Calls through the probe ------------------------------------------------- */

typedef struct ProbeResult {
    intptr_t imbalance; /* bytes the callee popped too many (negative: too few) */
    uint32_t clobbered; /* callee-saved registers the callee changed, one bit each */
} ProbeResult;

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
#error "host_probe.c probes calls on x86 and x86-64 only"
#endif

Word Invoke(const char* name, AnyFunction fn, const Word* args, uint32_t count) {
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

void InitProbe(void) {
#if defined(__x86_64__)
    InitializeCriticalSection(&gProbeLock);
#endif
}
