#!/bin/sh
# SPDX-License-Identifier: MIT
# Chooses qemu's accelerator for the emulated machine; sourced by image.sh and
# vm.sh, which define say(). A writable /dev/kvm does not mean KVM works: nested
# under another hypervisor, a kernel started with KVM may print nothing for
# minutes, where software emulation reaches the same point in seconds. So KVM is
# tried first with a throwaway boot of the kernel, and is used only if that boot
# prints its first console line within MERVANE_VM_KVM_PROBE seconds (default 10).
#   pick_accel KERNEL FOLDER   prints "kvm" or "tcg"; FOLDER keeps the probe's log
#   MERVANE_VM_KVM_DEVICE      the KVM device (default /dev/kvm)

pick_accel() {
    device=${MERVANE_VM_KVM_DEVICE:-/dev/kvm}
    if [ ! -w "$device" ]; then
        say "software emulation: $device is not writable here"
        echo tcg
        return 0
    fi
    limit=${MERVANE_VM_KVM_PROBE:-10}
    probe_log=$2/kvm-probe.log
    rm -f "$probe_log"
    # No root file system: the kernel prints its banner, then panics and qemu
    # ends (-no-reboot), unless it is ended here first.
    qemu-system-x86_64 -machine accel=kvm -smp 1 -m 256 -display none -monitor none -nic none \
        -no-reboot -serial "file:$probe_log" -kernel "$1" -append "console=ttyS0 panic=-1" \
        </dev/null >/dev/null 2>&1 &
    probe=$!
    ticks=0
    while [ ! -s "$probe_log" ] && [ $ticks -lt $((limit * 10)) ] && kill -0 $probe 2>/dev/null; do
        sleep 0.1
        ticks=$((ticks + 1))
    done
    kill $probe 2>/dev/null || true
    wait $probe 2>/dev/null || true
    if [ -s "$probe_log" ]; then
        say "KVM: a kernel started with it printed within $(((ticks + 9) / 10)) s"
        echo kvm
    else
        say "software emulation: a kernel started with KVM printed nothing within $limit s"
        echo tcg
    fi
}
