#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs every test of mervane on a Debian 12 machine, as root, installing what is
# missing first: formatting, the Linux build with its unit, stand-in and
# integration tests, the same under AddressSanitizer+UndefinedBehaviorSanitizer
# and under ThreadSanitizer, the fuzz targets (libFuzzer with both sanitizers,
# about five minutes in all), and the 32-bit and 64-bit DLLs' checks and tests
# under Wine (the 64-bit ones run natively; the 32-bit ones natively where the
# kernel runs 32-bit programs, otherwise in an emulated x86-64 machine whose
# image is built once, in minutes, and cached: tests/vm/); each Linux and
# Windows build is also installed, packaged and linked against as shipped
# (tests/packaging).
set -eu
cd "$(dirname "$0")/.."

scripts/install-deps.sh --wine

# Where this machine cannot run 32-bit programs (for example a kernel booted
# without ia32 emulation), the 32-bit Wine tests run in an emulated machine.
# Its image, if not cached yet, is built while the Linux presets build.
mkdir -p build
vm_image=
if ! wine --version >/dev/null 2>&1; then
    echo "note: this machine cannot run 32-bit programs: the 32-bit Wine tests will run in an"
    echo "emulated machine (tests/vm/); its image log: build/vm-image.log"
    tests/vm/image.sh >build/vm-image.log 2>&1 &
    vm_image=$!
fi

echo "== formatting"
git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

jobs=$(nproc 2>/dev/null || echo 2)
for preset in linux linux-asan linux-tsan fuzz win32 win64; do
    echo "== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    if [ "$preset" = win32 ] && [ -n "$vm_image" ]; then
        wait "$vm_image" || echo "no image of the emulated machine: its tests will fail"
        cat build/vm-image.log
    fi
    log=build/$preset-ctest.log
    # Wine's reader (GStreamer underneath) now and then hangs in an open on a
    # loaded machine, where the same program passes alone: a Wine test that
    # fails is run once more, and the log shows both runs.
    again=
    case "$preset" in win*) again="--repeat until-pass:2" ;; esac
    # shellcheck disable=SC2086
    { status=0; ctest --preset "$preset" -j "$jobs" $again || status=$?; echo $status >"$log.status"; } |
        tee "$log"
    if [ "$preset" = win32 ]; then
        echo "32-bit DLL: $(grep -E '^[0-9]+% tests passed' "$log")"
    fi
    status=$(cat "$log.status")
    [ "$status" = 0 ] || exit "$status"
    if [ "$preset" = fuzz ]; then
        tests/fuzz/run.sh build/fuzz "${MERVANE_FUZZ_SECONDS:-300}"
    fi
done
