#!/bin/sh
# Runs a cross-built Windows program under Wine, quietly, in a prefix of the
# build's own, and leaves no Wine process behind.
set -u
: "${WINEPREFIX:=${MERVANE_WINEPREFIX:-$(pwd)/wineprefix}}"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine "$@"
status=$?
wineserver -k >/dev/null 2>&1 || true
exit $status
