#!/bin/sh
# SPDX-License-Identifier: MIT
# Installs what building and testing mervane needs on Debian 12, as root.
# Does nothing for packages that are already there.
#   scripts/install-deps.sh          Linux build, FFmpeg, libsndfile, tests, clang's libFuzzer
#   scripts/install-deps.sh --wine   also mingw-w64 (32- and 64-bit) and Wine: the 32-bit
#                                    loader with 32-bit GStreamer, the 64-bit loader with
#                                    64-bit GStreamer, and clang, lld and llvm for the
#                                    MSVC-style import library, and what builds and boots the
#                                    emulated machine that runs the 32-bit Wine tests on a
#                                    kernel without 32-bit support (tests/vm/)
set -eu

linux_packages="cmake ninja-build g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev
ffmpeg libavformat-dev libavcodec-dev libswresample-dev libavutil-dev libsndfile1-dev jq
clang-format binutils
dpkg-dev lintian man-db bsdextrautils file clang libclang-rt-14-dev"
wine_packages="g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386
gstreamer1.0-plugins-base:i386 gstreamer1.0-plugins-good:i386 gstreamer1.0-plugins-ugly:i386
gstreamer1.0-libav:i386
g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine64
gstreamer1.0-plugins-base:amd64 gstreamer1.0-plugins-good:amd64 gstreamer1.0-plugins-ugly:amd64
gstreamer1.0-libav:amd64
clang lld llvm
qemu-system-x86 mmdebstrap e2fsprogs"

want="$linux_packages"
if [ "${1:-}" = "--wine" ]; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
        updated=no
    fi
    want="$want $wine_packages"
fi

missing=""
for p in $want; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q "install ok installed" ||
        missing="$missing $p"
done
[ -z "$missing" ] && [ "${updated:-yes}" = yes ] && exit 0

export DEBIAN_FRONTEND=noninteractive
apt-get update -q
[ -z "$missing" ] && exit 0
echo "installing:$missing"
# shellcheck disable=SC2086
apt-get install -y -q --no-install-recommends $missing
