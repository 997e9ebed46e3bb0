#!/usr/bin/env bash
# What another local user can plant where root's install looks for the layers beneath a card:
#   planted_layers_test.sh SETUP_BINARY REPOSITORY
# 1. a FUSE mount that never answers, with one of its files held open by that user;
# 2. a FUSE card whose mount source names a file of that user's;
# 3. a loop-mounted card whose image that user deleted, a file of theirs put in its name's place.
# Each install must complete (no wait on the hung mount) and open nothing that was planted.
# Exits 77 (skipped), saying why, without root, FUSE, loop devices or the tools.
set -uo pipefail

setup=$(realpath "$1")
skip() { echo "$1: skipped"; exit 77; }
[ "$(id -u)" = 0 ] || skip "needs root"
[ -w /dev/fuse ] || skip "no /dev/fuse"
for t in strace fusefat mkfs.fat mkfs.ext4 losetup setpriv fusermount; do
    command -v "$t" >/dev/null || skip "$t is not installed"
done
/usr/bin/python3 -c 'import fusepy' 2>/dev/null || skip "python3-fusepy is not installed"

work=$(mktemp -d "${TMPDIR:-/tmp}/wce-planted.XXXXXX")
chmod 755 "$work"
mkdir "$work/user"
chown 65534:65534 "$work/user"
pids=() loopdev=""
cleanup() {
    for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done
    for m in "$work/hung" "$work/fat" "$work/named" "$work/ext"; do umount -l "$m" 2>/dev/null; done
    [ -n "$loopdev" ] && losetup -d "$loopdev" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
as_user() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
fails=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; fails=$((fails + 1)); fi; }

mkdir -p "$work/medium/PRODUCT1/SETAPP" "$work/medium/PRODUCT1/TAV"
printf '[PRODUCT]\r\n1=Planted\r\n' >"$work/medium/SETUP.INI"
echo a >"$work/medium/PRODUCT1/SETAPP/A.TXT"
echo b >"$work/medium/PRODUCT1/TAV/B.TXT"
printf 'click 1001\n' >"$work/script"
device_tree() { mkdir -p "$1/ROMDisk/PROGRAM/TAV" "$1/ROMDisk2/PROGRAM/SETAPP"; }
# install DEVICE NAME: the install under strace; its opens in $work/NAME.trace.
install() {
    WCE_DISPLAY=headless WCE_ROOT="$1" WCE_MEDIUM="$work/medium" WCE_SCRIPT="$work/script" \
        timeout -s KILL 60 strace -f -qq -e trace=open,openat,openat2 -o "$work/$2.trace" \
        "$setup" >"$work/$2.out" 2>"$work/$2.err"
    grep -qF 'Installation has been completed.' "$work/$2.out"
}

# 1 + 2: the hung mount, with the user's descriptor on it, beside a FUSE FAT card named after
# the user's file.
/usr/bin/python3 - "$work/hung" "$work/hang" <<'EOF' >"$work/hung.log" 2>&1 &
import errno, os, stat, sys, time
from fusepy import FUSE, FuseOSError, Operations

class Hung(Operations):
    def getattr(self, path, fh=None):
        if os.path.exists(sys.argv[2]):
            time.sleep(10 ** 6)
        if path == '/':
            return dict(st_mode=stat.S_IFDIR | 0o755, st_nlink=2)
        if path == '/file':
            return dict(st_mode=stat.S_IFREG | 0o644, st_nlink=1, st_size=4)
        raise FuseOSError(errno.ENOENT)

    def readdir(self, path, fh):
        return ['.', '..', 'file']

    def open(self, path, flags):
        return 0

os.makedirs(sys.argv[1], exist_ok=True)
FUSE(Hung(), sys.argv[1], foreground=True, allow_other=True, attr_timeout=0, entry_timeout=0)
EOF
pids+=($!) && disown
for _ in $(seq 100); do mountpoint -q "$work/hung" && break; sleep 0.05; done
mountpoint -q "$work/hung" || { echo "the hung filesystem did not mount"; exit 1; }
setpriv --reuid=65534 --regid=65534 --clear-groups \
    sh -c 'exec 3<"$0"; touch "$1"; exec sleep 1000' "$work/hung/file" "$work/user/held" &
holder=$!
pids+=("$holder") && disown
for _ in $(seq 100); do [ -e "$work/user/held" ] && break; sleep 0.05; done
touch "$work/hang"
# Armed: whoever looks at the held file's status now waits for an answer that never comes.
timeout -s KILL 2 stat -L "/proc/$holder/fd/3" >/dev/null 2>&1
[ $? = 137 ] || { echo "the hung mount answers: the test proves nothing"; exit 1; }

# fat_card NAME [OPTIONS]: a FUSE FAT card at $work/NAME with a device tree on it.
fat_card() {
    mkdir "$work/$1"
    truncate -s 32M "$work/$1.img"
    mkfs.fat "$work/$1.img" >/dev/null
    fusefat -f -o "rw+${2:-}" "$work/$1.img" "$work/$1" >"$work/$1.log" 2>&1 &
    pids+=($!) && disown
    for _ in $(seq 100); do mountpoint -q "$work/$1" && break; sleep 0.05; done
    device_tree "$work/$1/device"
}
fat_card fat
check "FUSE card installs while another user holds a file of a hung mount" \
    'install "$work/fat/device" fuse'
check "the driver's own image is opened (flushed and read past)" \
    'grep -q "/proc/self/fd/" "$work/fuse.trace"'
as_user touch "$work/user/planted.img"
fat_card named ",fsname=$work/user/planted.img"
check "FUSE card named after another user's file installs" 'install "$work/named/device" named'
check "the file the mount source names is not opened" '! grep -q planted.img "$work/named.trace"'

# 3: an ext4 card on a loop device whose image the user deleted and whose name they took.
mkdir -p "$work/ext"
as_user truncate -s 16M "$work/user/card.img"
mkfs.ext4 -q "$work/user/card.img"
if loopdev=$(losetup -f --show "$work/user/card.img" 2>/dev/null) && mount "$loopdev" "$work/ext"; then
    device_tree "$work/ext/device"
    as_user rm "$work/user/card.img"
    as_user touch "$work/user/card.img (deleted)"
    check "loop card installs with its image deleted" 'install "$work/ext/device" loop'
    check "the file in the deleted image's name is not opened" '! grep -q "card.img" "$work/loop.trace"'
    check "the read-back says it stopped at the host's cache" 'grep -q "was deleted" "$work/loop.err"'
else
    echo "no loop device here: the loop case is skipped"
fi

[ "$fails" = 0 ] || { for f in "$work"/*.err; do echo "== $f"; cat "$f"; done; exit 1; }
