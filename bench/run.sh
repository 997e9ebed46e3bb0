#!/usr/bin/env bash
# Times the installer's count, copy and whole install of an older revision (old) beside the
# current tree (new) and the standard tools (theirs: find, cp -r, cp -r + sync), on tmpfs and on
# disk. Count and copy run in process, interleaved (old, new, theirs, old, new, theirs, ...), best
# of ROUNDS. Whole installs run as whole processes under hyperfine, ROUNDS rounds of one run of
# each after an untimed one, the order turned by one each round (as bench/media.sh), medians; the
# package lies in the place and the device on a filesystem of its own mounted for the run (a tmpfs
# on tmpfs, an ext4 image elsewhere), since within one filesystem cp -r copies in the kernel
# (copy_file_range) and the ratio would compare with a copy no medium gets. As root (mounts);
# without, the whole-install rows are skipped. A table per place, with both ratios to theirs and
# the goal, ends the run.
#   bench/run.sh                     everything: tmpfs and disk, 100,000 files, best of 5
#                                    (the disk half takes longest; tmpfs alone, best of 3: 7 min)
#   QUICK=1 bench/run.sh             development: tmpfs only, 20,000 files, best of 3, no system
#                                    call counts, no big files (a few minutes)
#   BASE=<rev> bench/run.sh          the old revision (default 86eabdc); BASE= runs new only
#   ROUNDS=3                         fewer rounds
#   PLACES=/dev/shm                  only tmpfs
#   BENCH_DISK=/path                 where the disk runs happen (default: /var/tmp)
#   DEVICE_FS=tmpfs|ext4             the device's filesystem everywhere (default: tmpfs on tmpfs
#                                    places, an ext4 image on the others)
#   FILES=20000 FOLDERS=200          the main tree (FOLDERS: default FILES / 100)
#   STRACE=0                         skip the system-call counts
#   BIG=0                            skip the 20 x 50 MB copy
#   RUN_TIMEOUT=120                  seconds after which one run counts as failed
# Settings given explicitly win over QUICK's. The current tree builds in build-bench/; the old
# revision is checked out in a git worktree under build-bench-base/ and built beside it (Release,
# through ccache where present). A run that fails or times out is reported; a best or median
# marked * is of the runs that did not fail.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
quick=${QUICK:-0}
if [ "$quick" = 1 ]; then q_places=/dev/shm q_files=20000 q_rounds=3 q_strace=0 q_big=0
else q_places="/dev/shm ${BENCH_DISK:-/var/tmp}" q_files=100000 q_rounds=5 q_strace=1 q_big=1; fi
places=${PLACES:-$q_places}
files=${FILES:-$q_files}
folders=${FOLDERS:-$((files / 100))}
rounds=${ROUNDS:-$q_rounds}
strace_on=${STRACE:-$q_strace}
big_on=${BIG:-$q_big}
run_timeout=${RUN_TIMEOUT:-120}
device_fs=${DEVICE_FS:-}
base=${BASE-86eabdc}
second_files=20000                      # the second, smaller install
build=${BENCH_BUILD:-$here/build-bench}
base_dir=$here/build-bench-base         # worktree in src/, build in build/
script_steps=3                          # lines of the install script below

say() { echo "$*" >&2; }

case $device_fs in ''|tmpfs|ext4) ;; *) say "DEVICE_FS is tmpfs or ext4"; exit 2 ;; esac
command -v hyperfine >/dev/null || { say "hyperfine is not installed (scripts/deps.sh)"; exit 2; }

# --- Building -------------------------------------------------------------------------------

# Configures and builds SETUP and install_bench of the source tree $1 in $2 (Release); output in
# $2/bench-build.log. ccache lets both trees share the objects of the files they have in common.
build_tree() {
    local src=$1 dir=$2 launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    mkdir -p "$dir"
    if ! (export CCACHE_BASEDIR=$src CCACHE_NOHASHDIR=1
          cmake -S "$src" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" &&
          cmake --build "$dir" --target SETUP install_bench) >"$dir/bench-build.log" 2>&1; then
        tail -n 20 "$dir/bench-build.log" >&2
        return 1
    fi
}

# Checks out $base in the worktree (made on first use) and builds it.
build_base() {
    local rev src=$base_dir/src
    rev=$(git -C "$here" rev-parse --verify --quiet "$base^{commit}") || { say "BASE=$base is no commit"; return 1; }
    if [ -e "$src/.git" ]; then
        git -C "$src" checkout -q -f --detach "$rev"
    else
        git -C "$here" worktree prune
        git -C "$here" worktree add -q -f --detach "$src" "$rev"
    fi
    say "old: $(git -C "$src" log -1 --format='%h %s' | cut -c1-90)"
    build_tree "$src" "$base_dir/build"
}

