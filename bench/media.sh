#!/usr/bin/env bash
# Times the whole install, as whole processes, against cp -r of both trees plus sync, with
# hyperfine, on the media users keep devices on: tmpfs, ext4 on a loop image, NTFS through
# ntfs-3g and FAT through fusefat. For each, a first install (fresh device) and an install onto
# the installed files; medians, their ratio to cp, what read-back adds, the system calls per file
# (strace -f -c) and, onto installed files, the floor the medium sets (bench/replace_floor.cpp).
# One table ends the run. As root (loop devices and FUSE mounts).
#
# How the runs interleave: hyperfine runs all runs of one command before the next, so a row is
# RUNS hyperfine invocations of one run of each command, the order turned by one each time
# (cp, A, B; A, B, cp; B, cp, A; ...), after one untimed round of each (warm caches, a loaded
# binary). Every sample of every command thus lies within one round of the others', and drift on
# the machine (others' builds, a flush of another disk) falls on all of them alike. hyperfine
# takes its shell's own start off each time; the medians of the RUNS samples are compared.
# The package lies on /dev/shm and the device on a filesystem of its own, as a medium and a
# device are: within one filesystem cp copies in the kernel (copy_file_range) and the ratio
# means something else (docs/performance.md).
#
#   bench/media.sh                   2,000 files of 4 KB, 10 runs each; FAT 250 files, 5 runs
#                                    (about five minutes on a quiet machine)
#   FILES=2000 FAT_FILES=250         files per install (fusefat takes about 20 ms a file, and FAT
#   FAT_RUNS=5                       gets a new image every run, so fewer files and runs)
#   FILE_KB=4 RUNS=10                the size of each file; timed runs of each command
#   MEDIA="tmpfs ext4 ntfs fat"      which media, in this order
#   SETUP=/path/to/SETUP             installer A (default: the current tree, built in BENCH_BUILD,
#                                    default build-bench/, Release)
#   SETUP_B=/path/to/SETUP           installer B, run in the same rounds as A and cp: its ratio
#                                    to cp and to A get columns (build A with a mechanism and B
#                                    without it to see what the mechanism is worth)
#   VERIFY_COST=0                    no WCE_VERIFY=1 run of A beside it (the read-back column)
#   STRACE=0                         no system-call counts
#   BENCH_DISK=/var/tmp              where the images lie
#   RUN_TIMEOUT=120                  seconds one command may take before its row counts as failed
# The installers run with WCE_VERIFY=0 (cp reads nothing back); where A knows WCE_VERIFY, A with
# WCE_VERIFY=1 runs in the same rounds and its median less A's is read-back's cost. FAT is timed
# on its first install only: fusefat cannot be trusted to delete a large tree, and cp cannot
# overwrite files there, so every FAT run gets a new image (in hyperfine's --prepare).
set -euo pipefail
self=$(realpath "$0")
here=$(cd "$(dirname "$self")/.." && pwd)

say() { echo "$*" >&2; }
die() { say "media.sh: $*"; exit 2; }

# --- Media ------------------------------------------------------------------------------------
# The state of the medium lies in $state: mnt/ (the mount), medium.img, driver.pid and
# driver.log, so that hyperfine's --prepare (this script again, as "__fresh") can remount it.

# Unmounts the medium and waits for its FUSE driver to end, so no driver still writes while the
# next run is timed.
unmount() {
    local pid
    if mountpoint -q "$state/mnt" 2>/dev/null; then
        umount "$state/mnt" 2>/dev/null || umount -l "$state/mnt" 2>/dev/null || true
    fi
    if [ -s "$state/driver.pid" ]; then
        pid=$(cat "$state/driver.pid")
        for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 40); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
        kill -9 "$pid" 2>/dev/null || true
        rm -f "$state/driver.pid"
    fi
}

# Starts a FUSE driver that stays in the foreground, detached from whoever started it (it
# outlives a --prepare), and waits for its mount.
fuse_mount() {
    "$@" >"$state/driver.log" 2>&1 </dev/null &
    echo $! >"$state/driver.pid"
    for _ in $(seq 100); do mountpoint -q "$state/mnt" && return 0; sleep 0.05; done
    cat "$state/driver.log" >&2
    return 1
}

