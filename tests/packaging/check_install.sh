#!/bin/sh
# SPDX-License-Identifier: MIT
# Installs the build into a fresh prefix and checks what a consumer gets there:
# the library under its SONAME with the usual links and the nine exports, the
# header, pkg-config and CMake package files that name nothing but the library,
# the host tool, and the manual pages.
#   check_install.sh CMAKE BUILD_DIR PREFIX LIBDIR VERSION EXPORTS_CHECK
set -eu
cmake=$1 build=$2 prefix=$3 libdir=$4 version=$5 exports_check=$6
major=${version%%.*}
failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

rm -rf "$prefix"
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
lib=$prefix/$libdir

[ "$(readlink "$lib/libmervane.so")" = "libmervane.so.$major" ] ||
    fail "libmervane.so does not point at libmervane.so.$major"
[ "$(readlink "$lib/libmervane.so.$major")" = "libmervane.so.$version" ] ||
    fail "libmervane.so.$major does not point at libmervane.so.$version"
soname=$(readelf -d "$lib/libmervane.so.$version" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = "libmervane.so.$major" ] || fail "SONAME is '$soname'"
sh "$exports_check" "$lib/libmervane.so.$major" || fail "export table"

for f in include/mervane.h "$libdir/pkgconfig/mervane.pc" \
    "$libdir/cmake/mervane/mervaneConfig.cmake" "$libdir/cmake/mervane/mervaneConfigVersion.cmake" \
    bin/mervane share/man/man1/mervane.1.gz share/man/man3/mervane.3.gz \
    share/man/man3/GetWmaFileInfo.3.gz share/doc/mervane/copyright; do
    [ -f "$prefix/$f" ] || fail "$f is not installed"
done

# The stand-ins live inside the shared library: no static library is shipped and
# no package file asks a consumer to link one, nor FFmpeg.
statics=$(find "$prefix" -name '*.a')
[ -z "$statics" ] || fail "static libraries installed: $statics"
if grep -rlE 'format_sdk|win32_kernel|avformat|avcodec|swresample|avutil' \
    "$lib/cmake" "$lib/pkgconfig"; then
    fail "the package files above name the library's internals"
fi
[ $failed = 0 ] && echo "installed as expected in $prefix"
exit $failed
