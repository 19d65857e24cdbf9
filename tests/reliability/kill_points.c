/* SPDX-License-Identifier: MIT */
/* Numbered kill points for reliability_child: every call that changes a
 * file's contents or a folder's names (writes to regular files, truncation,
 * flushes, links, renames, removals) is a step. Armed with K, the process
 * kills itself with SIGKILL just before its K-th step, whichever thread makes
 * it, so that a test can stop a write at each of its steps in turn instead of
 * at a moment that depends on the machine's speed. These definitions take the
 * C library's place for the whole process (the executable exports them) and
 * make the system call themselves. The child can also stop itself (SIGSTOP)
 * at a step, and open as a file system without unnamed files would. */
#define _GNU_SOURCE
#include "kill_points.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

static long armedAt = -1;
static int armedSignal = SIGKILL;
static int noUnnamedFiles = 0;
static long steps = 0;

void ArmKillPoint(long step) {
    armedAt = step;
}

void ArmStopPoint(long step) {
    armedSignal = SIGSTOP;
    armedAt = step;
}

void RefuseUnnamedFiles(void) {
    noUnnamedFiles = 1;
}

long KillPointSteps(void) {
    return __atomic_load_n(&steps, __ATOMIC_SEQ_CST);
}

static void Step(void) {
    if (__atomic_add_fetch(&steps, 1, __ATOMIC_SEQ_CST) == armedAt)
        syscall(SYS_kill, syscall(SYS_getpid), armedSignal);
}

/* Writes to pipes and terminals (the child's report) are no step. */
static void StepIfFile(int fd) {
    struct stat st;
    if (syscall(SYS_fstat, fd, &st) == 0 && S_ISREG(st.st_mode)) Step();
}

ssize_t write(int fd, const void* buf, size_t count) {
    StepIfFile(fd);
    return syscall(SYS_write, fd, buf, count);
}

ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset) {
    StepIfFile(fd);
    return syscall(SYS_pwrite64, fd, buf, count, offset);
}

ssize_t pwrite64(int fd, const void* buf, size_t count, off_t offset) {
    return pwrite(fd, buf, count, offset);
}

ssize_t writev(int fd, const struct iovec* iov, int count) {
    StepIfFile(fd);
    return syscall(SYS_writev, fd, iov, count);
}

int ftruncate(int fd, off_t length) {
    Step();
    return (int)syscall(SYS_ftruncate, fd, length);
}

int ftruncate64(int fd, off_t length) {
    return ftruncate(fd, length);
}

int fsync(int fd) {
    Step();
    return (int)syscall(SYS_fsync, fd);
}

int fdatasync(int fd) {
    Step();
    return (int)syscall(SYS_fdatasync, fd);
}

int linkat(int fromDir, const char* from, int toDir, const char* to, int flags) {
    Step();
    return (int)syscall(SYS_linkat, fromDir, from, toDir, to, flags);
}

int renameat(int fromDir, const char* from, int toDir, const char* to) {
    Step();
    return (int)syscall(SYS_renameat2, fromDir, from, toDir, to, 0);
}

int rename(const char* from, const char* to) {
    return renameat(AT_FDCWD, from, AT_FDCWD, to);
}

int unlinkat(int dir, const char* path, int flags) {
    Step();
    return (int)syscall(SYS_unlinkat, dir, path, flags);
}

int unlink(const char* path) {
    return unlinkat(AT_FDCWD, path, 0);
}

/* Opens as the system does, or fails O_TMPFILE as a file system without
 * unnamed files does. */
static int OpenAt(int dir, const char* path, int flags, mode_t mode) {
    if (noUnnamedFiles && (flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return (int)syscall(SYS_openat, dir, path, flags, mode);
}

#define MODE_OF(flags, mode)                                              \
    do {                                                                  \
        if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) { \
            va_list args;                                                 \
            va_start(args, flags);                                        \
            mode = va_arg(args, mode_t);                                  \
            va_end(args);                                                 \
        }                                                                 \
    } while (0)

int open(const char* path, int flags, ...) {
    mode_t mode = 0;
    MODE_OF(flags, mode);
    return OpenAt(AT_FDCWD, path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    mode_t mode = 0;
    MODE_OF(flags, mode);
    return OpenAt(AT_FDCWD, path, flags, mode);
}

int openat(int dir, const char* path, int flags, ...) {
    mode_t mode = 0;
    MODE_OF(flags, mode);
    return OpenAt(dir, path, flags, mode);
}

int openat64(int dir, const char* path, int flags, ...) {
    mode_t mode = 0;
    MODE_OF(flags, mode);
    return OpenAt(dir, path, flags, mode);
}
