#!/bin/sh
# SPDX-License-Identifier: MIT
# The command-line host's failures: clear messages and distinct exit codes.
set -u
tool=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failures=0
expect() {
    want=$1; shift
    "$@" >"$dir/out" 2>"$dir/err"
    got=$?
    if [ "$got" -ne "$want" ] || { [ "$want" -ne 0 ] && ! grep -q "^mervane: \|^usage:" "$dir/err"; }; then
        echo "FAIL: '$*' exited $got (wanted $want): $(cat "$dir/err")"
        failures=$((failures + 1))
    fi
}
expect 2 "$tool"
expect 0 "$tool" --help
expect 2 "$tool" decode only-one-argument
expect 4 "$tool" info "$dir/missing.wma"
expect 4 "$tool" encode "$dir/missing.wav" "$dir/out.wma"
expect 3 "$tool" encode "$0" "$dir/out.wma"
expect 2 "$tool" decode "$dir/missing.wma" "$dir/out.wav" --json
expect 0 "$tool" -V
# The library opens WMA files by name: no pipe on the WMA side.
expect 2 "$tool" decode - "$dir/out.wav"
expect 2 "$tool" encode "$dir/missing.wav" -
expect 2 "$tool" info "$dir/missing.wma" -
expect 3 "$tool" encode - "$dir/out.wma" </dev/null
if command -v ffmpeg >/dev/null 2>&1; then
    ffmpeg -nostdin -v error -y -f lavfi -i sine=duration=0.2 -ac 2 -ar 44100 "$dir/s44.wav"
    ffmpeg -nostdin -v error -y -f lavfi -i sine=duration=0.2 -ar 16000 "$dir/m16.wav"
    expect 3 "$tool" encode "$dir/s44.wav" "$dir/out.wma" --bitrate 100
    expect 3 "$tool" encode "$dir/m16.wav" "$dir/out.wma"
    # A rate no format offers is refused, naming the nearest that are offered.
    ffmpeg -nostdin -v error -y -f lavfi -i sine=duration=0.2 -ac 2 -ar 96000 "$dir/s96.flac"
    expect 3 "$tool" encode "$dir/s96.flac" "$dir/out.wma"
    grep -q "nearest: 48000 Hz with 2 channels; 44100 Hz" "$dir/err" || {
        echo "FAIL: no nearest formats named: $(cat "$dir/err")"
        failures=$((failures + 1))
    }
    expect 1 "$tool" info "$dir/s44.wav"
    expect 0 "$tool" encode "$dir/s44.wav" "$dir/out.wma" --bitrate 64
    # Off a terminal, no progress line unless asked.
    [ ! -s "$dir/err" ] || { echo "FAIL: progress off a terminal: $(cat "$dir/err")"; failures=$((failures + 1)); }
    expect 0 "$tool" encode "$dir/s44.wav" "$dir/out.wma" --progress
    grep -q "of audio in" "$dir/err" || { echo "FAIL: --progress shows nothing"; failures=$((failures + 1)); }
    expect 0 "$tool" info "$dir/out.wma"
fi
[ "$failures" -eq 0 ] && echo "tool error handling as expected"
exit "$failures"
