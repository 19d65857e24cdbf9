#!/bin/sh
# SPDX-License-Identifier: MIT
# Ends the Wine tests: stops the prefix's wineserver and fails if any process
# started with this prefix is still alive.
# Usage: wine_cleanup.sh PREFIX
set -u
prefix=$1
# Debian's wine64 alone puts no wineserver on the PATH.
server=$(command -v wineserver 2>/dev/null) || server=/usr/lib/wine/wineserver
if [ -x "$server" ] && [ -d "$prefix" ]; then
    WINEPREFIX=$prefix "$server" -k >/dev/null 2>&1
    WINEPREFIX=$prefix timeout 30 "$server" -w >/dev/null 2>&1
fi
left=
for environ in /proc/[0-9]*/environ; do
    pid=${environ#/proc/}
    pid=${pid%/environ}
    [ "$pid" = $$ ] && continue
    # Processes that ended meanwhile, or are not ours to read, are not Wine's.
    if { tr '\0' '\n' <"$environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$prefix"; then
        left="$left $pid($(cat "/proc/$pid/comm" 2>/dev/null))"
    fi
done
if [ -n "$left" ]; then
    echo "Wine processes left behind:$left"
    exit 1
fi
