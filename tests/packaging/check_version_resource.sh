#!/bin/sh
# SPDX-License-Identifier: MIT
# Reads the version resource back out of MERVANE.dll: the fixed file and product
# versions, and the version strings and description Explorer shows.
#   check_version_resource.sh OBJCOPY MERVANE.dll VERSION
set -eu
objcopy=$1 dll=$2 version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$objcopy" -O binary --only-section=.rsrc "$dll" "$work/rsrc.bin"
failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

# VS_FIXEDFILEINFO: signature 0xFEEF04BD, structure version, then the file
# version and the product version as two 32-bit words each (major.minor,
# patch.build), little-endian.
# shellcheck disable=SC2046
set -- $(od -An -tx1 -v "$work/rsrc.bin" | tr -s ' \n' '  ' | awk '{
    for (i = 1; i + 23 <= NF; ++i)
        if ($i == "bd" && $(i+1) == "04" && $(i+2) == "ef" && $(i+3) == "fe") {
            for (k = 8; k < 24; ++k) printf "%s ", $(i+k)
            exit
        }
}')
[ $# = 16 ] || { echo "FAIL: no fixed version information in the resource"; exit 1; }
fixed="$((0x$4$3)).$((0x$2$1)).$((0x$8$7)).$((0x$6$5)) $((0x${12}${11})).$((0x${10}$9)).$((0x${16}${15})).$((0x${14}${13}))"
major=${version%%.*}
rest=${version#*.}
minor=${rest%%.*}
patch=${rest#*.}
want="$major.$minor.$patch.0 $major.$minor.$patch.0"
[ "$fixed" = "$want" ] || fail "fixed file and product versions are '$fixed', not '$want'"

# String values are UTF-16: each name is followed by its value.
strings -el "$work/rsrc.bin" >"$work/strings.txt"
value() { awk -v key="$1" 'found { print; exit } $0 == key { found = 1 }' "$work/strings.txt"; }
[ "$(value FileVersion)" = "$version" ] || fail "FileVersion is '$(value FileVersion)'"
[ "$(value ProductVersion)" = "$version" ] || fail "ProductVersion is '$(value ProductVersion)'"
[ "$(value OriginalFilename)" = MERVANE.dll ] || fail "OriginalFilename is '$(value OriginalFilename)'"
case $(value FileDescription) in
mervane:*) ;;
*) fail "FileDescription is '$(value FileDescription)'" ;;
esac
[ $failed = 0 ] && echo "version resource: $fixed, $(value FileDescription)"
exit $failed
