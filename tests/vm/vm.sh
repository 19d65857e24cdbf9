#!/bin/sh
# SPDX-License-Identifier: MIT
# The emulated x86-64 machine that runs 32-bit Wine where this machine's kernel
# cannot run 32-bit programs itself. One machine serves a whole test run:
#   vm.sh start STATE SHARE   boots the image (made or reused by image.sh) with
#                             -snapshot, SHARE mounted at the same path inside,
#                             and waits until its agent takes jobs; does nothing
#                             where Wine runs 32-bit programs natively
#   vm.sh run STATE LIMIT COMMAND [ARG...]
#                             runs COMMAND inside, from the same working folder,
#                             for at most LIMIT seconds; passes its output and
#                             exit status through
#   vm.sh stop STATE          powers the machine off
# STATE is a folder inside SHARE (the spool of jobs, the pid of qemu, the guest's
# console log). Jobs run one at a time. SHARE is a path without spaces or commas.
#   MERVANE_VM=1  use the emulated machine even where Wine runs natively
#   MERVANE_VM_IMAGE  a folder with root.img, vmlinuz and initrd.img to boot
#                     instead of the cached image
#   MERVANE_REQUIRE_WINE=0  a machine that cannot start makes `start` exit 77
#                           (skip) instead of 1
set -eu
here=$(cd "$(dirname "$0")" && pwd)
say() { echo "vm: $*" >&2; }
die() {
    say "$*"
    exit 1
}
. "$here/accel.sh"

qemu_pid() {
    pid=$(cat "$1/qemu.pid" 2>/dev/null) || return 1
    # Only a qemu that this state folder started.
    tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "$1/qemu.pid" || return 1
    echo "$pid"
}

console_tail() {
    [ -f "$1/console.log" ] || return 0
    say "last lines of the guest's console ($1/console.log):"
    tail -n 15 "$1/console.log" | tr -d '\r' | sed 's/^/    /' >&2
}

stop() {
    state=$1
    pid=$(qemu_pid "$state") || { rm -rf "$state/qemu.pid" "$state/spool"; return 0; }
    touch "$state/spool/stop" 2>/dev/null || true
    i=0
    while kill -0 "$pid" 2>/dev/null && [ $i -lt 300 ]; do
        sleep 0.2
        i=$((i + 1))
    done
    if kill -0 "$pid" 2>/dev/null; then
        say "the machine did not power off within 60 s: ending qemu ($pid)"
        kill "$pid" 2>/dev/null || true
        sleep 2
        kill -9 "$pid" 2>/dev/null || true
    fi
    rm -rf "$state/qemu.pid" "$state/spool"
}

