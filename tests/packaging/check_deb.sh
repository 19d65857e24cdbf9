#!/bin/sh
# SPDX-License-Identifier: MIT
# The three .deb packages as a user gets them:
# - each holds its own files and depends on what it should: the development
#   files and the tool on this very version of the library, the library on
#   what dpkg-shlibdeps reads off it, with an ldconfig trigger and no
#   maintainer scripts;
# - libmervane0 and libmervane-dev alone give pkg-config, find_package and
#   `man 3 GetWmaFileInfo`, and the manual's example builds and runs;
# - mervane-tools adds `mervane --help`, its manual page and a working tool.
# The packages are unpacked into a scratch root; as root on a CI machine
# (CI=true) they are also installed with dpkg, and purged again.
#   check_deb.sh PACKAGE_DIR VERSION LIBDIR FILE.wma WORK CC CMAKE
set -eu
packages=$1 version=$2 libdir=$3 media=$4 work=$5 cc=$6 cmake=$7
here=$(cd "$(dirname "$0")" && pwd)
arch=$(dpkg --print-architecture)
lib=$packages/libmervane0_${version}_$arch.deb
dev=$packages/libmervane-dev_${version}_$arch.deb
tools=$packages/mervane-tools_${version}_$arch.deb
failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}
rm -rf "$work"
mkdir -p "$work"

# ---- What each package holds and needs --------------------------------------------------
files() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./||'; }
unexpected=$(files "$lib" | grep -v -e "^usr/$libdir/libmervane\.so\.0" -e '^usr/share/doc/libmervane0/' || true)
[ -z "$unexpected" ] || fail "libmervane0 holds $unexpected"
files "$lib" | grep -q "^usr/$libdir/libmervane\.so\.$version$" || fail "libmervane0 lacks the library"
files "$dev" | grep -q "^usr/$libdir/libmervane\.so$" || fail "libmervane-dev lacks libmervane.so"
if { files "$dev"; files "$tools"; } | grep -q '\.so\.0'; then fail "the library is in another package"; fi
[ "$(dpkg-deb -f "$dev" Depends)" = "libmervane0 (= $version)" ] ||
    fail "libmervane-dev depends on: $(dpkg-deb -f "$dev" Depends)"
case $(dpkg-deb -f "$tools" Depends) in
"libmervane0 (= $version), "*libsndfile1*) ;;
*) fail "mervane-tools depends on: $(dpkg-deb -f "$tools" Depends)" ;;
esac
case $(dpkg-deb -f "$lib" Depends) in
*libavformat*libc6*) ;;
*) fail "libmervane0 depends on: $(dpkg-deb -f "$lib" Depends)" ;;
esac
dpkg-deb -e "$lib" "$work/control"
[ ! -e "$work/control/postinst" ] && [ ! -e "$work/control/postrm" ] ||
    fail "libmervane0 has maintainer scripts"
grep -qx 'activate-noawait ldconfig' "$work/control/triggers" || fail "libmervane0 has no ldconfig trigger"
grep -qx "libmervane 0 libmervane0 (>= [0-9.]*)" "$work/control/shlibs" || fail "shlibs: $(cat "$work/control/shlibs")"

# ---- Using them ----------------------------------------------------------------------------
# $root is "" for the system, where `man` and pkg-config need no help.
manual() { if [ -n "$root" ]; then man -M "$root/usr/share/man" "$@"; else man "$@"; fi; }
pc() { if [ -n "$root" ]; then PKG_CONFIG_LIBDIR=$root/usr/$libdir/pkgconfig pkg-config "$@"; else pkg-config "$@"; fi; }
check_dev() {
    root=$1 tag=$2
    pc_libs=$(pc --libs mervane) || fail "$tag: pkg-config knows no mervane"
    case " $pc_libs " in *" -lmervane "*) ;; *) fail "$tag: pkg-config --libs gives '$pc_libs'" ;; esac
    sh "$here/consume.sh" pkg-config "$cc" "$root/usr" "$libdir" "$media" "$work/$tag-pc" ||
        fail "$tag: a pkg-config consumer"
    sh "$here/consume.sh" cmake "$cmake" "$root/usr" "$libdir" "$media" "$work/$tag-cmake" ||
        fail "$tag: a find_package consumer"
    # Each function's name opens mervane(3), whose example builds and runs.
    for f in GetWmaFileInfo GoGoGoReader CloseWMAWriteFile; do
        LC_ALL=C MANWIDTH=200 manual 3 "$f" 2>/dev/null | grep -q "opens path, reads its format" ||
            fail "$tag: man 3 $f"
    done
    LC_ALL=C MANWIDTH=100 manual 3 mervane | col -b | awk '/^EXAMPLES/ { e = 1 }
        e && /#include <mervane.h>/ { c = 1 } /Build it with/ { c = 0 } c' >"$work/$tag-example.c"
    # shellcheck disable=SC2046
    "$cc" -std=c11 -Wall -Wextra -Werror -pedantic "$work/$tag-example.c" \
        $(pc --cflags --libs mervane) \
        -pthread -o "$work/$tag-example" || fail "$tag: the manual's example does not build"
    LD_LIBRARY_PATH=$root/usr/$libdir "$work/$tag-example" "$media" | grep -q '^44100 Hz, 2 channels' ||
        fail "$tag: the manual's example does not run"
    [ ! -e "$root/usr/bin/mervane" ] || fail "$tag: the tool came with the library"
}
check_tools() {
    root=$1 tag=$2
    run() { LD_LIBRARY_PATH=$root/usr/$libdir "$root/usr/bin/mervane" "$@"; }
    run --help | grep -q '^usage: mervane' || fail "$tag: mervane --help"
    run info "$media" | grep -q '^sample rate: 44100 Hz$' || fail "$tag: mervane info"
    [ -f "$root/usr/share/man/man1/mervane.1.gz" ] || fail "$tag: no mervane(1)"
}

root=$work/root
dpkg-deb -x "$lib" "$root"
dpkg-deb -x "$dev" "$root"
check_dev "$root" unpacked
dpkg-deb -x "$tools" "$root"
check_tools "$root" unpacked

if [ "${CI:-}" = true ] && [ "$(id -u)" = 0 ]; then
    trap 'dpkg --purge mervane-tools libmervane-dev libmervane0 >/dev/null 2>&1 || true' EXIT
    dpkg -i "$lib" "$dev" >/dev/null
    ldconfig -p | grep -q 'libmervane\.so\.0 ' || fail "ldconfig does not know libmervane.so.0"
    check_dev "" installed
    dpkg -i "$tools" >/dev/null
    check_tools "" installed
fi
[ $failed = 0 ] && echo "the packages hold, depend on and give what they should"
exit $failed
