#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs the fuzz targets of a fuzz preset build: first each target's saved
# regression inputs, then each target for its share of the time from a seed
# corpus of small ffmpeg-made files, with the ASF dictionary. Fails on any
# crash, sanitizer report, leak or hang (30 s per input). Prints the runs and
# executions of each target; crashing inputs are kept in BUILD_DIR/fuzz-artifacts.
#   tests/fuzz/run.sh [BUILD_DIR [SECONDS_IN_ALL]]     defaults: build/fuzz 180
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build/fuzz}
total=${2:-180}
targets="fuzz_file_info fuzz_tag_read fuzz_tag_write fuzz_decode fuzz_asf_header"
count=$(echo "$targets" | wc -w)
each=$((total / count))
[ "$each" -ge 1 ] || each=1

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

seeds="$build/fuzz-seeds"
"$here/make_corpus.sh" "$seeds"

failed=""
for target in $targets; do
    program="$build/tests/fuzz/$target"
    [ -x "$program" ] || { echo "missing $program (cmake --build --preset fuzz)"; exit 1; }
    log="$build/fuzz-logs/$target.log"
    work="$build/fuzz-work/$target"
    artifacts="$build/fuzz-artifacts/$target/"
    rm -rf "$work"
    mkdir -p "$work" "$artifacts" "$(dirname "$log")"
    cp "$seeds"/* "$work"/

    if ! "$program" "$here/regressions/$target"/* >"$log" 2>&1; then
        echo "$target: a regression input fails"; tail -n 30 "$log"
        failed="$failed $target"
        continue
    fi
    if "$program" -dict="$here/asf.dict" -max_total_time="$each" -timeout=30 \
        -max_len=16384 -rss_limit_mb=2560 -artifact_prefix="$artifacts" \
        -print_final_stats=1 "$work" >"$log" 2>&1; then
        runs=$(sed -n 's/^Done \([0-9]*\) runs in \([0-9]*\) second.*/\1 runs in \2 s/p' "$log")
        cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1)
        echo "$target: $runs, $cov, corpus $(ls "$work" | wc -l) files"
    else
        echo "$target: FAILED"; grep -E 'ERROR|SUMMARY|fuzz target:|Test unit written' "$log" | head -n 10
        failed="$failed $target"
    fi
done
if [ -n "$failed" ]; then
    echo "fuzzing failed:$failed (logs in $build/fuzz-logs)"
    exit 1
fi