# The script's waits between scripted steps in the terminal display (microseconds) of source tree
# $1: shown to be followed, by design, they are no cost of the display and are taken off.
script_pace_us() {
    local ms
    ms=$(sed -n 's/.*kScriptPace = std::chrono::milliseconds(\([0-9]*\)).*/\1/p' \
         "$1/platform/display/terminal/terminal_display_posix.cpp" 2>/dev/null | head -n 1)
    echo $(( ${ms:-0} * 1000 * script_steps ))
}

say "new: the current tree in $build"
build_tree "$here" "$build" || { say "the current tree does not build"; exit 1; }
new_setup=$build/bin/SETUP new_bench=$build/bin/install_bench
new_pace=$(script_pace_us "$here")
old_setup='' old_bench='' old_pace=0
if [ -z "$base" ]; then
    say "old: none (BASE is empty)"
elif build_base; then
    old_setup=$base_dir/build/bin/SETUP old_bench=$base_dir/build/bin/install_bench
    old_pace=$(script_pace_us "$base_dir/src")
else
    say "old: BASE=$base did not build (log: $base_dir/build/bench-build.log); going on with new only"
fi

# --- Timing ---------------------------------------------------------------------------------

work=() mounts=() dev='' device=''
# Unmounts first, so that removing the work folders never reaches into a mounted device.
cleanup() {
    local m
    for m in "${mounts[@]}"; do umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true; done
    mounts=()
    for w in "${work[@]}"; do chmod -R u+w "$w" 2>/dev/null || true; rm -rf "$w"; done
    work=()
}
trap cleanup EXIT
trap 'exit 130' INT TERM

now() { date +%s%N; }
# Runs a shell command, prints its wall time in microseconds, or "fail" when it fails or times out.
timed() {
    local t0 t1
    t0=$(now)
    timeout -k 10 "$run_timeout" bash -c "$1" >/dev/null 2>&1 </dev/null || { say "   failed (status $?): $1"; echo fail; return; }
    t1=$(now)
    echo $(( (t1 - t0) / 1000 ))
}

# best PREP CMD...: runs the commands (shell strings) in turns, each after PREP, $rounds times;
# prints the best time of each (microseconds), marked * when some of its runs failed, "fail"
# when all did, "-" for an empty command.
best() {
    local prep=$1 i r t
    shift
    local -a cmds=("$@") bests=() fails=()
    for ((r = 0; r < rounds; r++)); do
        for i in "${!cmds[@]}"; do
            [ -n "${cmds[i]}" ] || continue
            eval "$prep"
            t=$(timed "${cmds[i]}")
            if [ "$t" = fail ]; then fails[i]=1
            elif [ -z "${bests[i]:-}" ] || ((t < bests[i])); then bests[i]=$t; fi
        done
    done
    for i in "${!cmds[@]}"; do
        if [ -z "${cmds[i]}" ]; then t=-
        elif [ -z "${bests[i]:-}" ]; then t=fail
        else t=${bests[i]}${fails[i]:+*}; fi
        printf '%s ' "$t"
    done
    echo
}

