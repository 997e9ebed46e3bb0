#!/usr/bin/env bash
# Makes a slow medium on demand, for seeing and testing progress on slow cards:
#   scripts/slow-medium.sh up DIR [MBPS] [sync]   ext4 at DIR/mnt, written at MBPS (default 8)
#   scripts/slow-medium.sh down DIR               unmounts, detaches and removes DIR's medium
# The ext4 image lies in a FUSE folder that caps write bandwidth, on a loop device, so the page
# cache and writeback behave as on a slow card. "sync" mounts it with -o sync. Needs root, a loop
# device, /dev/fuse and Debian's python3-fusepy. Prints the mount point.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
size_mb=${SLOW_MEDIUM_SIZE_MB:-256}

die() { echo "slow-medium: $*" >&2; exit 2; }

# Undoes whatever part of "up" exists; safe to run twice and on a half-made medium.
down() {
    local dir=$1
    if mountpoint -q "$dir/mnt" 2>/dev/null; then
        umount "$dir/mnt" 2>/dev/null || umount -l "$dir/mnt"
    fi
    if [ -s "$dir/loop" ]; then losetup -d "$(cat "$dir/loop")" 2>/dev/null || true; fi
    if mountpoint -q "$dir/slow" 2>/dev/null; then
        umount "$dir/slow" 2>/dev/null || umount -l "$dir/slow"
    fi
    if [ -s "$dir/fuse.pid" ]; then
        local pid; pid=$(cat "$dir/fuse.pid")
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    fi
    rm -rf "$dir/mnt" "$dir/slow" "$dir/backing" "$dir/loop" "$dir/fuse.pid" "$dir/fuse.log"
    rmdir "$dir" 2>/dev/null || true
}

check() {
    [ "$(id -u)" -eq 0 ] || die "needs root (loop devices and mounts)"
    [ -c /dev/fuse ] || die "no /dev/fuse"
    [ -e /dev/loop-control ] || die "no loop devices (/dev/loop-control)"
    /usr/bin/python3 -c 'import fusepy' 2>/dev/null || die "python3-fusepy is not installed"
    command -v mkfs.ext4 >/dev/null || die "mkfs.ext4 is missing"
}

up() {
    local dir=$1 mbps=$2 opts=$3
    check
    mkdir -p "$dir/backing" "$dir/slow" "$dir/mnt"
    trap 'down "$dir"' ERR
    trap 'down "$dir"; exit 130' INT TERM
    # Made on the host, at full speed, with its tables written now so that no background
    # initialisation competes with the writes under test.
    truncate -s "${size_mb}M" "$dir/backing/medium.img"
    mkfs.ext4 -q -F -E lazy_itable_init=0,lazy_journal_init=0 "$dir/backing/medium.img"
    setsid /usr/bin/python3 "$here/slow-medium.py" "$dir/backing" "$dir/slow" "$mbps" \
        >"$dir/fuse.log" 2>&1 </dev/null &
    echo $! >"$dir/fuse.pid"
    for _ in $(seq 100); do mountpoint -q "$dir/slow" && break; sleep 0.05; done
    mountpoint -q "$dir/slow" || { cat "$dir/fuse.log" >&2; false; }
    losetup --find --show "$dir/slow/medium.img" >"$dir/loop"
    mount -t ext4 -o "$opts" "$(cat "$dir/loop")" "$dir/mnt"
    trap - ERR INT TERM
    echo "$dir/mnt"
}

case "${1:-}" in
up)
    [ $# -ge 2 ] || die "usage: $0 up DIR [MBPS] [sync]"
    dir=$(realpath -m -- "$2")
    [[ "${3:-8}" =~ ^[0-9]+(\.[0-9]+)?$ ]] || die "MBPS must be a number: ${3}"
    opts=defaults; [ "${4:-}" = sync ] && opts=sync
    up "$dir" "${3:-8}" "$opts" ;;
down)
    [ $# -eq 2 ] || die "usage: $0 down DIR"
    down "$(realpath -m -- "$2")" ;;
check)
    check ;;
*)
    die "usage: $0 up DIR [MBPS] [sync] | down DIR | check" ;;
esac