# Makes and mounts a new, empty medium of kind $1 with $2 MB at $state/mnt, the two program
# folders made; fails rather than let the folder under the mount point be timed.
medium_up() {
    local kind=$1 mb=$2 img=$state/medium.img mnt=$state/mnt
    unmount
    rm -rf "$mnt" "$img"
    mkdir -p "$mnt"
    case $kind in
    tmpfs) mount -t tmpfs -o size=2g tmpfs "$mnt" ;;
    ext4)
        truncate -s "${mb}M" "$img" &&
            mkfs.ext4 -q -F -E lazy_itable_init=0,lazy_journal_init=0 "$img" &&
            mount -o loop "$img" "$mnt" ;;
    ntfs)
        truncate -s "${mb}M" "$img" && mkntfs -F -Q "$img" >"$state/mkfs.log" 2>&1 &&
            fuse_mount ntfs-3g -o no_detach "$img" "$mnt" ;;
    fat)
        truncate -s "${mb}M" "$img" && mkfs.fat -F 32 "$img" >"$state/mkfs.log" 2>&1 &&
            fuse_mount fusefat -f -o rw+ "$img" "$mnt" ;;
    esac || true
    mountpoint -q "$mnt" || { say "media.sh: could not mount $kind"; return 1; }
    mkdir -p "$mnt/dev/ROMDisk/PROGRAM/TAV" "$mnt/dev/ROMDisk2/PROGRAM/SETAPP"
    sync
}

# Before a first install: an empty device, and nothing of earlier runs left to write.
fresh_device() {
    local kind=$1 mb=$2 dev=$state/mnt/dev
    if [ "$kind" = fat ]; then medium_up fat "$mb"; return; fi
    rm -rf "$dev"
    mkdir -p "$dev/ROMDisk/PROGRAM/TAV" "$dev/ROMDisk2/PROGRAM/SETAPP"
    sync
}

# hyperfine's --prepare: media.sh __fresh KIND STATE MB.
if [ "${1:-}" = __fresh ]; then
    state=$3
    fresh_device "$2" "$4"
    exit
fi

# --- Settings ---------------------------------------------------------------------------------

files=${FILES:-2000}
fat_files=${FAT_FILES:-250}
fat_runs=${FAT_RUNS:-5}
file_kb=${FILE_KB:-4}
runs=${RUNS:-10}
media=${MEDIA:-tmpfs ext4 ntfs fat}
verify_cost=${VERIFY_COST:-1}
strace_on=${STRACE:-1}
disk=${BENCH_DISK:-/var/tmp}
run_timeout=${RUN_TIMEOUT:-120}

[ "$(id -u)" -eq 0 ] || die "needs root (loop devices and FUSE mounts)"
command -v hyperfine >/dev/null || die "hyperfine is not installed (scripts/deps.sh)"
[[ "$files$fat_files$file_kb$runs$fat_runs$run_timeout" =~ ^[0-9]+$ ]] ||
    die "FILES, FAT_FILES, FILE_KB, RUNS, FAT_RUNS and RUN_TIMEOUT are whole numbers"
((runs > 0 && fat_runs > 0 && files > 0 && fat_files > 0 && file_kb > 0)) ||
    die "FILES, FAT_FILES, FILE_KB, RUNS and FAT_RUNS must be above 0"

# The tree is built for the floor column (replace_floor), and for installer A unless SETUP names one.
build=${BENCH_BUILD:-$here/build-bench} launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
targets=(replace_floor)
[ -n "${SETUP:-}" ] || targets+=(SETUP)
say "building ${targets[*]} in $build (log: $build/media-build.log)"
mkdir -p "$build"
if ! (export CCACHE_BASEDIR=$here CCACHE_NOHASHDIR=1
      cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" &&
      cmake --build "$build" --target "${targets[@]}") >"$build/media-build.log" 2>&1; then
    tail -n 20 "$build/media-build.log" >&2
    [ -n "${SETUP:-}" ] || die "the current tree does not build"
