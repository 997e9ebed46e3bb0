#!/usr/bin/env bash
# Times the whole install on the media users keep devices on, against cp -r of both trees plus
# sync: tmpfs, ext4 on a loop image, NTFS through ntfs-3g and FAT through fusefat. For each, a
# first install (fresh device) and an install onto the installed files, in interleaved runs
# (installer, cp, installer, cp, ...); medians, their ratio and the system calls per file
# (strace -f -c) of each; onto installed files, also the floor under that ratio on the medium
# (bench/replace_floor.cpp). One table ends the run. As root (loop devices and FUSE mounts).
#   bench/media.sh                   2,000 files of 4 KB (FAT: 1,000), 5 runs each (a few minutes)
#   FILES=2000 FAT_FILES=1000        files per install (FAT gets a new image every run, so fewer)
#   FILE_KB=4 RUNS=5                 the size of each file; runs of each command
#   MEDIA="tmpfs ext4 ntfs fat"      which media, in this order
#   VERIFY=0                         the installer runs with WCE_VERIFY=0, as cp reads nothing
#                                    back; where the binary knows WCE_VERIFY, a run with
#                                    WCE_VERIFY=1 beside it gives read-back's cost in a column
#   STRACE=0                         no system-call counts
#   SETUP=/path/to/SETUP             the binary to time (default: the current tree, built in
#                                    BENCH_BUILD, default build-bench/, Release)
#   BENCH_DISK=/var/tmp              where the images lie; the package is on /dev/shm
#   RUN_TIMEOUT=120                  seconds after which one run counts as failed
# FAT is timed on its first install only: fusefat cannot be trusted to delete a large tree, and
# cp cannot overwrite files there, so every FAT run gets a new image.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
files=${FILES:-2000}
fat_files=${FAT_FILES:-1000}
file_kb=${FILE_KB:-4}
runs=${RUNS:-5}
media=${MEDIA:-tmpfs ext4 ntfs fat}
verify=${VERIFY:-}
strace_on=${STRACE:-1}
disk=${BENCH_DISK:-/var/tmp}
run_timeout=${RUN_TIMEOUT:-120}

say() { echo "$*" >&2; }
die() { say "media.sh: $*"; exit 2; }

[ "$(id -u)" -eq 0 ] || die "needs root (loop devices and FUSE mounts)"
[[ "$files$fat_files$file_kb$runs" =~ ^[0-9]+$ ]] || die "FILES, FAT_FILES, FILE_KB and RUNS are whole numbers"
((runs > 0 && files > 0 && fat_files > 0)) || die "FILES, FAT_FILES and RUNS must be above 0"
case $verify in ''|0) ;; *) die "VERIFY takes 0 (or nothing, for the installer's own default)" ;; esac

# The tree is built for the floor column (replace_floor), and for the installer unless SETUP names one.
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
floor=$build/bin/replace_floor
[ -x "$setup" ] || die "no installer at $setup"
# An unknown WCE_ setting is ignored, so the binary's own strings tell whether it reads this one.
knows_verify=0
grep -qF WCE_VERIFY "$setup" && knows_verify=1
verify_cost=0
[ "$verify" = 0 ] && [ "$knows_verify" = 1 ] && verify_cost=1

# --- Places, mounts and cleanup -------------------------------------------------------------

work=$(mktemp -d /dev/shm/wce-media.XXXXXX)
images=$(mktemp -d "$disk/wce-media.XXXXXX")
mnt=$images/mnt
driver_pid=''
mounted=0
cleanup() {
    unmount
    rm -rf "$work" "$images"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Unmounts the current medium and waits for its FUSE driver to end, so no driver still writes
# while the next run is timed.
unmount() {
    if [ "$mounted" = 1 ]; then
        umount "$mnt" 2>/dev/null || umount -l "$mnt" 2>/dev/null || true
        mounted=0
    fi
    if [ -n "$driver_pid" ]; then
        for _ in $(seq 100); do kill -0 "$driver_pid" 2>/dev/null || break; sleep 0.05; done
        kill "$driver_pid" 2>/dev/null || true
        wait "$driver_pid" 2>/dev/null || true
        driver_pid=''
    fi
}

# Starts a FUSE driver that stays in the foreground and waits for its mount.
fuse_mount() {
    "$@" >"$images/driver.log" 2>&1 </dev/null &
    driver_pid=$!
    for _ in $(seq 100); do mountpoint -q "$mnt" && { mounted=1; return 0; }; sleep 0.05; done
    cat "$images/driver.log" >&2
    return 1
}

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

# Makes and mounts a new, empty medium of kind $1 at $mnt ($dev is the device on it); dies
# when that fails, rather than time the folder under the mount point.
medium_up() {
    local img=$images/medium.img
    unmount
    rm -rf "$mnt" "$img"
    mkdir -p "$mnt"
    case $1 in
    tmpfs) mount -t tmpfs -o size=2g tmpfs "$mnt" && mounted=1 ;;
    ext4)
        truncate -s "${image_mb}M" "$img" &&
            mkfs.ext4 -q -F -E lazy_itable_init=0,lazy_journal_init=0 "$img" &&
            mount -o loop "$img" "$mnt" && mounted=1 ;;
    ntfs)
        truncate -s "${image_mb}M" "$img" && mkntfs -F -Q "$img" >"$images/mkfs.log" 2>&1 &&
            fuse_mount ntfs-3g -o no_detach "$img" "$mnt" ;;
    fat)
        truncate -s "${image_mb}M" "$img" && mkfs.fat -F 32 "$img" >"$images/mkfs.log" 2>&1 &&
            fuse_mount fusefat -f -o rw+ "$img" "$mnt" ;;
    esac
    mountpoint -q "$mnt" || die "could not mount $1"
    dev=$mnt/dev
    mkdir -p "$dev/ROMDisk/PROGRAM/TAV" "$dev/ROMDisk2/PROGRAM/SETAPP"
    sync
}

