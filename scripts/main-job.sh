#!/bin/sh
# SPDX-License-Identifier: MIT
# The main job, end to end through the library on real audio: builds
# libmervane.so and the mervane host, makes a short WAV with ffmpeg, encodes it
# to WMA, tags it, shows its information and tags, decodes it back to WAV and
# transcodes it to a lower bitrate. Results go to out/demo/.
set -eu
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target mervane_tool

tool=build/linux/tools/mervane
demo=out/demo
mkdir -p "$demo"

step() { printf '\n== %s\n' "$*"; }

step "making 5 s of stereo audio with ffmpeg"
ffmpeg -nostdin -hide_banner -loglevel error -y \
    -f lavfi -i "sine=frequency=440:duration=5" -f lavfi -i "sine=frequency=660:duration=5" \
    -filter_complex "[0][1]amerge=inputs=2,volume=0.5" -ar 44100 -c:a pcm_s16le "$demo/tone.wav"

step "codec formats on offer"
"$tool" formats

step "encoding tone.wav at 128 kbit/s"
"$tool" encode "$demo/tone.wav" "$demo/tone.wma" --bitrate 128

step "tagging"
"$tool" tags "$demo/tone.wma" --title "A and E" --author "mervane" --album "Demo" \
    --year 2026 --track 1 --genre 12

step "file information"
"$tool" info "$demo/tone.wma"

step "decoding back to WAV"
"$tool" decode "$demo/tone.wma" "$demo/tone-decoded.wav"

step "transcoding to 64 kbit/s"
"$tool" transcode "$demo/tone.wma" "$demo/tone-64k.wma" --bitrate 64
"$tool" info "$demo/tone-64k.wma"

step "what ffprobe says of the results"
for f in tone.wma tone-64k.wma tone-decoded.wav; do
    ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,bit_rate:format=duration \
        -of compact=p=0:nk=0 "$demo/$f" | tr '\n' ' '
    echo " <- $f"
done
printf '\ndone: results in %s/\n' "$demo"