fi
setup=$build/bin/SETUP
[ -n "${SETUP:-}" ] && setup=$(realpath "$SETUP")
setup_b=
[ -n "${SETUP_B:-}" ] && setup_b=$(realpath "$SETUP_B")
floor=$build/bin/replace_floor
[ -x "$setup" ] || die "no installer at $setup"
[ -z "$setup_b" ] || [ -x "$setup_b" ] || die "no installer at $setup_b"
# An unknown WCE_ setting is ignored, so the binary's own strings tell whether it reads this one.
knows_verify() { grep -qF WCE_VERIFY "$1"; }
knows_verify "$setup" || verify_cost=0
[ -z "$setup_b" ] || knows_verify "$setup_b" ||
    say "media.sh: $setup_b does not know WCE_VERIFY: it reads back where its default says so"

# --- Places and cleanup -----------------------------------------------------------------------

work=$(mktemp -d /dev/shm/wce-media.XXXXXX)
state=$(mktemp -d "$disk/wce-media.XXXXXX")
dev=$state/mnt/dev
cleanup() {
    unmount
    rm -rf "$work" "$state"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Why a medium cannot be benchmarked here, or nothing.
missing() {
    local tools
    case $1 in
    tmpfs) tools= ;;
    ext4) tools="mkfs.ext4 losetup"; [ -e /dev/loop-control ] || { echo "no loop devices"; return; } ;;
    ntfs) tools="mkntfs ntfs-3g" ;;
    fat) tools="mkfs.fat fusefat" ;;
    *) echo "unknown medium"; return ;;
    esac
    case $1 in ntfs|fat) [ -c /dev/fuse ] || { echo "no /dev/fuse"; return; } ;; esac
    for t in $tools; do command -v "$t" >/dev/null || { echo "$t is missing"; return; }; done
}

# --- The package and the commands -------------------------------------------------------------

# make_package DIR N: PRODUCT1 with N files of FILE_KB, half the folders in SETAPP, half in TAV,
# 100 files a folder.
make_package() {
    local root=$1/PRODUCT1 n=$2 nd d f pad
    nd=$(( (n + 99) / 100 )); ((nd >= 2)) || nd=2
    pad=$(head -c "$((file_kb * 1024))" /dev/zero | tr '\0' x)
    rm -rf "$1"
    mkdir -p "$root/SETAPP" "$root/TAV"
    for ((d = 0; d < nd; d++)); do
        local sub=$root/SETAPP/d$d
        ((d < nd / 2)) || sub=$root/TAV/d$d
        mkdir "$sub"
        for ((f = d; f < n; f += nd)); do printf '%d\n%s' "$f" "$pad" >"$sub/f$f.txt"; done
    done
    printf '[PRODUCT]\r\n1=Bench\r\n' >"$1/SETUP.INI"
}

# ours BINARY VERIFY [PACKAGE]: the scripted, headless install onto $dev; fails unless it reports
# completion (the program exits 0 after "Failed in copying files." too). grep reads to the end,
# so the installer is never cut short by a closed pipe.
ours() {
    echo "WCE_VERIFY=$2 WCE_ROOT='$dev' WCE_MEDIUM='${3:-$work/medium}' WCE_SCRIPT='$work/script' \
WCE_DISPLAY=headless '$1' | grep -F 'Installation has been completed.' >/dev/null"
}
theirs() {
    local pkg=${1:-$work/medium}
    echo "cp -r '$pkg/PRODUCT1/SETAPP/.' '$dev/ROMDisk2/PROGRAM/SETAPP/' && \
cp -r '$pkg/PRODUCT1/TAV/.' '$dev/ROMDisk/PROGRAM/TAV/' && sync"
}