# hbest PREP CMD...: the commands (shell strings) as whole processes under hyperfine, PREP before
# each run: one untimed round (warm caches, loaded binaries), then $rounds rounds of one run of
# each, the order turned by one each round, so every sample lies within a round of the others' and
# drift falls on all alike; hyperfine takes its shell's start off. Prints the median of each
# (microseconds), marked * when some of its runs failed, "fail" when all did, "-" for an empty
# command. A round that hangs past the limit ends the rounds; what was timed before it counts.
hbest() {
    local prep=$1 r k i n broke=0 idx med nfail
    shift
    local -a cmds=("$@") live=() args=() out=()
    for i in "${!cmds[@]}"; do [ -z "${cmds[i]}" ] || live+=("$i"); done
    n=${#live[@]}
    rm -f "$w"/round-*.json
    for ((r = 0; r <= rounds; r++)); do
        args=()
        for ((k = 0; k < n; k++)); do i=${live[(k + r) % n]}; args+=(-n "c$i" "${cmds[i]}"); done
        if ! timeout -k 10 "$((run_timeout * n + 60))" hyperfine --runs 1 --style none -i \
                --prepare "$prep" --export-json "$w/round-$r.json" "${args[@]}" \
                >"$w/hyperfine.log" 2>&1 </dev/null; then
            say "   round $r failed or timed out; no rounds after it:"
            grep -v '^ *$' "$w/hyperfine.log" | tail -n 5 >&2
            rm -f "$w/round-$r.json"
            broke=1
            break
        fi
        ((r > 0)) || rm -f "$w/round-0.json"
    done
    for i in "${!cmds[@]}"; do out[i]=-; done
    for i in "${live[@]}"; do out[i]=fail; done
    while read -r idx med nfail; do
        ((nfail == 0)) || say "   failed $nfail of its runs: ${cmds[idx]}"
        [ "$med" = fail ] && continue
        if ((nfail == 0 && broke == 0)); then out[idx]=$med; else out[idx]="$med*"; fi
    done < <(compgen -G "$w/round-*.json" >/dev/null || exit 0; /usr/bin/python3 - "$w"/round-*.json <<'EOF'
import json, statistics, sys
times, fails = {}, {}
for path in sys.argv[1:]:
    for res in json.load(open(path))["results"]:
        i = int(res["command"][1:])
        for t, code in zip(res["times"], res["exit_codes"]):
            if code == 0:
                times.setdefault(i, []).append(t)
            else:
                fails[i] = fails.get(i, 0) + 1
for i in sorted(set(times) | set(fails)):
    t = times.get(i)
    print(i, round(statistics.median(t) * 1e6) if t else "fail", fails.get(i, 0))
EOF
)
    echo "${out[*]}"
}

# Wall time less a fixed wait (both microseconds), keeping "-", "fail" and the mark *.
less() {
    case $1 in -|fail) echo "$1" ;; *) echo "$(( ${1%\*} - $2 ))${1//[0-9]/}" ;; esac
}

# System calls per file of a command (both threads).
syscalls_per_file() {
    local out
    out=$(mktemp)
    strace -f -c -o "$out" "$@" >/dev/null 2>&1 || true
    awk -v n="$files" '/total$/ { calls = $4 } END { printf "%.1f", calls / n }' "$out"
    rm -f "$out"
}

# Peak resident memory of a shell command, in MB.
peak_mb() {
    [ -n "$1" ] || { echo -; return; }
    /usr/bin/time -f %M -o "$w/rss" bash -c "$1" >/dev/null 2>&1 </dev/null || { echo fail; return; }
    awk '{ printf "%.1f", $1 / 1024 }' "$w/rss"
}

# --- The table ------------------------------------------------------------------------------

table=()
cols() { printf '%-58s %9s %9s %9s %9s %9s  %s' "$@"; }
header() { table+=("" "== $1" "$(cols work old new theirs 'old ratio' 'new ratio' goal)"); }

# Formats a value by unit: s (microseconds shown as seconds), n or MB (as given).
show() {
    case $1 in -|fail) echo "$1"; return ;; esac
    if [ "$2" = s ]; then awk -v u="${1%\*}" -v m="${1//[0-9]/}" 'BEGIN { printf "%.3f%s", u / 1e6, m }'; else echo "$1"; fi
}
ratio() {
    case "$1 $2" in *-*|*fail*) echo -; return ;; esac
    awk -v a="${1%\*}" -v b="${2%\*}" 'BEGIN { printf "%.2f", a / b }'
}

# row LABEL UNIT OLD NEW THEIRS GOAL [OLD_BASIS NEW_BASIS]: the ratios are to theirs unless bases
# are given. Printed at once too, so a broken-off run still shows what it measured.
row() {
    local line
    line=$(cols "$1" "$(show "$3" "$2")" "$(show "$4" "$2")" "$(show "$5" "$2")" \
        "$(ratio "$3" "${7:-$5}")" "$(ratio "$4" "${8:-$5}")" "$6")
    table+=("$line")
    say "$line"
}

# --- Trees and commands ---------------------------------------------------------------------

# make_medium DIR FILES FOLDERS: a medium whose PRODUCT1 holds SETAPP and TAV, half the folders
# each, FILES small files in all.
make_medium() {
    local root=$1/PRODUCT1 n=$2 nd=$3 d f per=$(($2 / $3))
    mkdir -p "$root/SETAPP" "$root/TAV"
    for ((d = 0; d < nd; d++)); do
        local sub=$root/SETAPP/d$d
        ((d < nd / 2)) || sub=$root/TAV/d$d
        mkdir "$sub"
        for ((f = 0; f < per; f++)); do printf 'file %d %d\n' "$d" "$f" >"$sub/f$f.txt"; done
    done
    printf '[PRODUCT]\r\n1=Bench\r\n' >"$1/SETUP.INI"
    say "   made $n files in $nd folders"
}
make_big_tree() {
    mkdir -p "$1"
    for ((i = 0; i < 20; i++)); do head -c 50M /dev/urandom >"$1/big$i.bin"; done
}

