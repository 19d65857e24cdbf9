#!/bin/sh
# SPDX-License-Identifier: MIT
# Decodes a WMA file through a direct client of Wine's Format SDK, from the start
# and from 1,000 ms, then has the host decode it through MERVANE.dll and compare:
# the library passes the reader's blocks through unchanged, so the PCM must
# match within the run-to-run wobble of Wine's decoder (the host's comparison).
# Usage: decode_test.sh WINE_RUN HOST REFERENCE DLL FILE RATE CHANNELS WORKDIR
set -u
wine_run=$1
host=$2
reference=$3
dll=$4
file=$5
rate=$6
channels=$7
work=$8
name=$(basename "$file" .wma)
mkdir -p "$work"
rm -f "$work/$name"-*.pcm

# Windows programs see the Unix file system as drive Z:.
win() { printf 'Z:%s' "$1"; }

for start in 0 1000; do
    "$wine_run" "$reference" "$(win "$file")" $start "$(win "$work/$name-ref-$start.pcm")"
    status=$?
    [ $status -eq 0 ] || { echo "reference reader failed ($status) from $start ms"; exit $status; }
    [ -s "$work/$name-ref-$start.pcm" ] || { echo "reference reader gave no PCM from $start ms"; exit 1; }
done
"$wine_run" "$host" decode "$(win "$dll")" "$(win "$file")" "$rate" "$channels" \
    "$(win "$work/$name-host")" "$(win "$work/$name-ref")"
status=$?
[ $status -eq 0 ] || echo "host decode failed ($status)"
exit $status