# Before a first install: an empty device, and nothing of earlier runs left to write.
fresh_device() {
    if [ "$1" = fat ]; then medium_up fat; return; fi
    rm -rf "$dev"
    mkdir -p "$dev/ROMDisk/PROGRAM/TAV" "$dev/ROMDisk2/PROGRAM/SETAPP"
    sync
}

# --- The package and the commands -----------------------------------------------------------

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

# The scripted, headless install of package $2 (default: the one timed) onto $dev; fails, with
# its messages on standard error, unless it reports completion. $1: extra settings.
ours() {
    echo "env $1 WCE_ROOT='$dev' WCE_MEDIUM='${2:-$work/medium}' WCE_SCRIPT='$work/script' \
WCE_DISPLAY=headless '$setup' >'$work/ours.out' && \
grep -qF 'Installation has been completed.' '$work/ours.out' || { grep '^message:' '$work/ours.out' >&2; false; }"
}
theirs() {
    local pkg=${1:-$work/medium}
    echo "cp -r '$pkg/PRODUCT1/SETAPP/.' '$dev/ROMDisk2/PROGRAM/SETAPP/' && \
cp -r '$pkg/PRODUCT1/TAV/.' '$dev/ROMDisk/PROGRAM/TAV/' && sync"
}

now() { date +%s%N; }
# Wall time of a shell command in microseconds, or "fail".
timed() {
    local t0 t1
    t0=$(now)
    timeout -k 10 "$run_timeout" bash -c "$1" >/dev/null 2>"$work/run.err" </dev/null ||
        { say "   failed: $1"; tail -n 3 "$work/run.err" >&2; echo fail; return; }
    t1=$(now)
    echo $(( (t1 - t0) / 1000 ))
}

median() {
    [ $# -gt 0 ] || { echo fail; return; }
    printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'
}

# interleave PREP CMD...: $runs rounds of the commands in turns, each after PREP (in this shell:
# it may remount); sets medians to the median of each (microseconds), marked * when some of its
# runs failed.
interleave() {
    local prep=$1 r i t
    shift
    local -a cmds=("$@") fails=()
    local -A times=()
    for ((r = 0; r < runs; r++)); do
        for i in "${!cmds[@]}"; do
            eval "$prep"
            t=$(timed "${cmds[i]}")
            if [ "$t" = fail ]; then fails[i]=1; else times[$i]+="$t "; fi
        done
    done
    medians=()
    for i in "${!cmds[@]}"; do
        # shellcheck disable=SC2086
        medians+=("$(median ${times[$i]:-})${fails[i]:+*}")
    done
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

# --- The table ------------------------------------------------------------------------------

table=()
cols() { printf '%-6s %-22s %6s %9s %9s %6s %6s %7s %7s %7s  %s' "$@"; }
secs() { case $1 in fail*) echo "$1" ;; *) awk -v u="${1%\*}" -v m="${1//[0-9]/}" 'BEGIN { printf "%.3f%s", u / 1e6, m }' ;; esac; }
ratio() { case "$1 $2" in *fail*) echo - ;; *) awk -v a="${1%\*}" -v b="${2%\*}" 'BEGIN { printf "%.2f", a / b }' ;; esac; }
cost() {
    case "$1 $2" in *fail*) echo - ;; *) awk -v a="${1%\*}" -v b="${2%\*}" 'BEGIN { printf "%+.3f (%+.0f%%)", (a - b) / 1e6, (a - b) * 100 / b }' ;; esac
}
row() { table+=("$(cols "$@")"); say "${table[-1]}"; }

