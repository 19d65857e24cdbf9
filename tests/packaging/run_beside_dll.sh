#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs a Windows host in a folder beside the zip's MERVANE.dll, where a shipped
# host finds it, under Wine through cmake/wine-run.sh. Output goes to files, not
# a pipe, which Wine can keep open.
#   run_beside_dll.sh WINE_RUN HOST.exe MERVANE.dll WORK ARGS...
set -u
wine_run=$1 host=$2 dll=$3 work=$4
shift 4
rm -rf "$work"
mkdir -p "$work"
cp "$host" "$dll" "$work/" || exit 1
(cd "$work" && sh "$wine_run" "./$(basename "$host")" "$@" >stdout.txt 2>stderr.txt)
status=$?
cat "$work/stdout.txt"
[ $status -eq 0 ] || sed -n '1,20p' "$work/stderr.txt"
exit $status
