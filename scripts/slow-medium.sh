#!/usr/bin/env bash
# Makes a slow medium on demand, for seeing and testing progress and faults on slow cards:
#   scripts/slow-medium.sh up DIR [MBPS] [fs=ext4|ntfs|fat] [read=MBPS] [sync] [uncached]
#                                        [real=MB] [dying=MB]
#                                                 a card at DIR/mnt, written at MBPS (default 8;
#                                                 0 for full speed)
#   scripts/slow-medium.sh remount DIR            unmounts, drops the host's caches, mounts again:
#                                                 what is read then is what the card kept
#   scripts/slow-medium.sh down DIR               unmounts, detaches and removes DIR's medium
#   scripts/slow-medium.sh check [fs=...]         says what is missing for such a card
# The filesystem image lies in a FUSE folder that caps bandwidth (scripts/slow-medium.py), on a
# loop device, so the page cache and writeback behave as on a slow card. "fs=" picks the
# filesystem: ext4 (kernel), ntfs (ntfs-3g) or fat (fusefat -o rw+), the last two mounted from the
# loop device. "read=" caps reads too, on the same bus as the writes. "sync" mounts ext4 with
# -o sync. "uncached" sends every read of the image to the FUSE folder, as every read of a card
# reaches the card (a read cap, "real=" and "dying=" imply it). "real=MB" makes a counterfeit
# card: the image keeps only its first MB megabytes; writes beyond are accepted and dropped and
# reads there return zeros. Its filesystem's tables must fit in MB: ext4 and FAT a few MB, NTFS a
# little over half the card (its mirror and log sit in the middle); "up" says the least. "dying=MB"
# makes a dying card: once MB megabytes have been written to it (after formatting, which is done
# at full speed), every write fails with EIO. SLOW_MEDIUM_SIZE_MB sets the size the card claims
# (default 256). Needs root, a loop device, /dev/fuse, Debian's python3-fusepy and the
# filesystem's tools. Prints the mount point.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
size_mb=${SLOW_MEDIUM_SIZE_MB:-256}

die() { echo "slow-medium: $*" >&2; exit 2; }

# By the mount table: a FUSE mount whose driver died cannot be stat'ed, so mountpoint misses it.
is_mount() { findmnt -rn -M "$1" >/dev/null 2>&1; }

# Unmounts the card's filesystem and waits for its FUSE driver (if any) to finish writing.
unmount_card() {
    local dir=$1
    if is_mount "$dir/mnt"; then
        umount "$dir/mnt" 2>/dev/null || umount -l "$dir/mnt"
    fi
    if [ -s "$dir/driver.pid" ]; then
        local pid; pid=$(cat "$dir/driver.pid")
        for _ in $(seq 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill "$pid" 2>/dev/null || true
        rm -f "$dir/driver.pid"
    fi
}

# Undoes whatever part of "up" exists; safe to run twice and on a half-made medium.
down() {
    local dir=$1
    unmount_card "$dir"
    if [ -s "$dir/loop" ]; then losetup -d "$(cat "$dir/loop")" 2>/dev/null || true; fi
    if is_mount "$dir/slow"; then
        umount "$dir/slow" 2>/dev/null || umount -l "$dir/slow"
    fi
    if [ -s "$dir/fuse.pid" ]; then
        local pid; pid=$(cat "$dir/fuse.pid")
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    fi
    rm -rf "$dir/mnt" "$dir/slow" "$dir/backing" "$dir/loop" "$dir/fuse.pid" "$dir/fuse.log" \
        "$dir/driver.log" "$dir/mkfs.log" "$dir/card"
    rmdir "$dir" 2>/dev/null || true
}

check() {
    local fs=$1 tool tools
    [ "$(id -u)" -eq 0 ] || die "needs root (loop devices and mounts)"
    [ -c /dev/fuse ] || die "no /dev/fuse"
    [ -e /dev/loop-control ] || die "no loop devices (/dev/loop-control)"
    /usr/bin/python3 -c 'import fusepy' 2>/dev/null || die "python3-fusepy is not installed"
    case $fs in
    ext4) tools="mkfs.ext4 dumpe2fs" ;;
    ntfs) tools="mkntfs ntfs-3g" ;;
    fat) tools="mkfs.fat fusefat" ;;
    esac
    for tool in $tools; do
        PATH=$PATH:/usr/sbin:/sbin command -v "$tool" >/dev/null || die "$tool is missing (scripts/deps.sh)"
    done
}

