#!/bin/sh
# Runs every test of mervane on a Debian 12 machine, as root, installing what is
# missing first: formatting, the Linux build with its unit, stand-in and
# integration tests, the same under AddressSanitizer+UndefinedBehaviorSanitizer
# and under ThreadSanitizer, the fuzz targets (libFuzzer with both sanitizers,
# about three minutes in all), and the 32-bit and 64-bit DLLs' checks and tests
# under Wine (the 64-bit ones always run; the 32-bit ones need a machine that
# runs 32-bit programs); each Linux and Windows build is also installed,
# packaged and linked against as shipped (tests/packaging).
set -eu
cd "$(dirname "$0")/.."

scripts/install-deps.sh --wine

echo "== formatting"
git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

jobs=$(nproc 2>/dev/null || echo 2)
for preset in linux linux-asan linux-tsan fuzz win32 win64; do
    echo "== $preset"
    if [ "$preset" = win32 ] && ! wine --version >/dev/null 2>&1; then
        echo "note: this machine cannot run 32-bit Windows programs under Wine (for example a"
        echo "kernel booted without ia32 emulation): the DLL's tests under Wine will be skipped;"
        echo "its export table, imports and interface slot checks still run."
    fi
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
    if [ "$preset" = fuzz ]; then
        tests/fuzz/run.sh build/fuzz "${MERVANE_FUZZ_SECONDS:-180}"
    fi
done
