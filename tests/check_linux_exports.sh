#!/bin/sh
# SPDX-License-Identifier: MIT
# libmervane.so must export exactly the nine functions of the host interface
# (tests/exports.txt, in alphabetical order).
set -eu
lib=$1
expected=$(cat "$(dirname "$0")/exports.txt")
actual=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TtWiV]$/ {print $3}' | sort)
if [ "$actual" != "$expected" ]; then
    echo "unexpected export table:"; echo "$actual"
    exit 1
fi
echo "9 exports as expected"
