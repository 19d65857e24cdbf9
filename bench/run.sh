#!/bin/sh
# SPDX-License-Identifier: MIT
# The benchmark table: builds the library and the benchmark programs in release
# mode (build/bench, and build/bench-win64 for the Wine row), makes its WMA
# inputs with ffmpeg (44.1 kHz stereo 128 kbit/s: 1, 10 and 60 minutes; kept
# in build/bench/media), runs each comparison several times, alternating ours
# and the reference, and prints one table of medians:
#
#   measure | ours | reference | ratio | target | holds
#
# Usage: bench/run.sh [MEASURE...]
#   MEASURE: decode instructions encode memory seek query scan tags wine (default: all)
# Environment:
#   BENCH_RUNS   runs of each side per comparison (default 5; the 10-minute
#                decode: three times as many; memory: at most 3; instructions:
#                1, as instruction counts repeat)
# Needs: cmake, ninja, a C/C++ compiler, FFmpeg's development files, ffmpeg,
# valgrind (instructions), mingw-w64 and Debian's wine64 (wine).
# Exit code: 0 when every measure was taken, whether or not its target holds.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/bench
winbuild=$root/build/bench-win64
media=$build/media
work=$build/work
bin=$build/bench
runs=${BENCH_RUNS:-5}
table=$build/table.txt
wine_dir=/usr/lib/wine

measures=${*:-decode instructions encode memory seek query scan tags wine}
wants() {
    case " $measures " in *" $1 "*) return 0 ;; esac
    return 1
}

note() { echo "bench: $*" >&2; }
die() {
    echo "bench: $*" >&2
    exit 1
}

# ---- Build -----------------------------------------------------------------------

note "building in $build (Release)"
mkdir -p "$build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMERVANE_TESTS=OFF \
    >"$build.configure.log" 2>&1 || die "configure failed, see $build.configure.log"
cmake --build "$build" -j2 --target mervane bench_floor bench_driver bench_timeit bench_hwy_stub bench_shape \
    >"$build.build.log" 2>&1 || die "build failed, see $build.build.log"

# ---- Inputs ----------------------------------------------------------------------

mkdir -p "$media" "$work"
ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
# Two tones with a little noise, a different pair per channel: audio the codec
# has to work on in both channels.
if [ ! -f "$media/ten.pcm" ]; then
    note "making 10 minutes of PCM"
    ff -f lavfi -i "aevalsrc='0.3*sin(2*PI*440*t)+0.1*(random(0)*2-1)|0.3*sin(2*PI*554*t)+0.1*(random(1)*2-1)':s=44100:d=600" \
        -f s16le -ac 2 "$media/ten.pcm.part"
    mv "$media/ten.pcm.part" "$media/ten.pcm"
fi
if [ ! -f "$media/one.pcm" ]; then
    head -c $((44100 * 4 * 60)) "$media/ten.pcm" >"$media/one.pcm.part"
    mv "$media/one.pcm.part" "$media/one.pcm"
fi
pcm_in="-f s16le -ar 44100 -ac 2"
wma_out="-c:a wmav2 -b:a 128k -f asf"
for spec in one:-t:60 ten:-t:600 sixty:-stream_loop:5; do
    name=${spec%%:*}
    option=$(echo "$spec" | cut -d: -f2-3 | tr : ' ')
    if [ ! -f "$media/$name.wma" ]; then
        note "making $media/$name.wma"
        # shellcheck disable=SC2086
        case $option in
            -stream_loop*) ff $option $pcm_in -i "$media/ten.pcm" $wma_out "$media/$name.wma.part" ;;
            *) ff $pcm_in -i "$media/ten.pcm" $option $wma_out "$media/$name.wma.part" ;;
        esac
        mv "$media/$name.wma.part" "$media/$name.wma"
    fi
done

# ---- Helpers ---------------------------------------------------------------------

median() {
    sort -g | awk '{ v[NR] = $1 }
        END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2];
              else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Whole-process wall time, peak memory and CPU time of one program run:
