#!/usr/bin/env bash
# Times the installer's count, copy and whole install beside find, cp -r and cp -r + sync, on
# tmpfs and on disk, runs interleaved (ours, theirs, ours, ...), best of N; prints the ratios.
#   bench/run.sh                 everything (about 25 minutes on 2 cores, most of it on disk)
#   ROUNDS=3 bench/run.sh        fewer rounds
#   BENCH_DISK=/path bench/run.sh    where the disk runs happen (default: /var/tmp)
#   STRACE=0 bench/run.sh        skip the system-call counts
#   PLACES=/dev/shm bench/run.sh only tmpfs
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD:-$here/build-bench}
rounds=${ROUNDS:-5}
disk=${BENCH_DISK:-/var/tmp}
files=${FILES:-100000}
folders=${FOLDERS:-1000}

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target install_bench SETUP >/dev/null
bench=$build/bin/install_bench
setup=$build/bin/SETUP

work=()
cleanup() { for w in "${work[@]}"; do chmod -R u+w "$w" 2>/dev/null || true; rm -rf "$w"; done; }
trap cleanup EXIT

now() { date +%s%N; }
# Runs a command, prints its wall time in seconds; output discarded.
timed() { local t0 t1; t0=$(now); "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }; t1=$(now); echo $(( (t1 - t0) / 1000 )); }
us2s() { awk -v u="$1" 'BEGIN { printf "%.3f", u / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# $1 root: 'folders' folders of files/folders small files each.
make_small_tree() {
    local root=$1 per=$((files / folders))
    mkdir -p "$root"
    (cd "$root" && for ((d = 0; d < folders; d++)); do
        mkdir "d$d"
        for ((f = 0; f < per; f++)); do printf 'file %d %d\n' "$d" "$f" > "d$d/f$f.txt"; done
    done)
}
make_big_tree() {
    mkdir -p "$1"
    for ((i = 0; i < 20; i++)); do head -c 50M /dev/urandom > "$1/big$i.bin"; done
}

# Interleaved best-of-N of two commands given as strings; each round runs $prep first (untimed).
# Prints "ours theirs" in microseconds.
best_of() {
    local ours=$1 theirs=$2 prep=${3:-true} bo=0 bt=0 t
    for ((r = 0; r < rounds; r++)); do
        eval "$prep"; t=$(timed bash -c "$ours"); ((bo == 0 || t < bo)) && bo=$t
        eval "$prep"; t=$(timed bash -c "$theirs"); ((bt == 0 || t < bt)) && bt=$t
    done
    echo "$bo $bt"
}

report() {  # label ours theirs goal
    printf '%-44s ours %8ss  theirs %8ss  ratio %5s  (goal <= %s)\n' "$1" "$(us2s "$2")" "$(us2s "$3")" "$(ratio "$2" "$3")" "$4"
}

syscalls_per_file() {  # command...
    strace -f -c -o /dev/stdout "$@" 2>/dev/null >/tmp/.wce-strace.$$ || true
    awk -v n="$files" '/total$/ { calls=$4 } END { printf "%.1f", calls / n }' /tmp/.wce-strace.$$
    rm -f /tmp/.wce-strace.$$
}

for place in ${PLACES:-/dev/shm $disk}; do
    w=$(mktemp -d "$place/wce-bench.XXXXXX"); work+=("$w")
    echo "== $place: $files files in $folders folders"
    make_small_tree "$w/small"
    make_big_tree "$w/big"

    read -r o t < <(best_of "$bench count '$w/small'" "find '$w/small' -type f -printf '%m\n' | wc -l")
    report "count (CountFiles vs find -printf %m)" "$o" "$t" 1.5
    if [ "${STRACE:-1}" != 0 ] && command -v strace >/dev/null; then
        echo "   system calls per file: ours $(syscalls_per_file "$bench" count "$w/small")," \
             "find $(syscalls_per_file find "$w/small" -type f -printf '%m\n')"
    fi

    prep="rm -rf '$w/dst'; mkdir '$w/dst'"
    read -r o t < <(best_of "$bench copy '$w/small' '$w/dst'" "cp -r '$w/small/.' '$w/dst/'" "$prep")
    report "copy $files small files (CopyTree vs cp -r)" "$o" "$t" 1.25
    if [ "${STRACE:-1}" != 0 ] && command -v strace >/dev/null; then
        eval "$prep"; so=$(syscalls_per_file "$bench" copy "$w/small" "$w/dst")
        eval "$prep"; st=$(syscalls_per_file cp -r "$w/small/." "$w/dst/")
        echo "   system calls per file: ours $so, cp $st"
    fi
    read -r o t < <(best_of "$bench copy '$w/big' '$w/dst'" "cp -r '$w/big/.' '$w/dst/'" "$prep")
    report "copy 20 x 50 MB (CopyTree vs cp -r)" "$o" "$t" 1.1
    rm -rf "$w/big" "$w/dst"

    # A whole install: PRODUCT1's SETAPP and TAV, half the files each, onto a fresh device.
    mkdir -p "$w/medium/PRODUCT1"
    mv "$w/small" "$w/medium/PRODUCT1/SETAPP"
    mkdir -p "$w/medium/PRODUCT1/TAV"
    for ((d = folders / 2; d < folders; d++)); do mv "$w/medium/PRODUCT1/SETAPP/d$d" "$w/medium/PRODUCT1/TAV/"; done
    printf '[PRODUCT]\r\n1=Bench\r\n' > "$w/medium/SETUP.INI"
    printf 'click 1001\nok\nclose\n' > "$w/script"
    prep="rm -rf '$w/dev'; mkdir -p '$w/dev/ROMDisk/PROGRAM/TAV' '$w/dev/ROMDisk2/PROGRAM/SETAPP'"
    ours="WCE_ROOT='$w/dev' WCE_MEDIUM='$w/medium' WCE_SCRIPT='$w/script' WCE_DISPLAY=headless '$setup'"
    theirs="cp -r '$w/medium/PRODUCT1/SETAPP/.' '$w/dev/ROMDisk2/PROGRAM/SETAPP/' && cp -r '$w/medium/PRODUCT1/TAV/.' '$w/dev/ROMDisk/PROGRAM/TAV/' && sync"
    read -r o t < <(best_of "$ours" "$theirs" "$prep")
    report "install $files files (SETUP vs cp -r x2 + sync)" "$o" "$t" 1.3
    cleanup; work=()
done
