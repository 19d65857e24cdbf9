#!/bin/sh
# SPDX-License-Identifier: MIT
# pick_accel against a stand-in qemu: KVM only when a kernel started with it
# prints in time; a KVM that hangs silently (nested virtualisation) or no
# writable device falls back to software emulation.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
say() { echo "$*" >>"$work/said"; }
. "$here/accel.sh"

# The stand-in prints a banner to its serial file when $QEMU_PRINTS is 1, and
# otherwise stays silent until it is ended.
mkdir "$work/bin"
cat >"$work/bin/qemu-system-x86_64" <<'QEMU'
#!/bin/sh
for a; do case $a in file:*) out=${a#file:} ;; esac; done
[ "$QEMU_PRINTS" = 1 ] && echo "Linux version 6.1.0" >"$out"
exec sleep 30
QEMU
chmod +x "$work/bin/qemu-system-x86_64"
PATH=$work/bin:$PATH
touch "$work/kvm"
export MERVANE_VM_KVM_DEVICE=$work/kvm MERVANE_VM_KVM_PROBE=2

fail=0
expect() {
    got=$(pick_accel "$work/vmlinuz" "$work")
    if [ "$got" != "$1" ] || ! grep -q "$2" "$work/said"; then
        echo "FAIL: $3: got $got, said: $(cat "$work/said")"
        fail=1
    fi
    rm -f "$work/said"
}
QEMU_PRINTS=1 expect kvm "^KVM" "a working KVM"
QEMU_PRINTS=0 expect tcg "printed nothing within 2 s" "a KVM that never prints"
chmod 0 "$work/kvm"
# Root writes anything: take the device away instead.
[ -w "$work/kvm" ] && rm "$work/kvm"
QEMU_PRINTS=1 expect tcg "not writable" "no KVM device"
exit $fail