# prints "WALL_MS PEAK_KIB CPU_MS".
timed() {
    "$bin/bench_timeit" "$work/stdout" "$@" || die "failed: $*"
}

# Runs `ours_cmd` and `ref_cmd` (shell functions printing one number each)
# BENCH_RUNS times, alternating which goes first, and collects their outputs in
# $work/ours.list and $work/ref.list.
alternate() {
    ours_cmd=$1
    ref_cmd=$2
    count=${3:-$runs}
    : >"$work/ours.list"
    : >"$work/ref.list"
    i=0
    while [ $i -lt "$count" ]; do
        if [ $((i % 2)) -eq 0 ]; then
            $ours_cmd >>"$work/ours.list"
            $ref_cmd >>"$work/ref.list"
        else
            $ref_cmd >>"$work/ref.list"
            $ours_cmd >>"$work/ours.list"
        fi
        i=$((i + 1))
    done
}

# Total instructions of every thread, from program start to exit.
counted() {
    LD_LIBRARY_PATH=$bin/valgrind-lib valgrind --tool=callgrind \
        --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
        awk '/Collected :/ { print $NF }'
}

: >"$table"
# row MEASURE OURS REF KIND LIMIT UNIT
#   KIND ratio: holds when OURS/REF <= LIMIT; below: OURS < LIMIT (UNIT);
#   apart: |OURS - REF| <= LIMIT (UNIT); none: no target.
row() {
    awk -v m="$1" -v o="$2" -v r="$3" -v kind="$4" -v lim="$5" -v unit="$6" 'BEGIN {
        ratio = (r + 0 != 0 && r != "-") ? sprintf("%.3f", o / r) : "-"
        if (kind == "ratio") { target = "<= " lim "x"; ok = (ratio != "-" && ratio + 0 <= lim + 0) }
        else if (kind == "below") { target = "< " lim " " unit; ok = (o + 0 < lim + 0) }
        else if (kind == "apart") { d = o - r; if (d < 0) d = -d;
                                    target = "<= " lim " " unit " apart"; ok = (d <= lim + 0) }
        else { target = "-"; ok = -1 }
        holds = ok == 1 ? "yes" : (ok == 0 ? "NO" : "-")
        printf "%s|%s|%s|%s|%s|%s\n", m, o, r, ratio, target, holds
    }' >>"$table"
}

# ---- Decode: whole process, 10 minutes, against the floor ------------------------------

# Two rows from the runs `timed` recorded: whole-process wall time and CPU time
# (user+system), medians of ours against the reference's.
timed_rows() {
    row "$1, wall ms (whole process)" \
        "$(cut -d' ' -f1 "$work/ours.list" | median)" "$(cut -d' ' -f1 "$work/ref.list" | median)" \
        ratio "$2" ms
    row "$1, CPU ms (user+system)" \
        "$(cut -d' ' -f3 "$work/ours.list" | median)" "$(cut -d' ' -f3 "$work/ref.list" | median)" \
        ratio "$2" ms
}

if wants decode; then
    # Half a second each: three times the runs, so a burst of load on a shared
    # machine moves the medians less.
    decode_runs=$((runs * 3))
    note "decode of 10 minutes, $decode_runs runs each"
    ours_decode() { timed "$bin/bench_driver" decode "$media/ten.wma"; }
    floor_decode() { timed "$bin/bench_floor" "$media/ten.wma"; }
    alternate ours_decode floor_decode "$decode_runs"
    timed_rows "decode 10 min" 1.10
fi

# ---- Decode: instructions, 1 minute, against the floor ---------------------------------

