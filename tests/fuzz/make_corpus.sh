#!/bin/sh
# SPDX-License-Identifier: MIT
# Makes the fuzzers' seed corpus in OUT_DIR: small real WMA files from Debian's
# ffmpeg, 0.3 s each; WMA 1 and 2, mono and stereo, several rates, half of them
# with song tags. Files already there are kept.
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
