#!/bin/sh
# Decodes a WMA file through MERVANE.dll and through a direct client of Wine's
# Format SDK, from the start and from 1,000 ms, and requires the same PCM bytes:
# the library passes the reader's blocks through unchanged.
# Usage: decode_test.sh WINE_RUN HOST REFERENCE DLL FILE WORKDIR
set -u
wine_run=$1
host=$2
reference=$3
dll=$4
file=$5
work=$6
name=$(basename "$file" .wma)
mkdir -p "$work"
rm -f "$work/$name"-*.pcm

# Windows programs see the Unix file system as drive Z:.
win() { printf 'Z:%s' "$1"; }

for start in 0 1000; do
    "$wine_run" "$reference" "$(win "$file")" $start "$(win "$work/$name-ref-$start.pcm")"
    status=$?
    [ $status -eq 0 ] || { echo "reference reader failed ($status) from $start ms"; exit $status; }
done
"$wine_run" "$host" decode "$(win "$dll")" "$(win "$file")" "$(win "$work/$name-host")"
status=$?
[ $status -eq 0 ] || { echo "host decode failed ($status)"; exit $status; }

for start in 0 1000; do
    ref="$work/$name-ref-$start.pcm"
    got="$work/$name-host-$start.pcm"
    if [ ! -s "$ref" ]; then
        echo "reference reader gave no PCM from $start ms"
        status=1
    elif ! cmp "$ref" "$got"; then
        echo "PCM from $start ms differs: reference $(wc -c <"$ref") bytes, library $(wc -c <"$got" 2>/dev/null || echo 0)"
        status=1
    else
        echo "PCM from $start ms: $(wc -c <"$ref") bytes, identical"
    fi
done
exit $status
