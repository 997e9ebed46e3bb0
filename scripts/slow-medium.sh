#!/usr/bin/env bash
# Makes a slow medium on demand, for seeing and testing progress on slow cards:
#   scripts/slow-medium.sh up DIR [MBPS] [sync] [uncached] [real=MB]
#                                                 ext4 at DIR/mnt, written at MBPS (default 8;
#                                                 0 for full speed)
#   scripts/slow-medium.sh down DIR               unmounts, detaches and removes DIR's medium
# The ext4 image lies in a FUSE folder that caps write bandwidth, on a loop device, so the page
# cache and writeback behave as on a slow card. "sync" mounts it with -o sync. "uncached" sends
# every read of the image to the FUSE folder, as every read of a card reaches the card.
# "real=MB" makes a counterfeit card: the image keeps only its first MB megabytes; writes beyond
# are accepted and dropped and reads there return zeros (uncached too). Its filesystem keeps its
# tables and journal at the start, which must fit in MB. SLOW_MEDIUM_SIZE_MB sets the size the
# card claims (default 256). Needs root, a loop device, /dev/fuse and Debian's python3-fusepy.
# Prints the mount point.
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

# The first byte after the filesystem's own tables and journal, which all sit in group 0 here.
tables_end() {
    local img=$1 bs first
    bs=$(dumpe2fs -h "$img" 2>/dev/null | awk -F: '/^Block size/ { print $2 + 0 }')
    first=$(dumpe2fs "$img" 2>/dev/null |
        awk '/^Group 0:/ { g = 1 } g && /^  Free blocks: / { split($3, r, "-"); print r[1]; exit }')
    echo $((first * bs))
}

up() {
    local dir=$1 mbps=$2 opts=$3 uncached=$4 real_mb=$5 mkfs=() fuse=()
    check
    [ ! -e "$dir/fuse.pid" ] || die "$dir holds a medium already (down it first)"
    mkdir -p "$dir/backing" "$dir/slow" "$dir/mnt"
    # Whatever ends "up" early (a failed step, a refusal, a signal) takes the half-made medium down.
    trap 'down "$dir"' EXIT
    trap 'exit 130' INT TERM
    # A counterfeit card must still mount: tables and journal go first, few inodes keep them small.
    [ -n "$real_mb" ] && mkfs=(-b 4096 -i 65536 -J size=4,location=0)
    # Made on the host, at full speed, with its tables written now so that no background
    # initialisation competes with the writes under test.
    truncate -s "${size_mb}M" "$dir/backing/medium.img"
    mkfs.ext4 -q -F "${mkfs[@]}" -E lazy_itable_init=0,lazy_journal_init=0 "$dir/backing/medium.img"
    if [ -n "$real_mb" ]; then
        local end need
        end=$(tables_end "$dir/backing/medium.img")
        need=$(( (end >> 20) + 2 ))         # and a megabyte for the first folders
        ((real_mb >= need)) || die "real=$real_mb: the filesystem's tables need at least $need MB"
        ((real_mb < size_mb)) || die "real=$real_mb is not below the card's size ($size_mb MB)"
        fuse=(--real $((real_mb << 20)))
    elif [ "$uncached" = 1 ]; then
        fuse=(--uncached)
    fi
    setsid /usr/bin/python3 "$here/slow-medium.py" "$dir/backing" "$dir/slow" "$mbps" "${fuse[@]}" \
        >"$dir/fuse.log" 2>&1 </dev/null &
    echo $! >"$dir/fuse.pid"
    for _ in $(seq 100); do mountpoint -q "$dir/slow" && break; sleep 0.05; done
    mountpoint -q "$dir/slow" || { cat "$dir/fuse.log" >&2; false; }
    losetup --find --show "$dir/slow/medium.img" >"$dir/loop"
    mount -t ext4 -o "$opts" "$(cat "$dir/loop")" "$dir/mnt"
    trap - EXIT INT TERM
    echo "$dir/mnt"
}

case "${1:-}" in
up)
    usage="usage: $0 up DIR [MBPS] [sync] [uncached] [real=MB]"
    [ $# -ge 2 ] || die "$usage"
    dir=$(realpath -m -- "$2")
    [[ "${3:-8}" =~ ^[0-9]+(\.[0-9]+)?$ ]] || die "MBPS must be a number: ${3}"
    opts=defaults uncached=0 real_mb=
    for word in "${@:4}"; do
        case $word in
        sync) opts=sync ;;
        "") ;;
        uncached) uncached=1 ;;
        real=*) real_mb=${word#real=}; [[ "$real_mb" =~ ^[0-9]+$ ]] || die "real=MB takes whole megabytes: $word" ;;
        *) die "$usage" ;;
        esac
    done
    up "$dir" "${3:-8}" "$opts" "$uncached" "$real_mb" ;;
down)
    [ $# -eq 2 ] || die "usage: $0 down DIR"
    down "$(realpath -m -- "$2")" ;;
check)
    check ;;
*)
    die "usage: $0 up DIR [MBPS] [sync] [uncached] [real=MB] | down DIR | check" ;;
esac
