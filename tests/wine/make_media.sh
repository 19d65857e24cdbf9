#!/bin/sh
# SPDX-License-Identifier: MIT
# Makes the WMA files the Wine tests decode, with the ffmpeg command-line tool:
# 3 s stereo 44.1 kHz at 128 kbit/s, 3 s mono 22.05 kHz at 32 kbit/s, 20 s
# stereo for cancelling a decode that runs in real time, 40 s stereo that a
# decode on the user clock must finish within seconds; and two files whose
# decode is refused: audio with video (Wine numbers the video output 0) and a
# copy of the stereo file made protected (DRM).
# Usage: make_media.sh FFMPEG DIR
set -eu
ffmpeg=$1
dir=$2
mkdir -p "$dir"
make() {
    "$ffmpeg" -nostdin -hide_banner -loglevel error -y -f lavfi -i "$1" -c:a wmav2 -b:a "$2" \
        "$dir/$3.tmp.wma"
    mv "$dir/$3.tmp.wma" "$dir/$3.wma"
}
make "aevalsrc=0.5*sin(440*2*PI*t)|0.4*sin(660*2*PI*t):s=44100:d=3" 128k stereo
make "aevalsrc=0.5*sin(330*2*PI*t):s=22050:d=3" 32k mono
make "aevalsrc=0.5*sin(550*2*PI*t)|0.5*sin(550*2*PI*t):s=44100:d=20" 64k long
make "aevalsrc=0.3*sin(220*2*PI*t)|0.3*sin(330*2*PI*t):s=44100:d=40" 48k forty
"$ffmpeg" -nostdin -hide_banner -loglevel error -y -f lavfi -i "testsrc=size=64x48:rate=10:d=2" \
    -f lavfi -i "sine=f=440:d=2" -map 1:a -map 0:v -c:a wmav2 -b:a 64k -c:v msmpeg4v3 -f asf \
    "$dir/video.tmp.asf"
mv "$dir/video.tmp.asf" "$dir/video.asf"
# A Content Encryption Object (GUID, size, then secret data, protection type
# "DRM", key ID and licence URL, each after its DWORD length) added at the end
# of the stereo file's header, whose size and object count grow to match.
le() { # VALUE BYTES: the value little-endian, as printf escapes
    v=$1 i=0 out=""
    while [ "$i" -lt "$2" ]; do
        out="$out\\$(printf '%03o' $((v % 256)))"
        v=$((v / 256)) i=$((i + 1))
    done
    printf "$out"
}
src=$dir/stereo.wma
size=$(od -An -t u8 -j 16 -N 8 "$src" | tr -d ' ')
count=$(od -An -t u4 -j 24 -N 4 "$src" | tr -d ' ')
{
    head -c 16 "$src"
    le $((size + 59)) 8
    le $((count + 1)) 4
    tail -c +29 "$src" | head -c $((size - 28))
    printf '\373\263\021\042\043\275\322\021\264\267\000\240\311\125\374\156'
    le 59 8
    le 6 4; printf 'secret'
    le 4 4; printf 'DRM\000'
    le 3 4; printf 'key'
    le 6 4; printf 'https:'
    tail -c +$((size + 1)) "$src"
} >"$dir/protected.tmp.wma"
mv "$dir/protected.tmp.wma" "$dir/protected.wma"
