#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs the host tool from the .deb on a real file: installed with dpkg on a CI
# machine (and removed again), otherwise unpacked with dpkg-deb.
#   check_deb.sh PACKAGE.deb FILE.wma WORK
set -eu
deb=$1 media=$2 work=$3

# Dependencies were read off the binaries, not written by hand.
depends=$(dpkg-deb -f "$deb" Depends)
case $depends in
*libavformat*libc6*) ;;
*) echo "FAIL: Depends lacks FFmpeg or libc: $depends"; exit 1 ;;
esac

if [ "${CI:-}" = true ]; then
    dpkg -i "$deb" >/dev/null
    trap 'dpkg --purge mervane >/dev/null' EXIT
    ldconfig -p | grep -q 'libmervane\.so\.0 ' || { echo "FAIL: ldconfig does not know libmervane.so.0"; exit 1; }
    out=$(/usr/bin/mervane info "$media")
else
    rm -rf "$work"
    dpkg-deb -x "$deb" "$work"
    lib=$(find "$work/usr/lib" -name libmervane.so.0)
    out=$(LD_LIBRARY_PATH=$(dirname "$lib") "$work/usr/bin/mervane" info "$media")
fi
echo "$out"
echo "$out" | grep -q '^sample rate: 44100 Hz$' || { echo "FAIL: unexpected information"; exit 1; }
