#!/bin/sh
# SPDX-License-Identifier: MIT
# Checks MERVANE.dll's export and import tables as the cross toolchain's objdump
# reads them: exactly the nine bare names at ordinals 1 to 9 in alphabetical
# order, and imports from system DLLs only. For the 32-bit DLL (WORD_BYTES 4)
# also that every export returns to its host the way __stdcall demands: each
# of its return instructions pops exactly the export's argument bytes.
#
# An export's code is found from the export table (its address) and the DLL's
# symbol table (where its function ends). Checked are every `ret` in that
# extent and in the function's split-off cold part (`NAME.cold`), and, for
# every direct jump from there that leaves it (a tail call, a jump into shared
# code), every `ret` in the whole function the jump lands in, transitively.
# Calls are not followed: their callees return into the export. A jump through
# a pointer cannot be followed, so it fails the check.
# Usage: check_exports.sh OBJDUMP DLL WORD_BYTES
set -eu
objdump=$1
dll=$2
word=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$objdump" -p "$dll" >"$work/headers"
status=0

# Rows of the name table look like "	[   0] CancelReader", the number being the
# index into the address table: ordinal = index + ordinal base.
base=$(sed -n 's/^Ordinal Base[[:space:]]*\([0-9]*\).*/\1/p' "$work/headers")
sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' "$work/headers" |
    sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p' >"$work/names"
awk -v base="${base:-0}" '{ print $1 + base, $2 }' "$work/names" >"$work/exports"
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

# ---- The 32-bit DLL's returns.
[ "$word" = 4 ] || exit $status
"$objdump" -d --no-show-raw-insn "$dll" >"$work/code"

image=$(sed -n 's/^ImageBase[[:space:]]*\([0-9a-fA-F]*\)$/\1/p' "$work/headers")
# Export address rows: "	[   5] +base[   6] 1a50 Export RVA"; name rows: "	[   5] GoGoGoReader".
sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] +base\[ *[0-9]*\] \([0-9a-f]*\) Export RVA$/\1 \2/p' \
    "$work/headers" >"$work/rvas"
if [ -z "$image" ] || [ "$(wc -l <"$work/rvas")" -ne 9 ] || [ "$(wc -l <"$work/names")" -ne 9 ]; then
    echo "cannot read the image base and the nine exports" >&2
    exit 1
fi
while read -r index rva; do
    name=$(awk -v i="$index" '$1 == i { print $2 }' "$work/names")
    printf '%s %08x\n' "$name" $((0x$image + 0x$rva))
done <"$work/rvas" >"$work/addresses"

while read -r name bytes; do
    address=$(awk -v n="$name" '$1 == n { print $2 }' "$work/addresses")
    if [ -z "$address" ]; then
        echo "$name: not exported" >&2
        status=1
        continue
    fi
    awk -v entry="$address" -v name="$name" -v bytes="$bytes" '
        # Symbol lines: "68681a50 <_GoGoGoReader@16>:"; instructions: "68681a76:	ret    $0x10".
        /^[0-9a-f]+ <.*>:$/ {
            label = substr($2, 2, length($2) - 3)
            start[n] = label; startOf[label] = n
            next
        }
        /^ *[0-9a-f]+:\t/ {
            split($0, part, "\t")
            a = part[1]; sub(/^ */, "", a); sub(/:$/, "", a)
            at[a] = n; text[n] = part[2]; n++
        }
        function symbolStart(i) { while (i > 0 && !(i in start)) i--; return i }
        function visit(i) { if (!(i in seen)) { seen[i] = 1; queue[tail++] = i } }
        END {
            if (!(entry in at) || !(at[entry] in start)) {
                printf "%s: no function symbol at %s: cannot find where it ends\n", name, entry
                exit 1
            }
            first = at[entry]
            visit(first)
            if ((start[first] ".cold") in startOf) visit(startOf[start[first] ".cold"])
            while (head < tail) {
                s = queue[head++]
                pieces = pieces " " start[s]
                for (i = s; i < n && (i == s || !(i in start)); i++) {
                    t = text[i]
                    if (t ~ /^(repz? )?ret/) {
                        pops = t ~ /\$0x/ ? t : "0"
                        sub(/.*\$0x/, "", pops)
                        returns++
                        if (pops != bytes) {
                            printf "%s: %s pops 0x%s bytes, not 0x%s (in %s)\n", name, t, pops, bytes, start[s]
                            bad++
                        }
                    } else if (t ~ /^j[a-z]* +\*/) {
                        printf "%s: %s in %s cannot be followed\n", name, t, start[s]
                        bad++
                    } else if (t ~ /^j[a-z]* +[0-9a-f]+ </) {
                        target = t; sub(/^j[a-z]* +/, "", target); sub(/ .*/, "", target)
                        if (!(target in at)) {
                            printf "%s: %s lands inside an instruction\n", name, t
                            bad++
                        } else if (symbolStart(at[target]) != s) {
                            visit(symbolStart(at[target]))
                        }
                    }
                }
            }
            if (returns == 0) { printf "%s: no return instruction found\n", name; exit 1 }
            if (bad) exit 1
            printf "%s: %d returns, all popping 0x%s bytes, in%s\n", name, returns, bytes, pieces
        }' "$work/code" || status=1
done <<'EOF'
CancelReader 0
CloseWMAWriteFile 0
EnumWMAFormat 4
GetWmaFileInfo 8
GetWmaSongInfo 8
GoGoGoReader 10
InitWMAWriteFile 8
SetWmaSongInfo 8
WriteWMAFile 8
EOF
exit $status