# interleave RUNS PREP NAME CMD [NAME CMD]...: one untimed round, then RUNS hyperfine invocations of
# one run each, the order turned by one each time; prints "NAME MEDIAN MIN MAX" per command
# (seconds), or "NAME fail" for all when a round failed (its messages above).
interleave() {
    local rounds=$1 prep=$2 r i k n
    shift 2
    local -a names=() cmds=() args=()
    while [ $# -gt 0 ]; do names+=("$1"); cmds+=("$2"); shift 2; done
    n=${#names[@]}
    rm -f "$work"/round-*.json
    for ((r = 0; r <= rounds; r++)); do
        args=()
        for ((k = 0; k < n; k++)); do
            i=$(( (k + r) % n ))
            args+=(-n "${names[i]}" "${cmds[i]}")
        done
        if ! timeout -k 10 "$((run_timeout * n + 60))" hyperfine --runs 1 --style none \
                --prepare "$prep" --export-json "$work/round-$r.json" "${args[@]}" \
                >"$work/hyperfine.log" 2>&1; then
            grep -v '^ *$' "$work/hyperfine.log" | tail -n 5 >&2
            for i in "${names[@]}"; do echo "$i fail"; done
            return
        fi
        ((r > 0)) || rm -f "$work/round-0.json"
    done
    /usr/bin/python3 - "$work"/round-*.json <<'EOF'
import json, statistics, sys
times = {}
for path in sys.argv[1:]:
    for res in json.load(open(path))["results"]:
        times.setdefault(res["command"], []).extend(res["times"])
for name, t in times.items():
    print(name, statistics.median(t), min(t), max(t))
EOF
}

# System calls of a shell command (all threads).
calls() {
    strace -f -c -o "$work/strace" bash -c "$1" >/dev/null 2>&1 </dev/null || { echo fail; return; }
    awk '/total$/ { print $4 }' "$work/strace"
}
# calls_per_file CMD EMPTY_CMD N: system calls per file of CMD, less what the same command makes
# with an empty package (start-up, loading, the flush), which would weigh on small counts.
calls_per_file() {
    local c c0
    c=$(calls "$1") c0=$(calls "$2")
    case "$c $c0" in *fail*) echo fail ;; *) awk -v c="$c" -v c0="$c0" -v n="$3" 'BEGIN { printf "%.1f", (c - c0) / n }' ;; esac
}

# --- The table --------------------------------------------------------------------------------

table=()
cols() {
    if [ -n "$setup_b" ]; then
        printf '%-6s %-20s %5s %8s %8s %6s %8s %6s %6s %6s %6s %6s %-7s %s' "$@"
    else
        printf '%-6s %-20s %5s %8s %8s %6s %6s %6s %6s %-7s %s' "${@:1:6}" "${@:10}"
    fi
}
ratio() { case "$1 $2" in *fail*|*-*) echo - ;; *) awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }' ;; esac; }
secs() { case $1 in fail|-) echo "$1" ;; *) awk -v s="$1" 'BEGIN { printf "%.3f", s }' ;; esac; }
cost() {
    case "$1 $2" in *fail*|*-*) echo - ;; *) awk -v a="$1" -v b="$2" 'BEGIN { printf "%+.3f (%+.0f%%)", a - b, (a - b) * 100 / b }' ;; esac
}
row() { table+=("$(cols "$@")"); say "${table[-1]}"; }

# bench_row KIND WORK N PREP GOAL: times, counts and adds one row.
bench_row() {
    local kind=$1 what=$2 n=$3 prep=$4 goal=$5 name med lo hi row_runs=$runs
    [ "$kind" = fat ] && row_runs=$fat_runs
    local -A m=() spread=()
    local -a cmds=(cp "$(theirs)" A "$(ours "$setup" 0)")
    [ -z "$setup_b" ] || cmds+=(B "$(ours "$setup_b" 0)")
    ((verify_cost)) && cmds+=(A+read-back "$(ours "$setup" 1)")
    while read -r name med lo hi; do
        m[$name]=$med
        [ "$med" = fail ] || spread[$name]=$(awk -v a="$lo" -v b="$hi" 'BEGIN { printf "%.3f-%.3f", a, b }')
    done < <(interleave "$row_runs" "$prep" "${cmds[@]}")
    local co=- ct=- fl=- rb=-
    if [ "$strace_on" != 0 ]; then
        eval "$prep"; co=$(calls_per_file "$(ours "$setup" 0)" "$(ours "$setup" 0 "$work/empty")" "$n")
        eval "$prep"; ct=$(calls_per_file "$(theirs)" "$(theirs "$work/empty")" "$n")
    fi
    ((verify_cost)) && rb=$(cost "${m[A+read-back]}" "${m[A]}")
    # Onto installed files: what replacing without tearing costs against overwriting in place.
    if [ "$what" != "first install" ] && [ -x "$floor" ]; then
        mkdir -p "$state/mnt/floor"
        local attr=user.DOSATTRIB
        [ "$kind" = ntfs ] && attr=system.ntfs_attrib_be
        fl=$("$floor" "$state/mnt/floor" "$n" "$file_kb" 5 "$attr" 2>/dev/null | awk '{ print $3 }') || fl=-
        rm -rf "$state/mnt/floor"
    fi
    row "$kind" "$what" "$n" "$(secs "${m[cp]}")" "$(secs "${m[A]}")" "$(ratio "${m[A]}" "${m[cp]}")" \
        "$(secs "${m[B]:--}")" "$(ratio "${m[B]:--}" "${m[cp]}")" "$(ratio "${m[B]:--}" "${m[A]}")" \
        "$fl" "$co" "$ct" "$goal" "$rb"
    spreads+=("$kind, $what: cp ${spread[cp]:-?}, A ${spread[A]:-?}${setup_b:+, B ${spread[B]:-?}}")
}