# device_up PLACE: mounts the device's own filesystem at $w/mnt and sets dev to the device's root
# under it and device to the filesystem's kind; fails with device saying why there is none. Sized
# for the larger tree with its folders and the filesystem's own tables; the ext4 image lies in the
# place.
device_up() {
    local kind=$device_fs mnt=$w/mnt img=$w/device.img n=$((files > second_files ? files : second_files)) mb
    mb=$((n * 12 / 1024 + 256))
    [ "$(id -u)" -eq 0 ] || { device="needs root to mount the device"; return 1; }
    if [ -z "$kind" ]; then
        kind=ext4
        [ "$(df -PT "$1" | awk 'NR == 2 { print $2 }')" = tmpfs ] && kind=tmpfs
    fi
    if [ "$kind" = ext4 ] && { ! command -v mkfs.ext4 >/dev/null || [ ! -e /dev/loop-control ]; }; then
        say "   no loop devices or mkfs.ext4: the device is a tmpfs"
        kind=tmpfs
    fi
    mkdir -p "$mnt"
    case $kind in
    tmpfs) mount -t tmpfs -o "size=${mb}m" tmpfs "$mnt" ;;
    ext4)
        truncate -s "${mb}M" "$img" &&
            mkfs.ext4 -q -F -N $((n * 2 + 10000)) -E lazy_itable_init=0,lazy_journal_init=0 "$img" &&
            mount -o loop "$img" "$mnt" ;;
    esac || true
    # Never time the folder under a mount point that failed.
    mountpoint -q "$mnt" || { device="could not mount a $kind for the device"; return 1; }
    mounts+=("$mnt")
    dev=$mnt/dev device=$kind
}

# The device as a fresh one holds it: the two program folders, empty, and nothing of earlier runs
# left to write.
fresh_device() { echo "rm -rf '$dev'; mkdir -p '$dev/ROMDisk/PROGRAM/TAV' '$dev/ROMDisk2/PROGRAM/SETAPP'; sync"; }

# setup_cmd SETUP MEDIUM DISPLAY: a whole scripted install onto $dev. The terminal display draws on
# a pseudo-terminal of fixed size that `script` provides. A headless install that does not report
# completion fails (the program exits 0 after "Failed in copying files." too).
setup_cmd() {
    [ -n "$1" ] || return 0
    local run="WCE_ROOT='$dev' WCE_MEDIUM='$2' WCE_SCRIPT='$w/script' WCE_DISPLAY=$3 '$1'"
    if [ "$3" = terminal ]; then
        echo "script -qfec \"stty cols 100 rows 30; $run\" /dev/null"
    else
        echo "$run | grep -F 'Installation has been completed.' >/dev/null"
    fi
}
cp_install() {
    echo "cp -r '$1/PRODUCT1/SETAPP/.' '$dev/ROMDisk2/PROGRAM/SETAPP/' && cp -r '$1/PRODUCT1/TAV/.' '$dev/ROMDisk/PROGRAM/TAV/' && sync"
}
# A tool's command, or nothing when that tool was not built.
with() { [ -n "$1" ] && echo "$1 $2"; return 0; }

# --- The runs -------------------------------------------------------------------------------

