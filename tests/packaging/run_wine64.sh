#!/bin/sh
# Runs a 64-bit Windows host beside the zip's MERVANE.dll under Wine's 64-bit
# loader (Debian's wine64; not on PATH), in a prefix of the build's own. Output
# goes to files, not a pipe, which Wine can keep open; the prefix's wineserver is
# stopped afterwards.
#   run_wine64.sh HOST.exe MERVANE.dll WORK ARGS...
# MERVANE_WINE64 names the loader if it is not where Debian puts it.
set -u
host=$1 dll=$2 work=$3
shift 3

loader=${MERVANE_WINE64:-}
if [ -z "$loader" ]; then
    for candidate in /usr/lib/wine/wine64 $(dpkg -L wine64 2>/dev/null | grep '/wine64$'); do
        if [ -x "$candidate" ]; then
            loader=$candidate
            break
        fi
    done
fi
if [ -z "$loader" ]; then
    echo "FAIL: Wine's 64-bit loader was not found (Debian package wine64)"
    exit 1
fi
wineserver=$(dirname "$loader")/wineserver
[ -x "$wineserver" ] || wineserver=wineserver

mkdir -p "$work"
unset WINEPREFIX
export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
stop_wine() {
    "$wineserver" -k >/dev/null 2>&1
    timeout 30 "$wineserver" -w >/dev/null 2>&1
}

if [ ! -f "$WINEPREFIX/.mervane-ready" ]; then
    rm -rf "$WINEPREFIX"
    timeout -k 10 600 "$loader" wineboot --init >"$work/wineboot.log" 2>&1
    status=$?
    timeout -k 10 120 "$wineserver" -w >/dev/null 2>&1
    if [ $status -ne 0 ]; then
        echo "FAIL: wineboot --init exited with $status"
        cat "$work/wineboot.log"
        stop_wine
        exit 1
    fi
    touch "$WINEPREFIX/.mervane-ready"
fi

# The program finds the DLL in its own folder, as a shipped host would.
run=$work/run
rm -rf "$run"
mkdir -p "$run"
cp "$host" "$dll" "$run/"
(cd "$run" && timeout -k 10 180 "$loader" "./$(basename "$host")" "$@" \
    >"$run/stdout.txt" 2>"$run/stderr.txt")
status=$?
stop_wine
cat "$run/stdout.txt"
if [ $status -eq 124 ] || [ $status -eq 137 ]; then
    echo "FAIL: $(basename "$host") did not finish within 180 s"
fi
[ $status -eq 0 ] || sed -n '1,20p' "$run/stderr.txt"
exit $status