if wants instructions; then
    command -v valgrind >/dev/null 2>&1 || die "valgrind is not installed"
    note "decode instructions of 1 minute (callgrind)"
    ours_count() { counted "$bin/bench_driver" decode "$media/one.wma"; }
    floor_count() { counted "$bin/bench_floor" "$media/one.wma"; }
    alternate ours_count floor_count 1
    row "decode 1 min, instructions (callgrind)" \
        "$(median <"$work/ours.list")" "$(median <"$work/ref.list")" ratio 1.10 -
    note "encode instructions of 1 minute (callgrind)"
    ours_encode_count() { counted "$bin/bench_driver" encode "$media/one.pcm" "$work/encoded.wma"; }
    ffmpeg_encode_count() {
        # shellcheck disable=SC2086
        counted ffmpeg -nostdin -loglevel error $pcm_in -i "$media/one.pcm" -c:a wmav2 -b:a 128k \
            -f null -
    }
    alternate ours_encode_count ffmpeg_encode_count 1
    row "encode 1 min, instructions (callgrind)" \
        "$(median <"$work/ours.list")" "$(median <"$work/ref.list")" ratio 1.05 -
fi

# ---- Encode: 10 minutes of PCM, against ffmpeg to its null muxer -------------------------

if wants encode; then
    note "encode of 10 minutes, $runs runs each"
    ours_encode() { timed "$bin/bench_driver" encode "$media/ten.pcm" "$work/encoded.wma"; }
    ffmpeg_encode() {
        # shellcheck disable=SC2086
        timed ffmpeg -nostdin -loglevel error $pcm_in -i "$media/ten.pcm" -c:a wmav2 -b:a 128k \
            -f null -
    }
    alternate ours_encode ffmpeg_encode
    timed_rows "encode 10 min" 1.05
fi

# ---- Memory: decode of 60 minutes against 1 minute ----------------------------------------

if wants memory; then
    memory_runs=$((runs < 3 ? runs : 3))
    note "peak memory of decodes of 60 and 1 minutes, $memory_runs runs each"
    long_decode() { timed "$bin/bench_driver" decode "$media/sixty.wma" | cut -d' ' -f2; }
    short_decode() { timed "$bin/bench_driver" decode "$media/one.wma" | cut -d' ' -f2; }
    alternate long_decode short_decode "$memory_runs"
    row "peak memory KiB, decode 60 min vs 1 min" \
        "$(median <"$work/ours.list")" "$(median <"$work/ref.list")" apart 4096 KiB
fi

# ---- First block after a start: at 0, half-way and near the end -----------------------------
# On ffmpeg's 60-minute file and on two shaped like a platform encoder's: the
# data packets of a real platform-made file (WMA Pro 128 kbit/s; WMA 9 128
# kbit/s), repeated with shifted send and presentation times up to 60 minutes,
# keeping their own jitter; fixed-size packets with one payload each, no index.

if wants seek; then
    for pair in pro:jaudiotagger__test2.wma wma9:musicmetadata__13_Thirty_Dirty_Birds.wma; do
        shaped=$media/shaped-${pair%%:*}.wma
        if [ ! -f "$shaped" ]; then
            note "making $shaped"
            "$bin/bench_shape" "$root/tests/data/${pair#*:}" "$shaped.part" 60 ||
                die "could not shape ${pair#*:}"
            mv "$shaped.part" "$shaped"
        fi
    done
    note "first block after starts at 0, 30 and 59 minutes, $runs runs each"
    for pair in "ffmpeg's wmav2:sixty" "platform-shaped WMA Pro:shaped-pro" \
        "platform-shaped WMA 9:shaped-wma9"; do
        for at in 0:0 "30 min:1800000" "59 min:3540000"; do
            : >"$work/ours.list"
            i=0
            while [ $i -lt "$runs" ]; do
                "$bin/bench_driver" first "$media/${pair#*:}.wma" "${at#*:}" >>"$work/ours.list" ||
                    die "decode of ${pair#*:} from ${at#*:} ms failed"
                i=$((i + 1))
            done
            row "first block, ${pair%%:*} 60 min, start at ${at%%:*}, ms" \
                "$(median <"$work/ours.list")" - below 50 ms
        done
    done
fi

# ---- Header-only calls: 60 minutes against 1 minute ---------------------------------------------

