/* SPDX-License-Identifier: MIT */
/*
 * Runs a program and reports its whole-process cost: wall time from before the
 * fork to after the wait, and the child's peak resident memory.
 *
 *   bench_timeit OUT PROGRAM [ARG...]
 *
 * The program's standard output goes to the file OUT (/dev/null to drop it),
 * its standard error stays. Prints "WALL_MS PEAK_KIB CPU_MS" on one line (CPU:
 * user and system time of the program and its threads); exits with the
 * program's exit code (125 if it could not be run).
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double NowMs(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec * 1e3 + (double)now.tv_nsec / 1e6;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: bench_timeit OUT PROGRAM [ARG...]\n");
        return 125;
    }
    const int out = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        perror(argv[1]);
        return 125;
    }
    const double began = NowMs();
    const pid_t child = fork();
    if (child < 0) return 125;
    if (child == 0) {
        dup2(out, STDOUT_FILENO);
        execvp(argv[2], argv + 2);
        _exit(125);
    }
    int status = 0;
    struct rusage usage;
    if (wait4(child, &status, 0, &usage) != child) return 125;
    const double wall = NowMs() - began;
    const double cpu = (double)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                       (double)(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    printf("%.3f %ld %.3f\n", wall, usage.ru_maxrss, cpu);
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 125;
}
