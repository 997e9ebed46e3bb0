#!/usr/bin/env bash
# Installs onto a slow medium in the terminal display under tmux and samples the screen:
#   slow_medium_test.sh SETUP_BINARY REPOSITORY [normal|sync]
# The counter must take at least half of its values while the medium is being written, and the
# completion message must follow "N / N" within 15 % of the install time. Exits 77 (skipped)
# without tmux, root, loop devices, FUSE or python3-fusepy. Keeps its samples in $WCE_SLOW_LOG
# when that names a file. Files are larger than what the copy leaves unwritten (4 MB), or the
# last file plus that backlog would take most of the 15 % by themselves.
set -uo pipefail

setup=$(realpath "$1")
repo=$(realpath "$2")
mode=${3:-normal}
files=${SLOW_FILES:-16}
file_mb=${SLOW_FILE_MB:-6}
mbps=${SLOW_MBPS:-16}
medium="$repo/scripts/slow-medium.sh"

command -v tmux >/dev/null || { echo "tmux is not installed: skipped"; exit 77; }
reason=$("$medium" check 2>&1) || { echo "${reason#slow-medium: }: skipped"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/wce-slow.XXXXXX")
sock="$work/tmux.sock"
t() { tmux -S "$sock" "$@"; }
cleanup() {
    t kill-server >/dev/null 2>&1
    "$medium" down "$work/card" >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mnt=$("$medium" up "$work/card" "$mbps" "$([ "$mode" = sync ] && echo sync)") || exit 1
fuse_pid=$(cat "$work/card/fuse.pid")

# The package: two thirds of the files in SETAPP, the rest in TAV, on a fast host folder.
src=$work/medium
mkdir -p "$src/PRODUCT1/SETAPP" "$src/PRODUCT1/TAV" "$mnt/device/ROMDisk/PROGRAM/TAV" \
    "$mnt/device/ROMDisk2/PROGRAM/SETAPP"
printf '[PRODUCT]\r\n1=Slow\r\n' >"$src/SETUP.INI"
head -c "$((file_mb << 20))" /dev/urandom >"$work/data"
for i in $(seq -w 1 "$files"); do
    tree=SETAPP; [ "$((10#$i * 3))" -gt "$((files * 2))" ] && tree=TAV
    cp "$work/data" "$src/PRODUCT1/$tree/FILE$i.DAT"
done
sync -f "$mnt"
printf 'click 1001\n' >"$work/install.script"

t -f /dev/null new-session -d -s wce -x 100 -y 30 \
    "env LANG=C.UTF-8 LC_ALL=C.UTF-8 WCE_DISPLAY=terminal WCE_ROOT=$mnt/device WCE_MEDIUM=$src \
     WCE_SCRIPT=$work/install.script $setup; sleep 60"

# Written bytes of the medium: what the bandwidth-capping folder has passed on.
written() { awk '/^wchar:/ {print $2}' "/proc/$fuse_pid/io"; }

# One line a sample: seconds, bytes written, counter shown ("-" for none), message shown (0/1).
log=$work/samples
deadline=$((SECONDS + 120))
while [ "$SECONDS" -lt "$deadline" ]; do
    screen=$(t capture-pane -p -t wce 2>/dev/null)
    counter=$(grep -oE '[0-9]+ / [0-9]+' <<<"$screen" | head -1)
    done_=0; grep -qF "Installation has been completed." <<<"$screen" && done_=1
    echo "$(date +%s.%N) $(written) ${counter// /} $done_" >>"$log"
    [ "$done_" = 1 ] && break
    grep -qF "Failed in copying files." <<<"$screen" && { echo "FAIL: the install failed"; exit 1; }
    sleep 0.03
done
[ -n "${WCE_SLOW_LOG:-}" ] && cp "$log" "$WCE_SLOW_LOG"

awk -v want="$files" -v mode="$mode" '
    NR == 1 { base = $2; start = $1 }
    { time[NR] = $1; bytes[NR] = $2; shown[NR] = NF == 4 ? $3 : "-"; done_[NR] = $NF }
    END {
        total = bytes[NR] - base
        if (!done_[NR]) { print "FAIL: no completion message"; exit 1 }
        since = start
        for (i = 1; i <= NR; i++) {
            if (i > 1 && shown[i] != shown[i - 1]) {
                if (time[i] - since > freeze) freeze = time[i] - since
                since = time[i]
            }
            if (shown[i] == "-" || shown[i] in first) continue
            first[shown[i]] = time[i]
            if (moved == "") moved = time[i] - start
            f = (bytes[i] - base) / total
            if (f > 0.02 && f < 0.98) during++
            if (shown[i] == want "/" want) last = time[i]
        }
        install = time[NR] - start
        gap = last == "" ? install : time[NR] - last
        printf "%s: %d of %d values shown while writing; install %.1f s, " \
               "counter first seen at %.1f s, longest freeze %.1f s, " \
               "message %.1f s after the last file\n",
            mode, during, want, install, moved, freeze, gap
        if (last == "") print "FAIL: the counter never showed " want " / " want
        if (during * 2 < want) { print "FAIL: the counter ran ahead of the medium"; bad = 1 }
        if (gap > 0.15 * install) {
            print "FAIL: the message came long after the last file"
            bad = 1
        }
        exit bad
    }' "$log"
