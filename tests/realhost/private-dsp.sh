#!/usr/bin/env bash
# Runs a command with a FIFO in place of "/dev/dsp", visible to that command's
# process tree only:
#   unshare --mount --propagation private private-dsp.sh DIR COMMAND...
# DIR holds the FIFO "dsp" and is where the machine's /dev is kept in sight while
# a private /dev is assembled. Without a /dev/dsp on the machine the path is made
# on a tmpfs over /dev that holds binds of the usual device nodes; with one, the
# FIFO is bound over it, so the real device is never opened. Needs root.
set -euo pipefail
dir=$1
shift
[ -p "$dir/dsp" ] || { echo "private-dsp.sh: no FIFO $dir/dsp" >&2; exit 2; }
# Nothing mounted here may leak back to the machine's namespace.
mount --make-rprivate /
if [ ! -e /dev/dsp ]; then
    mkdir -p "$dir/machine-dev"
    mount --rbind /dev "$dir/machine-dev"
    mount -t tmpfs -o mode=0755 realhost-dev /dev
    for name in null zero full random urandom tty ptmx pts shm dri fd stdin stdout stderr; do
        entry="$dir/machine-dev/$name"
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
mount --bind "$dir/dsp" /dev/dsp
exec "$@"