# The first byte after ext4's own tables and journal, which all sit in group 0 here.
tables_end_ext4() {
    local img=$1 bs first
    bs=$(dumpe2fs -h "$img" 2>/dev/null | awk -F: '/^Block size/ { print $2 + 0 }')
    first=$(dumpe2fs "$img" 2>/dev/null |
        awk '/^Group 0:/ { g = 1 } g && /^  Free blocks: / { split($3, r, "-"); print r[1]; exit }')
    echo $((first * bs))
}

# The end of the last block a fresh NTFS or FAT image holds, but for its last megabyte: NTFS's
# backup boot sector lies there, and the driver never reads it while the first is sound.
tables_end_scan() {
    /usr/bin/python3 - "$1" <<'EOF'
import os, sys
end, block = 0, 1 << 16
with open(sys.argv[1], 'rb') as f:
    size = os.fstat(f.fileno()).st_size - (1 << 20)
    for at in range(0, size, block):
        if any(f.read(block)):
            end = at + block
print(end)
EOF
}

# Mounts the loop device as the card's filesystem at DIR/mnt; FUSE drivers stay our children.
mount_card() {
    local dir=$1 fs opts loop driver=()
    read -r fs opts <"$dir/card"
    loop=$(cat "$dir/loop")
    case $fs in
    ext4) mount -t ext4 -o "$opts" "$loop" "$dir/mnt"; return ;;
    ntfs) driver=(ntfs-3g -o no_detach "$loop" "$dir/mnt") ;;
    fat) driver=(fusefat -f -o rw+ "$loop" "$dir/mnt") ;;
    esac
    setsid "${driver[@]}" >>"$dir/driver.log" 2>&1 </dev/null &
    echo $! >"$dir/driver.pid"
    for _ in $(seq 200); do is_mount "$dir/mnt" && return; kill -0 $! 2>/dev/null || break; sleep 0.05; done
    cat "$dir/driver.log" >&2
    die "could not mount the $fs card"
}

remount() {
    local dir=$1
    [ -s "$dir/card" ] || die "$dir holds no medium"
    unmount_card "$dir"
    # With every layer's pages gone, the next reads reach the card.
    sync
    echo 3 >/proc/sys/vm/drop_caches
    mount_card "$dir"
}