bench_place() {
    local place=$1 o n t oh nh ot nt med src dst
    w=$(mktemp -d "$place/wce-bench.XXXXXX"); work+=("$w")
    say "== $place: $files files in $folders folders, best of $rounds"
    header "$place ($(df -PT "$place" | awk 'NR == 2 { print $2 }')): $files files in $folders folders, best of $rounds; whole installs: medians of $rounds"
    med=$w/medium src=$med/PRODUCT1 dst=$w/dst
    make_medium "$med" "$files" "$folders"
    printf 'click 1001\nok\nclose\n' >"$w/script"

    read -r o n t < <(best true "$(with "$old_bench" "count '$src'")" "$(with "$new_bench" "count '$src'")" \
        "find '$src' -type f -printf '%m\n' | wc -l")
    row "count of $files files vs find -printf %m" s "$o" "$n" "$t" "<= 1.2"
    if [ "$strace_on" != 0 ] && command -v strace >/dev/null; then
        row "   system calls per file" n \
            "$([ -n "$old_bench" ] && syscalls_per_file "$old_bench" count "$src" || echo -)" \
            "$(syscalls_per_file "$new_bench" count "$src")" \
            "$(syscalls_per_file find "$src" -type f -printf '%m\n')" -
    fi

    local fresh_dst="rm -rf '$dst'; mkdir '$dst'"
    read -r o n t < <(best "$fresh_dst" "$(with "$old_bench" "copy '$src' '$dst'")" \
        "$(with "$new_bench" "copy '$src' '$dst'")" "cp -r '$src/.' '$dst/'")
    row "copy of $files small files vs cp -r" s "$o" "$n" "$t" "<= 1.25"
    if [ "$strace_on" != 0 ] && command -v strace >/dev/null; then
        local so=- sn st
        if [ -n "$old_bench" ]; then eval "$fresh_dst"; so=$(syscalls_per_file "$old_bench" copy "$src" "$dst"); fi
        eval "$fresh_dst"; sn=$(syscalls_per_file "$new_bench" copy "$src" "$dst")
        eval "$fresh_dst"; st=$(syscalls_per_file cp -r "$src/." "$dst/")
        row "   system calls per file" n "$so" "$sn" "$st" -
    fi

    if [ "$big_on" != 0 ]; then
        make_big_tree "$w/big"
        read -r o n t < <(best "$fresh_dst" "$(with "$old_bench" "copy '$w/big' '$dst'")" \
            "$(with "$new_bench" "copy '$w/big' '$dst'")" "cp -r '$w/big/.' '$dst/'")
        row "copy of 20 x 50 MB vs cp -r" s "$o" "$n" "$t" "<= 1.1"
        rm -rf "$w/big"
    fi
    rm -rf "$dst"

    if ! device_up "$place"; then
        say "   whole installs skipped: $device"
        table+=("(whole installs skipped: $device)")
        cleanup
        return
    fi
    say "   the device on a $device of its own"
    table+=("(whole installs: the device on a $device of its own)")
    # Headless and terminal installs in the same turns: the display's cost is their ratio.
    read -r o n t ot nt < <(hbest "$(fresh_device)" \
        "$(setup_cmd "$old_setup" "$med" headless)" "$(setup_cmd "$new_setup" "$med" headless)" "$(cp_install "$med")" \
        "$(setup_cmd "$old_setup" "$med" terminal)" "$(setup_cmd "$new_setup" "$med" terminal)")
    oh=$o nh=$n
    row "whole install of $files files vs cp -r x2 + sync" s "$o" "$n" "$t" "<= 1.0"

    # Onto a device that already holds the files: each run leaves it so for the next.
    eval "$(fresh_device)"; timed "$(cp_install "$med")" >/dev/null
    read -r o n t < <(hbest sync "$(setup_cmd "$old_setup" "$med" headless)" "$(setup_cmd "$new_setup" "$med" headless)" \
        "$(cp_install "$med")")
    row "   second run, onto the installed files" s "$o" "$n" "$t" -

    if ((files != second_files)); then
        local med2=$w/medium2
        make_medium "$med2" "$second_files" "$((second_files / 100))"
        read -r o n t < <(hbest "$(fresh_device)" "$(setup_cmd "$old_setup" "$med2" headless)" \
            "$(setup_cmd "$new_setup" "$med2" headless)" "$(cp_install "$med2")")
        row "whole install of $second_files files vs cp -r x2 + sync" s "$o" "$n" "$t" "<= 1.0"
        rm -rf "$med2"
    fi

    row "whole install of $files files, terminal display vs headless" s "$(less "$ot" "$old_pace")" "$(less "$nt" "$new_pace")" - \
        "<= 1.10" "$oh" "$nh"

    eval "$(fresh_device)"; o=$(peak_mb "$(setup_cmd "$old_setup" "$med" headless)")
    eval "$(fresh_device)"; n=$(peak_mb "$(setup_cmd "$new_setup" "$med" headless)")
    row "peak memory (MB) of the whole install of $files files" MB "$o" "$n" - "< 32 MB"

    table+=("(terminal display: less the script's waits, old $((old_pace / 1000)) ms, new $((new_pace / 1000)) ms;" \
            " its ratios are to the headless install above)")
    cleanup
}

for place in $places; do bench_place "$place"; done
printf '%s\n' "${table[@]}" "(a best or median marked * is of the runs that did not fail; the failures are listed above)"