# bench_row KIND WORK N PREP GOAL: times, counts and adds one row.
bench_row() {
    local kind=$1 work_=$2 n=$3 prep=$4 goal=$5 o t v=fail co=- ct=- rb=- fl=-
    local settings=${verify:+WCE_VERIFY=$verify}
    local -a cmds=("$(ours "$settings")" "$(theirs)")
    ((verify_cost)) && cmds+=("$(ours WCE_VERIFY=1)")
    interleave "$prep" "${cmds[@]}"
    o=${medians[0]} t=${medians[1]} v=${medians[2]:-fail}
    if [ "$strace_on" != 0 ]; then
        eval "$prep"; co=$(calls_per_file "${cmds[0]}" "$(ours "$settings" "$work/empty")" "$n")
        eval "$prep"; ct=$(calls_per_file "${cmds[1]}" "$(theirs "$work/empty")" "$n")
    fi
    ((verify_cost)) && rb=$(cost "$v" "$o")
    # Onto installed files: what replacing without tearing costs against overwriting in place.
    if [ "$work_" != "first install" ] && [ -x "$floor" ]; then
        mkdir -p "$mnt/floor"
        local attr=user.DOSATTRIB
        [ "$kind" = ntfs ] && attr=system.ntfs_attrib_be
        fl=$("$floor" "$mnt/floor" "$n" "$file_kb" "$runs" "$attr" 2>/dev/null | awk '{ print $3 }') || fl=-
        rm -rf "$mnt/floor"
    fi
    row "$kind" "$work_" "$n" "$(secs "$o")" "$(secs "$t")" "$(ratio "$o" "$t")" "$fl" "$co" "$ct" "$goal" "$rb"
}

printf 'click 1001\nok\nclose\n' >"$work/script"
mkdir -p "$work/empty/PRODUCT1/SETAPP" "$work/empty/PRODUCT1/TAV"
printf '[PRODUCT]\r\n1=Bench\r\n' >"$work/empty/SETUP.INI"
say "installer: $setup${verify:+ (WCE_VERIFY=$verify)}; $runs runs of each, medians; package on /dev/shm, images in $disk"
table+=("$(cols medium work files ours 'cp+sync' ratio floor 'calls/f' 'cp c/f' goal \
    "$( ((verify_cost)) && echo 'read-back (WCE_VERIFY=1 - 0)')")")
for kind in $media; do
    why=$(missing "$kind")
    if [ -n "$why" ]; then row "$kind" "skipped: $why" - - - - - - - -; continue; fi
    n=$files; [ "$kind" = fat ] && n=$fat_files
    # Room for the files with their folders, and for the filesystem's own tables.
    image_mb=$(( n * (file_kb + 4) / 1024 * 2 + 128 ))
    say "== $kind: $n files of $file_kb KB"
    make_package "$work/medium" "$n"
    medium_up "$kind"
    case $kind in
    tmpfs) g1='<= 1.0' g2='<= 1.2' ;;
    ext4) g1='< 1.0' g2='< 1.0' ;;
    ntfs) g1='<= 1.2' g2='<= 1.2' ;;
    fat) g1='<= 1.5' g2= ;;
    esac
    bench_row "$kind" "first install" "$n" "fresh_device $kind" "$g1"
    if [ "$kind" != fat ]; then
        # Each run leaves the device holding the files for the next.
        fresh_device "$kind"; timed "$(theirs)" >/dev/null
        bench_row "$kind" "onto installed files" "$n" sync "$g2"
    fi
    unmount
done

echo
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) processors, $(git -C "$here" rev-parse --short HEAD 2>/dev/null || echo '?'):" \
     "medians of $runs interleaved runs; files of $file_kb KB in folders of 100${verify:+; installer with WCE_VERIFY=$verify}"
printf '%s\n' "${table[@]}"
echo "(ratio: ours / cp+sync; floor: bench/replace_floor, a file whose attributes are read and which is replaced"
echo " through a temporary and a rename against one overwritten in place: the least a ratio onto installed"
echo " files can be with the attribute reset and without torn files;"
echo " goal: the ratio aimed at; calls/f, cp c/f: system calls per file under strace -f -c,"
echo " ours and cp's, less those of the same run with an empty package;"
echo " a median marked * leaves out failed runs, listed above)"
((verify_cost)) || [ "$verify" != 0 ] || echo "(no read-back column: this installer does not know WCE_VERIFY)"
