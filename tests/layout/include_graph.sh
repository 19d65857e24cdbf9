#!/bin/sh
# SPDX-License-Identifier: MIT
set -eu
# The layers' dependencies point one way: the Format SDK stand-in and the
# kernel stand-in (platform/) build on the SDK contract (src/frame/wm/) and
# nothing else of src/, nor the library's namespace; the library (src/)
# includes nothing of platform/ beyond the kernel header the contract names.
# Every quoted include must resolve inside the includer's own layer.
root=${1:-$(dirname "$0")/../..}
cd "$root"
status=0

# resolves FILE NAME DIR...: true when NAME exists beside FILE or under a DIR.
resolves() {
    file=$1 name=$2
    shift 2
    [ -f "$(dirname "$file")/$name" ] && return 0
    for dir in "$@"; do [ -f "$dir/$name" ] && return 0; done
    return 1
}

check() {  # LAYER DIR...: every quoted include of LAYER resolves in the DIRs
    layer=$1
    shift
    find "$layer" -name '*.h' -o -name '*.cpp' -o -name '*.c' | sort | while read -r file; do
        sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file" |
            while read -r name; do
                resolves "$file" "$name" "$@" || echo "$file: includes \"$name\" from outside its layer"
            done
    done
}

# The stand-in's rooms, each with the rooms below it that it may include: an
# include never runs back up, nor sideways. A room not listed fails too.
rooms='common:
asf:common
encode:asf common
profile:encode asf common
reader:profile encode asf common
writer:profile encode asf common
editor:asf common'
sdk=platform/format-sdk-ffmpeg

check_rooms() {
    for dir in "$sdk"/*/; do
        room=$(basename "$dir")
        below=$(echo "$rooms" | sed -n "s/^$room://p")
        echo "$rooms" | grep -q "^$room:" || echo "$sdk/$room: a room the include check does not know"
        find "$dir" -name '*.h' -o -name '*.cpp' | sort | while read -r file; do
            sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"/]*\)\/.*/\1/p' "$file" |
                while read -r used; do
                    case " $room $below " in
                        *" $used "*) ;;
                        *) echo "$file: includes $used/, above or beside its room" ;;
                    esac
                done
        done
    done
}

out=$(check_rooms
    check platform platform/format-sdk-ffmpeg platform/win32-kernel-linux src/frame/wm
    check src src src/frame src/frame/wm include
    check src/frame/wm src/frame/wm
    grep -rn 'mervane::\|namespace mervane' platform | sed 's/$/  (the library'"'"'s namespace)/'
    grep -rn '#[[:space:]]*include[[:space:]]*<' src | grep -v '^src/frame/wm/platform.h:' |
        grep -E '<(common|asf|reader|writer|editor|encode|profile)/|<windows_compat\.h>' || true)
if [ -n "$out" ]; then
    echo "$out"
    status=1
fi
exit $status
