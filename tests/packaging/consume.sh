#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds consumer/consumer.c against an installed mervane, the way a user would,
# and runs it on a WMA file that must read as 44.1 kHz.
#   consume.sh pkg-config CC    PREFIX LIBDIR FILE.wma WORK
#   consume.sh cmake      CMAKE PREFIX LIBDIR FILE.wma WORK
# PREFIX may also be a .tar.gz from cpack, unpacked first.
set -eu
mode=$1 tool=$2 prefix=$3 libdir=$4 media=$5 work=$6
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"

if [ -f "$prefix" ]; then
    tar -xzf "$prefix" -C "$work"
    prefix=$(find "$work" -mindepth 1 -maxdepth 1 -type d)
fi

case $mode in
pkg-config)
    # Only this prefix's files: a mervane installed on the system must not answer.
    flags=$(PKG_CONFIG_LIBDIR=$prefix/$libdir/pkgconfig pkg-config --cflags --libs mervane)
    # shellcheck disable=SC2086
    "$tool" -std=c11 -Wall -Wextra -Werror "$here/consumer/consumer.c" $flags -o "$work/consumer"
    LD_LIBRARY_PATH=$prefix/$libdir "$work/consumer" "$media" 44100
    ;;
cmake)
    "$tool" -S "$here/consumer" -B "$work/build" -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >"$work/configure.log" ||
        { cat "$work/configure.log"; exit 1; }
    grep -q "^mervane_DIR:PATH=$prefix/" "$work/build/CMakeCache.txt" ||
        { echo "find_package found mervane outside $prefix"; exit 1; }
    "$tool" --build "$work/build" >"$work/build.log" || { cat "$work/build.log"; exit 1; }
    "$work/build/consumer" "$media" 44100
    ;;
*)
    echo "unknown mode $mode" >&2
    exit 2
    ;;
esac
