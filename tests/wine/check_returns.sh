#!/bin/sh
# SPDX-License-Identifier: MIT
# Checks, in the machine code of the 32-bit MERVANE.dll, that every export
# returns to its host the way __stdcall demands: each of its return
# instructions pops exactly the export's argument bytes.
#
# An export's code is found from the export table (its address) and the DLL's
# symbol table (where its function ends). Checked are every `ret` in that
# extent and in the function's split-off cold part (`NAME.cold`), and, for
# every direct jump from there that leaves it (a tail call, a jump into shared
# code), every `ret` in the whole function the jump lands in, transitively.
# Calls are not followed: their callees return into the export. A jump through
# a pointer cannot be followed, so it fails the check.
# Usage: check_returns.sh OBJDUMP DLL
set -eu
objdump=$1
dll=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$objdump" -p "$dll" >"$work/headers"
"$objdump" -d --no-show-raw-insn "$dll" >"$work/code"

base=$(sed -n 's/^ImageBase[[:space:]]*\([0-9a-fA-F]*\)$/\1/p' "$work/headers")
# Export address rows: "	[   5] +base[   6] 1a50 Export RVA"; name rows: "	[   5] GoGoGoReader".
sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] +base\[ *[0-9]*\] \([0-9a-f]*\) Export RVA$/\1 \2/p' \
    "$work/headers" >"$work/rvas"
sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' "$work/headers" |
    sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p' >"$work/names"
if [ -z "$base" ] || [ "$(wc -l <"$work/rvas")" -ne 9 ] || [ "$(wc -l <"$work/names")" -ne 9 ]; then
    echo "cannot read the image base and the nine exports" >&2
    exit 1
fi
while read -r index rva; do
    name=$(awk -v i="$index" '$1 == i { print $2 }' "$work/names")
    printf '%s %08x\n' "$name" $((0x$base + 0x$rva))
done <"$work/rvas" >"$work/exports"

status=0
while read -r name bytes; do
    address=$(awk -v n="$name" '$1 == n { print $2 }' "$work/exports")
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
