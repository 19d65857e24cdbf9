#!/bin/sh
# SPDX-License-Identifier: MIT
# Makes the fuzzers' seed corpus in OUT_DIR: small real WMA files from Debian's
# ffmpeg, 0.3 s each; WMA 1 and 2, mono and stereo, several rates, half of them
# with song tags, and two whose header claims a duration of 2,831,242 s (a
# damaged or hostile header must never make a decode last). Files already
# there are kept.
#   tests/fuzz/make_corpus.sh OUT_DIR
set -eu
out=${1:?usage: make_corpus.sh OUT_DIR}
mkdir -p "$out"

n=0
for codec in wmav1 wmav2; do
    # rate channels bitrate
    for variant in "8000 1 24k" "22050 2 32k" "32000 1 48k" "44100 2 64k" "48000 2 128k"; do
        # shellcheck disable=SC2086
        set -- $variant
        n=$((n + 1))
        name="$out/$codec-$1-$2ch.wma"
        tags=""
        if [ $((n % 2)) = 0 ]; then
            name="$out/$codec-$1-$2ch-tagged.wma"
            tags="-metadata title=Seed$n -metadata author=Maker -metadata album=Corpus
                  -metadata date=2001 -metadata track=$n -metadata genre=Rock"
        fi
        [ -s "$name" ] && continue
        # shellcheck disable=SC2086
        ffmpeg -nostdin -hide_banner -loglevel error -y \
            -f lavfi -i "sine=frequency=$((200 * n)):sample_rate=$1:duration=0.3" \
            -ac "$2" -c:a "$codec" -b:a "$3" $tags -f asf "$name.part"
        mv "$name.part" "$name"
    done
done

# The play and send durations of the File Properties object (64 and 72 bytes
# into it) set to 2,831,242 s plus the preroll, on two of the seeds.
guid='\xa1\xdc\xab\x8c\x47\xa9\xcf\x11'
for seed in wmav1-8000-1ch wmav2-44100-2ch; do
    name="$out/$seed-long-header.wma"
    [ -s "$name" ] && continue
    at=$(LC_ALL=C grep -obUaP "$guid" "$out/$seed.wma" | head -n 1 | cut -d: -f1)
    [ -n "$at" ] || continue
    cp "$out/$seed.wma" "$name.part"
    for field in 64 72; do
        printf '\300\246\225\001\300\031\000\000' |
            dd of="$name.part" bs=1 seek=$((at + field)) conv=notrunc status=none
    done
    mv "$name.part" "$name"
done
