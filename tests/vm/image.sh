#!/bin/sh
# SPDX-License-Identifier: MIT
# Makes (once per machine) the disk image of the emulated x86-64 machine that
# runs 32-bit Wine for the DLL's tests, and prints the folder that holds it:
#   root.img  ext4 root file system: Debian 12 minbase, a kernel, Wine 8 with
#             32-bit GStreamer, an initialised Wine prefix and GStreamer registry
#   vmlinuz, initrd.img  the kernel and its initramfs, for qemu -kernel/-initrd
#   packages.txt  the guest's package versions; key.txt  what the key was made of
# The folder lives in a cache outside any build tree, named by a hash of this
# recipe (this script and guest.sh) and of the candidate versions of the key
# packages in the host's apt lists, so a change of either makes a new image.
# Images are only read afterwards: every run boots with -snapshot.
#
# Needs root, mmdebstrap, e2fsprogs and qemu-system-x86; reaches the Debian
# mirror that the host's apt sources name.
#   MERVANE_VM_CACHE  the cache (default: ${XDG_CACHE_HOME:-$HOME/.cache}/mervane-vm)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
cache=${MERVANE_VM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/mervane-vm}
say() { echo "vm-image: $*" >&2; }
die() { say "$*"; exit 1; }
. "$here/accel.sh"

# The Debian entries of the host's apt sources, in either form, for the guest too.
one_line_sources() {
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] && grep -E '^deb +(\[[^]]*\] +)?[a-z]+://[^ ]*/debian(-security)?/? ' "$f"
    done
    return 0
}
deb822_sources() {
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] && awk 'BEGIN { RS = ""; ORS = "\n\n" }
            /URIs:[^\n]*\/debian(-security)?\/?(\n|$)/ && !/Enabled: *no/' "$f"
    done
    return 0
}
sources_list=$(one_line_sources)
sources_deb822=$(deb822_sources)
mirror=$( (printf '%s\n' "$sources_deb822" | awk '$1 == "URIs:" { for (i = 2; i <= NF; i++) print $i }'
    printf '%s\n' "$sources_list" | awk '{ for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; break } }') |
    grep -E '/debian/?$' | sed 's,/$,,' | head -n 1)
[ -n "$mirror" ] || die "no Debian mirror in the host's apt sources"

# linux-image-amd64 for the kernel; the rest come as i386 builds of the same
# source packages, so their amd64 candidates stand for them.
key_packages="linux-image-amd64 wine libwine libc6 libgstreamer1.0-0 gstreamer1.0-plugins-base
gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly gstreamer1.0-libav"
key_text() {
    printf '%s\n' "$sources_list" "$sources_deb822"
    cat "$here/image.sh" "$here/guest.sh"
    # shellcheck disable=SC2086
    LC_ALL=C apt-cache policy $key_packages 2>/dev/null | awk '/^[^ ]/{p=$1} /Candidate:/{print p, $2}'
}
key=$(key_text | sha256sum | cut -c1-16)
image=$cache/$key

use() {
    touch "$image/used"
    echo "$image"
    exit 0
}
[ -f "$image/ready" ] && use

[ "$(id -u)" = 0 ] || die "building the image needs root"
for tool in mmdebstrap mke2fs qemu-system-x86_64 flock; do
    command -v "$tool" >/dev/null 2>&1 || die "$tool is missing (scripts/install-deps.sh --wine installs it)"
done
mkdir -p "$cache"
exec 9>"$cache/build.lock"
if ! flock -n 9; then
    say "another process is building the image: waiting for it"
    flock -w 2400 9 || die "another build of the image held the lock for 40 minutes"
fi
[ -f "$image/ready" ] && use

