#!/bin/sh
# Runs a cross-built Windows program under Wine: quietly, in a prefix of the
# build's own (made once, under a lock), bounded in time, and leaving no Wine
# process behind.
#
# MERVANE_WINEPREFIX  the prefix (default: ./wineprefix)
# MERVANE_WINE_TIMEOUT  seconds the program may run (default 300)
# MERVANE_REQUIRE_WINE  if set to 1, a machine that cannot run 32-bit Wine
#                       programs is an error (exit 1) instead of a skip (exit 77)
set -u
prefix=${MERVANE_WINEPREFIX:-$(pwd)/wineprefix}
limit=${MERVANE_WINE_TIMEOUT:-300}
unset WINEPREFIX
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

unavailable() {
    echo "wine-run: $1" >&2
    if [ "${MERVANE_REQUIRE_WINE:-0}" = 1 ]; then exit 1; fi
    exit 77
}

command -v wine >/dev/null 2>&1 || unavailable "wine is not installed"
# The 32-bit loader answers --version without a prefix; it fails on a kernel
# that cannot run 32-bit programs (ia32_emulation off) or without wine32.
version=$(wine --version 2>&1) || unavailable "wine cannot start 32-bit programs here: $version"

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
