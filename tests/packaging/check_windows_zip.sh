#!/bin/sh
# SPDX-License-Identifier: MIT
# Makes the Windows zip with cpack, unpacks it and checks that it holds what the
# README promises.
#   check_windows_zip.sh CPACK CMAKE BUILD_DIR ZIP UNPACK_DIR
set -eu
cpack=$1 cmake=$2 build=$3 zip=$4 unpack=$5
rm -f "$zip"
(cd "$build" && "$cpack" -G ZIP >/dev/null)
rm -rf "$unpack"
mkdir -p "$unpack"
(cd "$unpack" && "$cmake" -E tar xf "$zip")
top=$unpack/$(basename "$zip" .zip)
failed=0
for f in README.txt LICENSE.txt bin/MERVANE.dll include/mervane.h lib/libmervane.dll.a lib/MERVANE.lib \
    lib/mervane.def; do
    [ -s "$top/$f" ] || { echo "FAIL: $f missing from $(basename "$zip")"; failed=1; }
done
[ $failed = 0 ] && echo "$(basename "$zip") holds the DLL, header, definitions, import libraries, README and licence"
exit $failed
