#!/bin/sh
# SPDX-License-Identifier: MIT
# Makes the WMA file the packaging tests read: 3 s of a stereo tone at 44.1 kHz.
#   make_media.sh FFMPEG OUT.wma
set -eu
mkdir -p "$(dirname "$2")"
"$1" -nostdin -hide_banner -loglevel error -y -f lavfi -i "sine=frequency=440:duration=3" \
    -ar 44100 -ac 2 -c:a wmav2 -b:a 128k "$2"