up() {
    local dir=$1 mbps=$2 fs=$3 opts=$4 uncached=$5 real_mb=$6 read_mbps=$7 dying_mb=$8
    local mkfs=() fuse=() img
    check "$fs"
    [ ! -e "$dir/fuse.pid" ] || die "$dir holds a medium already (down it first)"
    [ "$fs" = ext4 ] || [ "$opts" = defaults ] || die "sync is for ext4 only"
    mkdir -p "$dir/backing" "$dir/slow" "$dir/mnt"
    # Whatever ends "up" early (a failed step, a refusal, a signal) takes the half-made medium down.
    trap 'down "$dir"' EXIT
    trap 'exit 130' INT TERM
    img=$dir/backing/medium.img
    # Made on the host, at full speed, before the FUSE folder counts or slows anything.
    truncate -s "${size_mb}M" "$img"
    case $fs in
    ext4)
        # A counterfeit card must still mount: tables and journal go first, few inodes keep
        # them small. Tables are written now so no background initialisation competes later.
        [ -n "$real_mb" ] && mkfs=(-b 4096 -i 65536 -J size=4,location=0)
        mkfs.ext4 -q -F "${mkfs[@]}" -E lazy_itable_init=0,lazy_journal_init=0 "$img" ;;
    ntfs) mkntfs -F -Q "$img" >"$dir/mkfs.log" 2>&1 || { cat "$dir/mkfs.log" >&2; false; } ;;
    # FAT32 needs 65525 clusters; on smaller cards mkfs.fat picks FAT12 or FAT16 itself.
    fat) if ((size_mb >= 40)); then mkfs.fat -F 32 "$img"; else mkfs.fat "$img"; fi >/dev/null ;;
    esac
    if [ -n "$real_mb" ]; then
        local end need
        if [ "$fs" = ext4 ]; then end=$(tables_end_ext4 "$img"); else end=$(tables_end_scan "$img"); fi
        need=$(( (end >> 20) + 2 ))         # and a megabyte for the first folders
        ((real_mb >= need)) || die "real=$real_mb: the filesystem's tables need at least $need MB"
        ((real_mb < size_mb)) || die "real=$real_mb is not below the card's size ($size_mb MB)"
        fuse+=(--real $((real_mb << 20)))
    fi
    [ -n "$dying_mb" ] && fuse+=(--fail-after $((dying_mb << 20)))
    [ -n "$read_mbps" ] && fuse+=(--read-mbps "$read_mbps")
    [ "$uncached" = 1 ] && fuse+=(--uncached)
    setsid /usr/bin/python3 "$here/slow-medium.py" "$dir/backing" "$dir/slow" "$mbps" "${fuse[@]}" \
        >"$dir/fuse.log" 2>&1 </dev/null &
    echo $! >"$dir/fuse.pid"
    for _ in $(seq 100); do mountpoint -q "$dir/slow" && break; sleep 0.05; done
    mountpoint -q "$dir/slow" || { cat "$dir/fuse.log" >&2; false; }
    losetup --find --show "$dir/slow/medium.img" >"$dir/loop"
    echo "$fs $opts" >"$dir/card"
    mount_card "$dir"
    trap - EXIT INT TERM
    echo "$dir/mnt"
}

usage="usage: $0 up DIR [MBPS] [fs=ext4|ntfs|fat] [read=MBPS] [sync] [uncached] [real=MB] [dying=MB]"
number='^[0-9]+(\.[0-9]+)?$'
case "${1:-}" in
up)
    [ $# -ge 2 ] || die "$usage"
    dir=$(realpath -m -- "$2")
    [[ "${3:-8}" =~ $number ]] || die "MBPS must be a number: ${3}"
    fs=ext4 opts=defaults uncached=0 real_mb= read_mbps= dying_mb=
    for word in "${@:4}"; do
        case $word in
        sync) opts=sync ;;
        "") ;;
        uncached) uncached=1 ;;
        fs=ext4|fs=ntfs|fs=fat) fs=${word#fs=} ;;
        real=*) real_mb=${word#real=}; [[ "$real_mb" =~ ^[0-9]+$ ]] || die "real=MB takes whole megabytes: $word" ;;
        dying=*) dying_mb=${word#dying=}; [[ "$dying_mb" =~ ^[0-9]+$ ]] || die "dying=MB takes whole megabytes: $word" ;;
        read=*) read_mbps=${word#read=}; [[ "$read_mbps" =~ $number ]] || die "read=MBPS takes a number: $word" ;;
        *) die "$usage" ;;
        esac
    done
    up "$dir" "${3:-8}" "$fs" "$opts" "$uncached" "$real_mb" "$read_mbps" "$dying_mb" ;;
remount)
    [ $# -eq 2 ] || die "usage: $0 remount DIR"
    remount "$(realpath -m -- "$2")" ;;
down)
    [ $# -eq 2 ] || die "usage: $0 down DIR"
    down "$(realpath -m -- "$2")" ;;
check)
    word=${2:-fs=ext4}
    case $word in fs=ext4|fs=ntfs|fs=fat) check "${word#fs=}" ;; *) die "usage: $0 check [fs=ext4|ntfs|fat]" ;; esac ;;
*)
    die "$usage | remount DIR | down DIR | check [fs=...]" ;;
esac