if wants query; then
    note "file query and tag read on 60 and 1 minutes, $runs runs each"
    long_query() { "$bin/bench_driver" query "$media/sixty.wma" 200 || die "query failed"; }
    short_query() { "$bin/bench_driver" query "$media/one.wma" 200 || die "query failed"; }
    alternate long_query short_query
    row "GetWmaFileInfo us, 60 min vs 1 min" \
        "$(cut -d' ' -f1 "$work/ours.list" | median)" "$(cut -d' ' -f1 "$work/ref.list" | median)" \
        none - us
    row "GetWmaSongInfo us, 60 min vs 1 min" \
        "$(cut -d' ' -f2 "$work/ours.list" | median)" "$(cut -d' ' -f2 "$work/ref.list" | median)" \
        none - us
    # Both read the header alone: the file query within ten times the tag
    # read, and under 0.1 ms.
    row "GetWmaFileInfo us, 1 min, vs GetWmaSongInfo" \
        "$(cut -d' ' -f1 "$work/ref.list" | median)" "$(cut -d' ' -f2 "$work/ref.list" | median)" \
        ratio 10 us
    row "GetWmaFileInfo us, 1 min" "$(cut -d' ' -f1 "$work/ref.list" | median)" - below 100 us
    # Calls of tens of microseconds move with the machine's load; the target is
    # held by the same calls counted in instructions: 20 rounds of both, whole
    # process.
    if command -v valgrind >/dev/null 2>&1; then
        long_count() { counted "$bin/bench_driver" query "$media/sixty.wma" 20; }
        short_count() { counted "$bin/bench_driver" query "$media/one.wma" 20; }
        alternate long_count short_count 1
        row "both, 20 rounds, instructions, 60 min vs 1 min" \
            "$(median <"$work/ours.list")" "$(median <"$work/ref.list")" ratio 1.01 -
    fi
fi

# ---- A library scan: 1,000 files, information and tags of each, in one process ---------------

if wants scan; then
    note "library scan of 1,000 files, $runs runs each"
    # Links to the 1-minute file: 1,000 paths a scan opens one by one.
    mkdir -p "$media/library"
    : >"$work/library.list"
    i=0
    while [ $i -lt 1000 ]; do
        [ -f "$media/library/$i.wma" ] || ln "$media/one.wma" "$media/library/$i.wma"
        echo "$media/library/$i.wma" >>"$work/library.list"
        i=$((i + 1))
    done
    both_scan() { "$bin/bench_driver" scan "$work/library.list" both || die "scan failed"; }
    tags_scan() { "$bin/bench_driver" scan "$work/library.list" tags || die "scan failed"; }
    alternate both_scan tags_scan
    row "library scan, 1,000 files, ms: information and tags vs tags alone" \
        "$(median <"$work/ours.list")" "$(median <"$work/ref.list")" ratio 11 ms
fi

# ---- Tag writes into the 60-minute file, against cp of it -----------------------------------------

if wants tags; then
    note "tag writes into a copy of the 60-minute file, $runs runs"
    : >"$work/cp.list"
    : >"$work/first.list"
    : >"$work/tags.list"
    i=0
    while [ $i -lt "$runs" ]; do
        # The reference makes the fresh copy the writes go to.
        rm -f "$work/tagged.wma"
        sync
        timed cp "$media/sixty.wma" "$work/tagged.wma" | cut -d' ' -f1 >>"$work/cp.list"
        # The first write finds ffmpeg's header, with no room to spare; the
        # six after it (timed apart from the first, once its file is on disk)
        # the header the first one left.
        "$bin/bench_driver" tags "$work/tagged.wma" 1 >>"$work/first.list" ||
            die "tag write failed"
        sync
        "$bin/bench_driver" tags "$work/tagged.wma" 6 | tr ' ' '\n' >>"$work/tags.list" ||
            die "tag write failed"
        i=$((i + 1))
    done
    cp_ms=$(median <"$work/cp.list")
    row "tag write, six tags, 60 min, ms: first (ffmpeg's header)" \
        "$(median <"$work/first.list")" "$cp_ms" none - ms
    row "tag write, six tags, 60 min, ms: again, vs cp" \
        "$(median <"$work/tags.list")" "$cp_ms" ratio 0.10 ms
    rm -f "$work/tagged.wma"
