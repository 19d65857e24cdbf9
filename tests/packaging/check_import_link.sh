#!/bin/sh
# SPDX-License-Identifier: MIT
# Links a host against an import library from the unpacked zip, as a user would,
# and checks the program's import table: MERVANE.dll, by the nine bare names.
#   check_import_link.sh mingw CC OBJDUMP PACKAGE_DIR HOST.c OUT.exe
#   check_import_link.sh msvc TRIPLE OBJDUMP PACKAGE_DIR HOST.c OUT.exe CLANG LLD_LINK
# mingw: gcc with lib/libmervane.dll.a; msvc: clang for TRIPLE-pc-windows-msvc and
# lld-link, with lib/MERVANE.lib and no C runtime.
set -eu
mode=$1 tool=$2 objdump=$3 pkg=$4 source=$5 out=$6
mkdir -p "$(dirname "$out")"
rm -f "$out"
case $mode in
mingw)
    "$tool" -std=c11 -Wall -Wextra -Werror -I"$pkg/include" "$source" -L"$pkg/lib" -lmervane \
        -static-libgcc -o "$out"
    ;;
msvc)
    clang=$7 lld_link=$8
    "$clang" --target="$tool-pc-windows-msvc" -ffreestanding -O1 -Wall -Werror -I"$pkg/include" \
        -c "$source" -o "$out.obj"
    "$lld_link" /nologo /entry:HostEntry /subsystem:console /nodefaultlib "$out.obj" \
        "$pkg/lib/MERVANE.lib" /out:"$out"
    ;;
*)
    echo "unknown mode $mode" >&2
    exit 2
    ;;
esac

# objdump -p lists each DLL's imports as "vma hint name" lines under "DLL Name: X".
imports=$("$objdump" -p "$out" | awk '
    /DLL Name:/ { dll = $3; next }
    /^[[:space:]]*$/ { dll = "" }
    dll == "MERVANE.dll" && NF == 3 && $1 ~ /^[0-9a-f]+$/ { print $3 }' | sort)
expected=$(cat "$(dirname "$0")/../exports.txt")
if [ "$imports" != "$expected" ]; then
    echo "FAIL: $(basename "$out") imports from MERVANE.dll:"
    echo "$imports"
    "$objdump" -p "$out" | sed -n '/DLL Name/,/^$/p'
    exit 1
fi
echo "$(basename "$out") imports the nine exports from MERVANE.dll by name"
