#!/bin/sh
# SPDX-License-Identifier: MIT
# Checks MERVANE.dll's export and import tables as the cross toolchain's objdump
# reads them: exactly the nine bare names at ordinals 1 to 9 in alphabetical
# order, and imports from system DLLs only.
# Usage: check_exports.sh OBJDUMP DLL
set -eu
objdump=$1
dll=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$objdump" -p "$dll" >"$work/headers"
status=0

# Rows of the name table look like "	[   0] CancelReader", the number being the
# index into the address table: ordinal = index + ordinal base.
base=$(sed -n 's/^Ordinal Base[[:space:]]*\([0-9]*\).*/\1/p' "$work/headers")
sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' "$work/headers" |
    sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p' |
    awk -v base="${base:-0}" '{ print $1 + base, $2 }' >"$work/exports"
addresses=$(sed -n 's/^[[:space:]]*Export Address Table[[:space:]]*\([0-9a-fA-F]*\)$/\1/p' "$work/headers" | head -n 1)
if [ "$addresses" != "00000009" ]; then
    echo "export address table holds $addresses entries, not 9" >&2
    status=1
fi
# The nine names in alphabetical order hold ordinals 1 to 9.
awk '{ print NR, $0 }' "$(dirname "$0")/../exports.txt" >"$work/expected"
if ! cmp -s "$work/exports" "$work/expected"; then
    echo "export table differs from the nine bare names at ordinals 1-9:" >&2
    diff "$work/expected" "$work/exports" >&2 || true
    status=1
fi
if ! grep -q '^Name[[:space:]].*MERVANE\.dll' "$work/headers"; then
    echo "export directory does not name the module MERVANE.dll" >&2
    status=1
fi

# Imported DLLs: only the system's and the Format SDK's.
sed -n 's/^[[:space:]]*DLL Name: //p' "$work/headers" >"$work/imports"
if [ ! -s "$work/imports" ]; then
    echo "no import table found" >&2
    status=1
fi
while read -r name; do
    case $(printf '%s' "$name" | tr '[:upper:]' '[:lower:]') in
    kernel32.dll | ole32.dll | msvcrt.dll | api-ms-win-crt-*.dll | wmvcore.dll) ;;
    *)
        echo "unexpected import: $name" >&2
        status=1
        ;;
    esac
done <"$work/imports"

# Imported functions are found by bare name: a decorated one (the factories are
# __stdcall, so "WMCreateReaderPriv@4") would not resolve in the platform DLL.
sed -n 's/^[[:space:]]*[0-9a-f]*[[:space:]]*[0-9]*  *\([A-Za-z_][^[:space:]]*\)$/\1/p' \
    "$work/headers" >"$work/functions"
if grep '@' "$work/functions" >&2; then
    echo "decorated function names in the import table" >&2
    status=1
fi
if [ $status -eq 0 ]; then
    echo "exports: $(cut -d' ' -f2 "$work/exports" | tr '\n' ' ')"
    echo "imports: $(tr '\n' ' ' <"$work/imports")"
fi
exit $status
