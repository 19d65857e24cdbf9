#!/bin/sh
# SPDX-License-Identifier: MIT
# Makes the WMA files the Wine tests decode, with the ffmpeg command-line tool:
# 3 s stereo 44.1 kHz at 128 kbit/s, 3 s mono 22.05 kHz at 32 kbit/s, 20 s
# stereo for cancelling a decode that runs in real time, and 40 s stereo that a
# decode on the user clock must finish within seconds.
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