start() {
    state=$1
    share=$2
    case $state in /*) ;; *) state=$(pwd)/$state ;; esac
    case $share in
    /*) ;;
    *) die "the shared folder must be an absolute path: $share" ;;
    esac
    case $share$state in
    *[[:space:],]*) die "the shared folder and state folder may not hold spaces or commas: $share" ;;
    esac
    case $state/ in
    "$share"/*) ;;
    *) die "the state folder $state must lie inside the shared folder $share" ;;
    esac
    image=${MERVANE_VM_IMAGE:-}
    [ -n "$image" ] || image=$(sh "$here/image.sh") || die "no image of the emulated machine"

    mkdir -p "$state"
    stop "$state"
    rm -rf "$state/spool" "$state/console.log"
    mkdir -p "$state/spool"
    echo "$share" >"$state/share"
    accel=$(pick_accel "$image/vmlinuz" "$state")
    # The default CPU model: with -cpu max the guest kernel faults when Wine
    # returns to 32-bit code under TCG. One processor: with two, every Wine
    # process start cost 13 s instead of 2-3 s (the kernel's cross-processor
    # work is slow under TCG, worse on a busy host), and the host keeps a core.
    qemu-system-x86_64 -machine accel=$accel -smp 1 -m 2048 \
        -display none -monitor none -serial "file:$state/console.log" -nic none -no-reboot \
        -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
        -drive "file=$image/root.img,format=raw,if=virtio" -snapshot \
        -virtfs "local,path=$share,mount_tag=share,security_model=none,id=share" \
        -append "console=ttyS0 root=/dev/vda rw quiet panic=1 init=/sbin/mervane-guest mervane.mode=agent mervane.share=$share mervane.spool=$state/spool" \
        -daemonize -pidfile "$state/qemu.pid" </dev/null >"$state/qemu.log" 2>&1 ||
        { cat "$state/qemu.log" >&2; die "qemu did not start"; }
    began=$(date +%s)
    while [ ! -f "$state/spool/ready" ]; do
        if ! qemu_pid "$state" >/dev/null; then
            console_tail "$state"
            die "the machine stopped before its agent was ready"
        fi
        if [ $(($(date +%s) - began)) -ge 300 ]; then
            console_tail "$state"
            stop "$state"
            die "the machine's agent was not ready within 300 s"
        fi
        sleep 0.2
    done
    say "emulated machine ready in $(($(date +%s) - began)) s (image $image)"
}

# Single-quotes a word for the guest's shell.
quote() { printf "'%s'" "$(printf '%s' "$1" | sed "s/'/'\\\\''/g")"; }

run() {
    state=$1
    limit=$2
    shift 2
    spool=$state/spool
    [ -f "$spool/ready" ] && qemu_pid "$state" >/dev/null ||
        die "no emulated machine is running for $state"
    # The guest sees only the shared folder: a file named outside it would be
    # missing there, and a test expecting a failure would pass for that reason.
    share=$(cat "$state/share")
    for word in "$@"; do
        case $word in
        Z:"$share"/* | Z:"$share") ;;
        Z:/*) die "$word lies outside the folder the emulated machine shares ($share)" ;;
        esac
    done
    tmp=$(mktemp -d "$spool/$(date +%s)-XXXXXX.tmp")
    job=${tmp%.tmp}
    {
        printf 'cd %s 2>/dev/null || cd /\nexec' "$(quote "$(pwd)")"
        for word in "$@"; do printf ' %s' "$(quote "$word")"; done
        echo
    } >"$tmp/command"
    echo "$limit" >"$tmp/limit"
    mv "$tmp" "$job.job"
    # Bounded twice: waiting for the agent to take the job (it runs one at a
    # time), then for the job itself.
    wait_for() {
        began=$(date +%s)
        while [ ! -e "$1" ]; do
            [ "${2:-}" = taken ] && [ -e "$job.done" ] && return 0
            if ! qemu_pid "$state" >/dev/null; then
                console_tail "$state"
                die "the emulated machine stopped while running $1"
            fi
            [ $(($(date +%s) - began)) -lt $((limit + 30)) ] || return 1
            sleep 0.1
        done
    }
    wait_for "$job.run" taken || die "the emulated machine did not take the job within $((limit + 30)) s"
    wait_for "$job.done/status" || die "the emulated machine did not finish the job within $((limit + 30)) s"
    cat "$job.done/stdout"
    cat "$job.done/stderr" >&2
    status=$(cat "$job.done/status")
    rm -rf "$job.done"
    exit "$status"
}

command=${1:-}
[ $# -gt 0 ] && shift
case $command in
start)
    [ $# -eq 2 ] || die "usage: vm.sh start STATE SHARE"
    if [ "${MERVANE_VM:-}" != 1 ] && wine --version >/dev/null 2>&1; then
        say "Wine runs 32-bit programs on this machine: no emulated machine needed"
        exit 0
    fi
    (start "$@") && exit 0
    [ "${MERVANE_REQUIRE_WINE:-1}" = 0 ] && { say "MERVANE_REQUIRE_WINE=0: the Wine tests are skipped"; exit 77; }
    exit 1
    ;;
run) [ $# -ge 3 ] || die "usage: vm.sh run STATE LIMIT COMMAND [ARG...]"; run "$@" ;;
stop) [ $# -eq 1 ] || die "usage: vm.sh stop STATE"; stop "$1" ;;
*) die "usage: vm.sh start|run|stop ..." ;;
esac
