#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs a cross-built Windows program under Wine: quietly, in a prefix of the
# build's own (made once, under a lock), bounded in time, and leaving no Wine
# process behind. The loader fits the program: a 64-bit program runs under
# Wine's 64-bit loader in the prefix PREFIX64, a 32-bit one under `wine` in
# PREFIX. Where this machine cannot run 32-bit programs (a kernel without IA-32
# emulation, or no 32-bit Wine), a 32-bit program runs under Wine inside the
# emulated machine that tests/vm/vm.sh started for the build (MERVANE_VM_DIR),
# where the build tree lies at the same path.
#
# MERVANE_WINEPREFIX  the prefix (default: ./wineprefix)
# MERVANE_WINE_TIMEOUT  seconds the program may run (default 300)
# MERVANE_WINE64      the 64-bit loader (default: Debian's /usr/lib/wine/wine64);
#                     without it a 64-bit program fails (exit 1), never skips
# MERVANE_VM_DIR      state folder of the running emulated machine
# MERVANE_VM=1        run 32-bit programs in it even where Wine runs them natively
# MERVANE_REQUIRE_WINE  0: a 32-bit program that can run neither way is skipped
#                       (exit 77); otherwise (the default) that is an error (exit 1)
set -u
prefix=${MERVANE_WINEPREFIX:-$(pwd)/wineprefix}
limit=${MERVANE_WINE_TIMEOUT:-300}
unset WINEPREFIX
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

unavailable() {
    echo "wine-run: $1" >&2
    if [ "${MERVANE_REQUIRE_WINE:-1}" = 0 ]; then exit 77; fi
    exit 1
}

report() {
    if [ "$2" -eq 124 ] || [ "$2" -eq 137 ]; then
        echo "wine-run: $1 did not finish within $limit s" >&2
    fi
}

# Makes the prefix $WINEPREFIX once (under a lock), then runs the program with
# the loader, bounded in time, and stops the prefix's wineserver.
# Usage: run_in_prefix LOADER WINESERVER PROGRAM [ARG...]
run_in_prefix() {
    loader=$1
    server=$2
    shift 2
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock -w 600 9 || { echo "wine-run: prefix lock timed out" >&2; exit 1; }
        if [ ! -f "$WINEPREFIX/.mervane-ready" ]; then
            rm -rf "$WINEPREFIX"
            timeout -k 10 600 "$loader" wineboot --init >/dev/null 2>&1
            status=$?
            timeout -k 10 120 "$server" -w
            if [ $status -ne 0 ]; then
                echo "wine-run: wineboot --init failed ($status)" >&2
                "$server" -k >/dev/null 2>&1
                exit 1
            fi
            touch "$WINEPREFIX/.mervane-ready"
        fi
    ) 9>"$WINEPREFIX.lock" || exit 1

    timeout -k 10 "$limit" "$loader" "$@"
    status=$?
    report "$1" $status
    "$server" -k >/dev/null 2>&1
    timeout 30 "$server" -w >/dev/null 2>&1
    exit $status
}

# The machine field of a PE file's header: 8664 for x86-64, 14c for x86.
pe_machine() {
    header=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
    [ -n "$header" ] && od -An -tx2 -j$((header + 4)) -N2 "$1" 2>/dev/null | tr -d ' '
}

if [ "$(pe_machine "$1")" = 8664 ]; then
    loader=${MERVANE_WINE64:-/usr/lib/wine/wine64}
    if [ ! -x "$loader" ]; then
        echo "wine-run: the 64-bit Wine loader $loader is missing (Debian package wine64)" >&2
        exit 1
    fi
    export WINEPREFIX="${prefix}64"
    run_in_prefix "$loader" "$(dirname "$loader")/wineserver" "$@"
fi

# The 32-bit loader answers --version without a prefix; it fails on a kernel
# that cannot run 32-bit programs (ia32_emulation off) or without wine32.
if [ "${MERVANE_VM:-}" = 1 ] || ! version=$(wine --version 2>&1); then
    vm=${MERVANE_VM_DIR:-}
    [ -n "$vm" ] && [ -f "$vm/spool/ready" ] ||
        unavailable "wine cannot start 32-bit programs here (${version:-MERVANE_VM=1}) and no emulated machine runs for this build (MERVANE_VM_DIR=$vm; tests/vm/vm.sh starts one)"
    sh "$(dirname "$0")/../tests/vm/vm.sh" run "$vm" "$limit" wine "$@"
    status=$?
    report "$1" $status
    exit $status
fi

mkdir -p "$(dirname "$prefix")"
(
    flock -w 600 9 || { echo "wine-run: prefix lock timed out" >&2; exit 1; }
    if [ ! -f "$prefix/.mervane-ready" ]; then
        rm -rf "$prefix"
        timeout -k 10 600 wine wineboot --init >/dev/null 2>&1
        status=$?
        timeout -k 10 120 wineserver -w
        if [ $status -ne 0 ]; then
            echo "wine-run: wineboot --init failed ($status)" >&2
            wineserver -k >/dev/null 2>&1
            exit 1
        fi
        touch "$prefix/.mervane-ready"
    fi
) 9>"$prefix.lock" || exit 1

timeout -k 10 "$limit" wine "$@"
status=$?
if [ $status -eq 124 ] || [ $status -eq 137 ]; then
    echo "wine-run: $1 did not finish within $limit s" >&2
fi
wineserver -k >/dev/null 2>&1
timeout 30 wineserver -w >/dev/null 2>&1
exit $status