fi

# ---- Under Wine: MERVANE.dll against a direct client of the platform's reader -----------------------

if wants wine; then
    [ -x "$wine_dir/wine64" ] || die "$wine_dir/wine64 is missing (Debian package wine64)"
    note "building MERVANE.dll (win64, Release) in $winbuild"
    cmake -S "$root" -B "$winbuild" -G Ninja --toolchain "$root/cmake/mingw.cmake" \
        -DMINGW_PROCESSOR=x86_64 -DCMAKE_BUILD_TYPE=Release -DMERVANE_TESTS=OFF \
        >"$winbuild.configure.log" 2>&1 ||
        die "win64 configure failed, see $winbuild.configure.log"
    cmake --build "$winbuild" -j2 --target mervane >"$winbuild.build.log" 2>&1 ||
        die "win64 build failed, see $winbuild.build.log"
    mkdir -p "$winbuild/bench"
    x86_64-w64-mingw32-gcc -O2 -Wall -Wextra -Werror -I"$root/include" \
        -o "$winbuild/bench/bench_wine_host.exe" "$root/bench/wine_host.c" -static -static-libgcc
    x86_64-w64-mingw32-g++ -O2 -std=c++17 -Wall -Wextra -Werror \
        -o "$winbuild/bench/bench_wine_reader.exe" "$root/tests/wine/reference_reader.cpp" -lole32 \
        -static -static-libgcc -static-libstdc++

    export WINEPREFIX="$build/wineprefix64" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    if [ ! -f "$WINEPREFIX/.bench-ready" ]; then
        note "making the Wine prefix $WINEPREFIX"
        rm -rf "$WINEPREFIX"
        timeout -k 10 600 "$wine_dir/wine64" wineboot --init >/dev/null 2>&1 ||
            die "wineboot --init failed"
        "$wine_dir/wineserver" -w
        touch "$WINEPREFIX/.bench-ready"
    fi
    note "decode of 1 minute under Wine, $runs runs each"
    # Each program prints its in-process time into a file; the prefix's
    # wineserver is stopped after every run.
    in_wine() {
        out=$1
        shift
        timeout -k 10 600 "$wine_dir/wine64" "$@" >"$out" 2>"$work/wine.err" ||
            die "under Wine: $* failed (see $work/wine.err)"
        "$wine_dir/wineserver" -k >/dev/null 2>&1 || true
        "$wine_dir/wineserver" -w >/dev/null 2>&1 || true
        # Windows programs end their lines with CR LF.
        tr -d '\r' <"$out"
    }
    ours_wine() {
        in_wine "$work/wine-ours.txt" "$winbuild/bench/bench_wine_host.exe" \
            "Z:$winbuild/MERVANE.dll" "Z:$media/one.wma" "Z:$work/wine-ours.pcm"
    }
    reader_wine() {
        in_wine "$work/wine-reader.txt" "$winbuild/bench/bench_wine_reader.exe" \
            "Z:$media/one.wma" 0 "Z:$work/wine-reader.pcm"
    }
    alternate ours_wine reader_wine
    row "decode 1 min under Wine 64-bit, ms (in process)" \
        "$(median <"$work/ours.list")" "$(median <"$work/ref.list")" ratio 1.05 ms
    rm -f "$work/wine-ours.pcm" "$work/wine-reader.pcm"
fi

# ---- The table ----------------------------------------------------------------------------------

{
    printf '%-58s %12s %12s %7s %18s %5s\n' measure ours reference ratio target holds
    awk -F'|' '{ printf "%-58s %12s %12s %7s %18s %5s\n", $1, $2, $3, $4, $5, $6 }' "$table"
} | tee "$build/table.out"
