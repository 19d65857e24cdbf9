#!/bin/sh
# SPDX-License-Identifier: MIT
# Reads the slot table that sdk_surface.cpp compiles into its object file and
# checks that our declarations put every method in the same slot as the cross
# toolchain's (or as the platform's published table for the file sinks).
# Every method our header declares must be in the table, so that a method added
# later is not left unchecked.
# Usage: check_slots.sh OBJCOPY OBJECT WMSDK_HEADER WORD_BYTES
set -eu
objcopy=$1
object=$2
header=$3
word=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$objcopy" -O binary --only-section=.wmslots "$object" "$work/slots"
"$objcopy" -O binary --only-section=.wmnames "$object" "$work/names"
tr -d '\000' <"$work/names" >"$work/names.txt"
od -An -tu"$word" -v "$work/slots" | tr -s ' ' '\n' | sed '/^$/d' >"$work/words"

entries=$(wc -l <"$work/names.txt")
words=$(wc -l <"$work/words")
if [ "$entries" -lt 100 ] || [ "$words" -lt $((entries * 4)) ]; then
    echo "slot table missing or short: $entries names, $words words" >&2
    exit 1
fi

# Interface::Method for every method the header declares.
awk '/^struct [A-Za-z0-9_]+ : / { name = $2 }
     /^[[:space:]]+WM_METHOD\(/ { m = $0; sub(/.*WM_METHOD\(/, "", m); sub(/\).*/, "", m); print name "::" m }' \
    "$header" | sort >"$work/declared"
sort "$work/names.txt" >"$work/listed"
if [ "$(wc -l <"$work/declared")" -lt 100 ]; then
    echo "could not read the methods of $header" >&2
    exit 1
fi
if ! cmp -s "$work/declared" "$work/listed"; then
    echo "methods declared (<) and methods checked (>) differ:" >&2
    diff "$work/declared" "$work/listed" >&2 || true
    exit 1
fi

# Each entry: ours (slot word, adjustment), theirs (slot word, adjustment).
# A slot word is 1 + WORD_BYTES * slot for a virtual function.
head -n $((entries * 4)) "$work/words" | paste -d' ' - - - - | paste -d' ' - "$work/names.txt" |
    awk -v w="$word" '
    {
        n++
        if ($1 % w != 1 || $2 != 0) { printf "%s: ours is not a virtual slot (%s %s)\n", $5, $1, $2; bad++; next }
        if ($3 % w != 1 || $4 != 0) { printf "%s: reference is not a virtual slot (%s %s)\n", $5, $3, $4; bad++; next }
        if ($1 != $3) { printf "%s: ours is slot %d, the platform has slot %d\n", $5, ($1 - 1) / w, ($3 - 1) / w; bad++ }
    }
    END {
        printf "%d methods checked, %d out of place\n", n, bad
        exit bad != 0
    }'