printf 'click 1001\nok\nclose\n' >"$work/script"
mkdir -p "$work/empty/PRODUCT1/SETAPP" "$work/empty/PRODUCT1/TAV"
printf '[PRODUCT]\r\n1=Bench\r\n' >"$work/empty/SETUP.INI"
say "A: $setup${setup_b:+; B: $setup_b}; $runs interleaved runs of each, medians; package on /dev/shm, images in $disk"
spreads=()
table+=("$(cols medium work files 'cp+sync' A 'A/cp' B 'B/cp' 'B/A' floor 'A c/f' 'cp c/f' goal \
    "$( ((verify_cost)) && echo 'read-back adds (A, WCE_VERIFY=1 - 0)')")")
for kind in $media; do
    why=$(missing "$kind")
    if [ -n "$why" ]; then row "$kind" "skipped: $why" - - - - - - - - - - - -; continue; fi
    n=$files; [ "$kind" = fat ] && n=$fat_files
    # Room for the files with their folders, and for the filesystem's own tables.
    image_mb=$(( n * (file_kb + 4) / 1024 * 2 + 128 ))
    say "== $kind: $n files of $file_kb KB"
    make_package "$work/medium" "$n"
    medium_up "$kind" "$image_mb" || { row "$kind" "skipped: no mount" - - - - - - - - - - - -; continue; }
    case $kind in
    tmpfs) g1='<= 1.0' g2='<= 1.2' ;;
    ext4) g1='< 1.0' g2='< 1.0' ;;
    ntfs) g1='<= 1.2' g2='<= 1.2' ;;
    fat) g1='<= 1.5' g2= ;;
    esac
    bench_row "$kind" "first install" "$n" "'$self' __fresh $kind '$state' $image_mb" "$g1"
    if [ "$kind" != fat ]; then
        # Each run leaves the device holding the files for the next.
        fresh_device "$kind" "$image_mb" && bash -c "$(theirs)"
        bench_row "$kind" "onto installed files" "$n" sync "$g2"
    fi
    unmount
done

echo
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) processors, load $(cut -d' ' -f1-3 /proc/loadavg)," \
     "$(git -C "$here" rev-parse --short HEAD 2>/dev/null || echo '?'): medians of $runs interleaved" \
     "hyperfine runs (FAT $fat_runs); files of $file_kb KB in folders of 100; installers with WCE_VERIFY=0"
echo "A: $setup"
[ -z "$setup_b" ] || echo "B: $setup_b"
printf '%s\n' "${table[@]}"
echo "(seconds; A/cp, B/cp, B/A: ratios of medians; floor: bench/replace_floor, a file whose attributes"
echo " are read and which is replaced through a temporary and a rename against one overwritten in"
echo " place: the least a ratio onto installed files can be with the attribute reset and without torn"
echo " files; goal: the ratio aimed at for A; A c/f, cp c/f: system calls per file under strace -f -c,"
echo " less those of the same run with an empty package; read-back: A's median with WCE_VERIFY=1 less"
echo " A's with 0, from the same rounds)"
echo "fastest-slowest run of each:"
printf '  %s\n' "${spreads[@]}"
((verify_cost)) || [ "${VERIFY_COST:-1}" = 0 ] || echo "(no read-back column: $setup does not know WCE_VERIFY)"