work=$image.tmp
root=$work/root
mounted=""
unmount_all() {
    for m in $mounted; do umount -l "$m" 2>/dev/null || true; done
    mounted=""
}
cleanup() {
    unmount_all
    # Nothing of the host stays mounted in the tree: stay on its file system anyway.
    [ -d "$root" ] && rm -rf --one-file-system "$root"
    return 0
}
trap 'cleanup' EXIT
trap 'exit 1' INT TERM HUP
# What an interrupted build left: nobody else builds while we hold the lock.
for old in "$cache"/*.tmp; do
    [ -d "$old" ] || continue
    for m in $(awk -v r="$old/" 'index($2, r) == 1 {print $2}' /proc/mounts | sort -r); do umount -l "$m"; done
    rm -rf --one-file-system "$old"
done
mkdir -p "$root"
start=$(date +%s)
log=$work/build.log
say "building the emulated machine's image in $image (log: $log)"

step() { say "$* ($(($(date +%s) - start)) s)"; }
step "bootstrapping Debian 12 from $mirror"
# mmdebstrap rather than debootstrap: the same minimal base in a fraction of the time.
mmdebstrap --variant=minbase --architectures=amd64 bookworm "$root" "$mirror" >"$log" 2>&1 ||
    { tail -n 20 "$log" >&2; die "mmdebstrap failed"; }

for m in dev dev/pts proc sys; do
    mount --bind "/$m" "$root/$m"
    mounted="$root/$m $mounted"
done
rm -f "$root/etc/apt/sources.list" "$root/etc/apt/sources.list.d/"*
[ -z "$sources_list" ] || printf '%s\n' "$sources_list" >"$root/etc/apt/sources.list"
[ -z "$sources_deb822" ] || printf '%s\n' "$sources_deb822" >"$root/etc/apt/sources.list.d/debian.sources"
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"
# A small initramfs: the only disk is virtio, the root is ext4.
mkdir -p "$root/etc/initramfs-tools/conf.d"
echo "MODULES=list" >"$root/etc/initramfs-tools/conf.d/mervane"
printf 'virtio_pci\nvirtio_blk\next4\n' >>"$root/etc/initramfs-tools/modules"
in_root() { chroot "$root" env DEBIAN_FRONTEND=noninteractive LC_ALL=C "$@" >>"$log" 2>&1; }
apt_install() { in_root apt-get install -y -q --no-install-recommends "$@"; }

step "installing the kernel"
in_root dpkg --add-architecture i386
in_root apt-get update -q || die "apt-get update in the guest's tree failed (see $log)"
apt_install linux-image-amd64 kmod || die "installing the kernel failed (see $log)"
step "installing Wine and 32-bit GStreamer"
# Three i386 maintainer scripts (GLib schemas and modules, gdk-pixbuf loaders)
# cannot run on a host without 32-bit support; the first boot configures them.
apt_install wine wine32:i386 libwine:i386 gstreamer1.0-plugins-base:i386 \
    gstreamer1.0-plugins-good:i386 gstreamer1.0-plugins-ugly:i386 gstreamer1.0-libav:i386 \
    gstreamer1.0-tools:i386 ||
    say "some packages are left to configure inside the machine"
chroot "$root" dpkg-query -W -f='${binary:Package} ${Version}\n' | sort >"$work/packages.txt"
for p in wine32:i386 libwine:i386 gstreamer1.0-plugins-ugly:i386 gstreamer1.0-libav:i386; do
    grep -q "^$p " "$work/packages.txt" || die "$p did not get into the guest's tree (see $log)"
done
in_root apt-get clean
rm -rf "$root"/var/lib/apt/lists/*
# Of the kernel's modules the machine loads only those of its disk, file system
# and 9p share (the initramfs has its own copies): the rest would only make the
# image bigger and slower to write.
for modules in "$root"/lib/modules/*; do
    version=$(basename "$modules")
    keep=$(chroot "$root" modprobe -a -S "$version" --show-depends virtio_pci virtio_blk ext4 \
        crc32c_generic 9p 9pnet_virtio | awk '$1 == "insmod" { print $2 }' | sort -u)
    [ -n "$keep" ] || die "no module list for kernel $version"
    mkdir "$root/kept"
    for m in $keep; do
        mkdir -p "$root/kept/$(dirname "$m")"
        mv "$root$m" "$root/kept$m"
    done
    rm -rf "$modules/kernel"
    cp -a "$root/kept/lib/modules/$version/kernel" "$modules/"
    rm -rf "$root/kept"
    in_root depmod "$version"
done
unmount_all
rm -f "$root/usr/sbin/policy-rc.d"

install -m 755 "$here/guest.sh" "$root/sbin/mervane-guest"
echo mervane-vm >"$root/etc/hostname"
cp "$root"/boot/vmlinuz-* "$work/vmlinuz"
cp "$root"/boot/initrd.img-* "$work/initrd.img" || die "the kernel's initramfs was not made (see $log)"

step "making the ext4 file system"
rm -f "$work/root.img"
mke2fs -q -t ext4 -L mervane -d "$root" "$work/root.img" 4G >>"$log" 2>&1 ||
    die "mke2fs failed (see $log)"
rm -rf --one-file-system "$root"

# The first boot, on the image itself: finishes the package configuration and
# makes the Wine prefix and the GStreamer registry that later runs start from.
step "first boot: configuring packages, making the Wine prefix"
accel=$(pick_accel "$work/vmlinuz" "$work")
# One processor, as in vm.sh: Wine starts its processes much faster so.
timeout -k 10 900 qemu-system-x86_64 -machine accel=$accel -smp 1 -m 2048 \
    -display none -monitor none -serial "file:$work/prepare.log" -nic none -no-reboot \
    -kernel "$work/vmlinuz" -initrd "$work/initrd.img" \
    -drive "file=$work/root.img,format=raw,if=virtio" \
    -append "console=ttyS0 root=/dev/vda rw quiet panic=1 init=/sbin/mervane-guest mervane.mode=prepare" \
    </dev/null >>"$log" 2>&1 || say "qemu ended with status $?"
if ! grep -q '^mervane-guest: prepared' "$work/prepare.log"; then
    tail -n 30 "$work/prepare.log" >&2
    die "the first boot did not finish preparing the image (see $work/prepare.log)"
fi
e2fsck -fn "$work/root.img" >>"$log" 2>&1 || die "the image's file system is damaged after the first boot (see $log)"

key_text >"$work/key.txt"
touch "$work/ready"
mv "$work" "$image"
touch "$image/used"
step "image ready"
# Keep the two most recently used images; older recipes are unlikely to return.
# shellcheck disable=SC2012
ls -dt "$cache"/*/used 2>/dev/null | tail -n +3 | while read -r old; do
    rm -rf --one-file-system "$(dirname "$old")"
done
use
