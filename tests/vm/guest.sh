#!/bin/sh
# SPDX-License-Identifier: MIT
# The first process of the emulated machine (installed as /sbin/mervane-guest
# by image.sh). Its kernel command line says what to do:
#   mervane.mode=prepare   first boot of a new image: configure what the chroot
#       could not, make the Wine prefix and the GStreamer registry, power off
#   mervane.mode=agent mervane.share=DIR mervane.spool=DIR [mervane.idle=S]
#       mount the host's DIR over 9p at the same path, then run the jobs that
#       the host drops into the spool folder one at a time, until it asks to
#       stop or no job came for S seconds (default 900)
# A job is a folder NAME.job holding `command` (a shell script) and `limit`
# (seconds). It becomes NAME.run while it runs and NAME.done when over, with
# `stdout`, `stderr` and `status` inside. Wine's output goes to files: a pipe
# from a Wine process stays open as long as the Wine server does.
set -u
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8
export WINEPREFIX=/root/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

mounted() { grep -q " $1 " /proc/mounts; }
[ -e /proc/self ] || mount -t proc proc /proc
mounted /sys || mount -t sysfs sysfs /sys
mounted /dev || mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm
mounted /dev/pts || mount -t devpts devpts /dev/pts
mounted /dev/shm || mount -t tmpfs tmpfs /dev/shm
mounted /run || mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /tmp
mount -o remount,rw /
hostname mervane-vm
exec </dev/null >/dev/console 2>&1

say() { echo "mervane-guest: $* ($(cut -d' ' -f1 /proc/uptime) s)"; }
power_off() {
    kill -9 -1 2>/dev/null
    # Running before the disk goes away, so that this shell, which must not
    # exit, has something to wait for without reading the disk.
    sleep 60 &
    sync
    mount -o remount,ro / || say "the root file system stays writable"
    echo o >/proc/sysrq-trigger
    wait
}
param() { tr ' ' '\n' </proc/cmdline | sed -n "s/^mervane\\.$1=//p"; }
fail() {
    say "failed: $*"
    power_off
}

prepare() {
    say "configuring packages"
    dpkg --configure -a >/root/prepare.log 2>&1 || { tail -n 20 /root/prepare.log; fail "dpkg --configure -a"; }
    [ -z "$(dpkg --audit 2>&1)" ] || { dpkg --audit; fail "packages left unconfigured"; }
    say "making the Wine prefix"
    wineboot --init >>/root/prepare.log 2>&1 || { tail -n 20 /root/prepare.log; fail "wineboot --init"; }
    wineserver -w
    [ -f "$WINEPREFIX/system.reg" ] || fail "no Wine prefix was made"
    # The 32-bit GStreamer scans its plugins into a registry on first use, which
    # would otherwise take seconds again in every run.
    say "making the GStreamer registry"
    gst-inspect-1.0 >>/root/prepare.log 2>&1 || fail "gst-inspect-1.0"
    ls "$HOME"/.cache/gstreamer-1.0/registry.*.bin || fail "no GStreamer registry was made"
    say "prepared"
    power_off
}

# One Wine server, with its services, for the whole run: each program then
# starts in a few seconds instead of many.
start_wine() {
    wineserver -p >/dev/null 2>&1
    timeout 300 wine cmd /c exit 0 >/dev/null 2>&1 || say "Wine did not start"
}

run_job() {
    job=${1%.job}
    mv "$1" "$job.run" || return
    limit=$(cat "$job.run/limit" 2>/dev/null || echo 300)
    (cd / && timeout -k 10 "$limit" sh "$job.run/command" >"$job.run/stdout" 2>"$job.run/stderr")
    status=$?
    echo $status >"$job.run/status"
    mv "$job.run" "$job.done"
    if [ $status -eq 124 ] || [ $status -eq 137 ]; then
        # What the program left running goes with its server.
        wineserver -k >/dev/null 2>&1
        timeout 30 wineserver -w >/dev/null 2>&1
        start_wine
    fi
}

agent() {
    share=$(param share)
    spool=$(param spool)
    idle=$(param idle)
    idle=${idle:-900}
    modprobe -a 9p 9pnet_virtio || fail "no 9p modules"
    mkdir -p "$share"
    mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 share "$share" || fail "mounting $share"
    [ -d "$spool" ] || fail "no spool folder $spool"
    start_wine
    say "agent ready"
    echo ready >"$spool/ready"
    last=$(date +%s)
    while :; do
        for job in "$spool"/*.job; do
            [ -d "$job" ] || continue
            run_job "$job"
            last=$(date +%s)
        done
        [ -e "$spool/stop" ] && break
        if [ $(($(date +%s) - last)) -gt "$idle" ]; then
            say "no job for $idle s"
            break
        fi
        sleep 0.2
    done
    wineserver -k >/dev/null 2>&1
    say "powering off"
    power_off
}

case $(param mode) in
prepare) prepare ;;
agent) agent ;;
*) fail "no mervane.mode on the kernel command line" ;;
esac
