#!/usr/bin/env bash
# Runs a command with a stand-in file in place of "/dev/dsp", visible to that
# command's process tree only:
#   unshare --mount --propagation private private-dsp.sh DEVICE COMMAND...
# Without a /dev/dsp on the machine the path is made on a tmpfs over /dev that
# holds binds of the usual device nodes (the machine's /dev is kept in sight in
# $HOME/machine-dev meanwhile: HOME is the emulator's scratch home); with one, DEVICE is bound over it, so the real device
# is never opened. Needs root.
set -euo pipefail
device=$1
shift
[ -e "$device" ] || { echo "private-dsp.sh: no stand-in device $device" >&2; exit 2; }
# Nothing mounted here may leak back to the machine's namespace.
mount --make-rprivate /
if [ ! -e /dev/dsp ]; then
    machine=$HOME/machine-dev
    mkdir -p "$machine"
    mount --rbind /dev "$machine"
    mount -t tmpfs -o mode=0755 realhost-dev /dev
    for name in null zero full random urandom tty ptmx pts shm dri fd stdin stdout stderr; do
        entry="$machine/$name"
        if [ -L "$entry" ]; then
            cp -P "$entry" "/dev/$name"
        elif [ -d "$entry" ]; then
            mkdir "/dev/$name"
            mount --rbind "$entry" "/dev/$name"
        elif [ -e "$entry" ]; then
            touch "/dev/$name"
            mount --bind "$entry" "/dev/$name"
        fi
    done
    touch /dev/dsp
fi
mount --bind "$device" /dev/dsp
exec "$@"
