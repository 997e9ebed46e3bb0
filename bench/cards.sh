#!/usr/bin/env bash
# Times installs onto slow cards (scripts/slow-medium.sh) with hyperfine. As root.
#   1. On a card slow both ways (16 MB/s writes, 40 MB/s reads, every read reaching the card) of
#      each filesystem, a package of about 40 MB (four files of 8 MB, 400 of 20 KB): cp -r of
#      both trees plus sync, SETUP with WCE_VERIFY=0 and with WCE_VERIFY=1, in one hyperfine run
#      each onto a fresh device (FAT: a fresh card). The read-back's added time (WCE_VERIFY=1
#      less 0) is set against its floor, the package's bytes over the read rate.
#   2. Two NTFS cards, 32 and 8 MB/s writes (80 and 20 MB/s reads), each installed by its own
#      SETUP: each one's time at once over its time alone.
#   bench/cards.sh                   everything, 3 runs of each (about ten minutes; FAT the most)
#   RUNS=3 MEDIA="ext4 ntfs fat"     runs of each command; which filesystems
#   WRITE=16 READ=40                 the card's rates in MB/s (10^6 bytes)
#   TWO=0                            no two-cards part
#   REINSTALL=0                      no reinstall part
#   3. Reinstalling the unchanged package on ext4 and NTFS: against cp -r onto its own copies,
#      and the bytes the card is given (its loop device's sectors written).
#   SETUP=build/bin/SETUP            the binary to time
#   SETUP_B=/path/to/SETUP           a second installer, its two settings timed in the same rounds
#                                    as the first's (part 1)
# Part 1 interleaves: each round runs every command once onto a fresh card, the order turned by
# one each round, so a card or a machine slowing down meanwhile falls on all commands alike.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-3}
media=${MEDIA:-ext4 ntfs fat}
write=${WRITE:-16}
read=${READ:-40}
two=${TWO:-1}
reinstall=${REINSTALL:-1}
setup=$(realpath "${SETUP:-$here/build/bin/SETUP}")
setup_b=${SETUP_B:+$(realpath "$SETUP_B")}
medium=$here/scripts/slow-medium.sh
export SLOW_MEDIUM_SIZE_MB=128

say() { echo "$*" >&2; }
die() { say "cards.sh: $*"; exit 2; }
command -v hyperfine >/dev/null || die "hyperfine is not installed (scripts/deps.sh)"
[ -x "$setup" ] || die "no installer at $setup"
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || die "RUNS is a whole number above 0"

work=$(mktemp -d /dev/shm/wce-cards.XXXXXX)
cards=$(mktemp -d /var/tmp/wce-cards.XXXXXX)
cleanup() {
    for c in "$cards"/*/; do [ -d "$c" ] && "$medium" down "$c" >/dev/null 2>&1; done
    rm -rf "$work" "$cards"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The package, on tmpfs so that reading it costs next to nothing: per tree two files of 8 MB
# and 200 of 20 KB in two folders.
pkg=$work/medium
for tree in SETAPP TAV; do
    for d in 1 2; do
        mkdir -p "$pkg/PRODUCT1/$tree/d$d"
        head -c 8M /dev/urandom >"$pkg/PRODUCT1/$tree/BIG$d.DAT"
        for f in $(seq 100); do head -c 20K /dev/urandom >"$pkg/PRODUCT1/$tree/d$d/f$f.txt"; done
    done
done
printf '[PRODUCT]\r\n1=Cards\r\n' >"$pkg/SETUP.INI"
printf 'click 1001\n' >"$work/script"
bytes=$(find "$pkg/PRODUCT1" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')

# install.sh DEVICE [WCE_VERIFY] [TIME_FILE] [BINARY]: the scripted install; fails unless it
# completes; appends its seconds to TIME_FILE.
cat >"$work/install.sh" <<EOF
#!/usr/bin/env bash
t0=\$EPOCHREALTIME
env \${2:+WCE_VERIFY=\$2} WCE_DISPLAY=headless WCE_ROOT="\$1" WCE_MEDIUM='$pkg' \\
    WCE_SCRIPT='$work/script' "\${4:-$setup}" 2>/dev/null | grep -qF 'Installation has been completed.' || exit 1
[ -z "\${3:-}" ] || echo "\$t0 \$EPOCHREALTIME" | awk '{ print \$2 - \$1 }' >>"\$3"
EOF
# fresh.sh NAME UP_WORDS...: an empty device on card NAME; FAT gets a new card each time, as
# fusefat cannot be trusted to delete a large tree.
cat >"$work/fresh.sh" <<EOF
#!/usr/bin/env bash
set -e
name=\$1; shift
dir='$cards'/\$name
if [ ! -e "\$dir/mnt" ] || [[ " \$* " == *' fs=fat '* ]]; then
    '$medium' down "\$dir"
    '$medium' up "\$dir" "\$@" >/dev/null
fi
rm -rf "\$dir/mnt/device"
mkdir -p "\$dir/mnt/device/ROMDisk/PROGRAM/TAV" "\$dir/mnt/device/ROMDisk2/PROGRAM/SETAPP"
sync
EOF
chmod +x "$work/install.sh" "$work/fresh.sh"

# medians JSON...: the median of each command over hyperfine exports, in the first's order;
# median_of FILE: the median of a file's lines.
medians() {
    /usr/bin/python3 -c 'import json, statistics, sys
times = {}
for path in sys.argv[1:]:
    for r in json.load(open(path))["results"]:
        times.setdefault(r["command"], []).extend(r["times"])
print(" ".join("%.3f" % statistics.median(t) for t in times.values()))' "$@"
}
# interleave RUNS PREP OUT NAME CMD...: RUNS rounds of one run of each command, the order turned
# by one each round; exports OUT-ROUND.json.
interleave() {
    local rounds=$1 prep=$2 out=$3 r k n
    shift 3
    local -a names=() cmds=() args=()
    while [ $# -gt 0 ]; do names+=("$1"); cmds+=("$2"); shift 2; done
    n=${#names[@]}
    for ((r = 0; r < rounds; r++)); do
        args=()
        for ((k = 0; k < n; k++)); do args+=(-n "${names[(k + r) % n]}" "${cmds[(k + r) % n]}"); done
        hyperfine --runs 1 --style basic --export-json "$out-$r.json" --prepare "$prep" "${args[@]}" >&2
    done
}
median_of() { sort -n "$1" | awk '{ v[NR] = $1 } END { printf "%.3f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

say "installer: $setup${setup_b:+, B: $setup_b}; package $bytes bytes; $runs runs of each; cards $write MB/s writes, $read MB/s reads"
table=()
for fs in $media; do
    why=$("$medium" check "fs=$fs" 2>&1) || { table+=("$fs: skipped: ${why#slow-medium: }"); continue; }
    dev=$cards/$fs/mnt/device
    prep="$work/fresh.sh $fs $write fs=$fs read=$read"
    $prep
    say "== $fs"
    cmds=("cp -r + sync" "cp -r '$pkg/PRODUCT1/SETAPP/.' '$dev/ROMDisk2/PROGRAM/SETAPP/' && cp -r '$pkg/PRODUCT1/TAV/.' '$dev/ROMDisk/PROGRAM/TAV/' && sync"
          "SETUP WCE_VERIFY=0" "$work/install.sh '$dev' 0"
          "SETUP WCE_VERIFY=1" "$work/install.sh '$dev' 1")
    [ -z "$setup_b" ] || cmds+=("B WCE_VERIFY=0" "$work/install.sh '$dev' 0 '' '$setup_b'"
                                "B WCE_VERIFY=1" "$work/install.sh '$dev' 1 '' '$setup_b'")
    interleave "$runs" "$prep" "$work/$fs" "${cmds[@]}"
    read -r cp v0 v1 b0 b1 <<<"$(medians "$work/$fs"-*.json)"
    row=$(awk -v fs="$fs" -v cp="$cp" -v v0="$v0" -v v1="$v1" -v b="$bytes" -v r="$read" 'BEGIN {
        floor = b / (r * 1e6); added = v1 - v0
        printf "%-5s %9.2f %9.2f %9.2f %9.2f %8.2f %7.2f", fs, cp, v0, v1, added, floor, added / floor }')
    [ -z "$setup_b" ] || row+=$(awk -v v0="$b0" -v v1="$b1" 'BEGIN { printf " %9.2f %9.2f %9.2f", v0, v1, v1 - v0 }')
    table+=("$row")
    "$medium" down "$cards/$fs"
done

# 3. Reinstalling the same package onto its installed copy, on ext4 and NTFS: cp -r onto cp's own
# copies (+ sync) against SETUP onto SETUP's (default read-back), interleaved; and the bytes the
# card is given by one such reinstall (the loop device's sectors written, after a sync).
again=()
if [ "$reinstall" = 1 ]; then
    for fs in ext4 ntfs; do
        "$medium" check "fs=$fs" >/dev/null 2>&1 || continue
        "$work/fresh.sh" "again-$fs" "$write" "fs=$fs" "read=$read"
        dir=$cards/again-$fs
        dev=$dir/mnt/device
        mkdir -p "$dir/mnt/copies/ROMDisk2/PROGRAM/SETAPP" "$dir/mnt/copies/ROMDisk/PROGRAM/TAV"
        cpcmd="cp -r '$pkg/PRODUCT1/SETAPP/.' '$dir/mnt/copies/ROMDisk2/PROGRAM/SETAPP/' && cp -r '$pkg/PRODUCT1/TAV/.' '$dir/mnt/copies/ROMDisk/PROGRAM/TAV/' && sync"
        bash -c "$cpcmd" && "$work/install.sh" "$dev"
        say "== reinstall onto $fs"
        hyperfine --runs "$runs" --style basic --export-json "$work/again-$fs.json" \
            -n "cp -r onto its copies + sync" "$cpcmd" -n "SETUP onto its install" "$work/install.sh '$dev'" >&2
        read -r cp v1 <<<"$(medians "$work/again-$fs.json")"
        loop=$(basename "$(cat "$dir/loop")")
        sync
        before=$(awk '{ print $7 }' "/sys/block/$loop/stat")
        "$work/install.sh" "$dev" && sync
        after=$(awk '{ print $7 }' "/sys/block/$loop/stat")
        again+=("$(awk -v fs="$fs" -v cp="$cp" -v v="$v1" -v w=$(( (after - before) * 512 )) -v b="$bytes" -v r="$read" 'BEGIN {
            printf "%-5s %9.2f %9.2f %7.2f %8.2f %12d %7.1f %%", fs, cp, v, v / cp, b / (r * 1e6) / cp, w, 100 * w / b }')")
        "$medium" down "$dir"
    done
fi

pair=()
if [ "$two" = 1 ]; then
    if why=$("$medium" check fs=ntfs 2>&1); then
        fast="$work/fresh.sh fast 32 fs=ntfs read=80" slow="$work/fresh.sh slow 8 fs=ntfs read=20"
        $fast; $slow
        say "== two NTFS cards: alone, then at once"
        # Each install times itself, so that starting two costs neither figure anything.
        hyperfine --runs "$runs" --style basic \
            --prepare "$fast" -n "fast card alone" "$work/install.sh $cards/fast/mnt/device '' $work/fast.alone" \
            --prepare "$slow" -n "slow card alone" "$work/install.sh $cards/slow/mnt/device '' $work/slow.alone" >&2
        hyperfine --runs "$runs" --style basic --shell bash --prepare "$fast && $slow" \
            -n "both cards at once" "$work/install.sh $cards/fast/mnt/device '' $work/fast.at-once & f=\$!
$work/install.sh $cards/slow/mnt/device '' $work/slow.at-once & s=\$!
wait \$f && wait \$s" >&2
        fa=$(median_of "$work/fast.alone") sa=$(median_of "$work/slow.alone")
        fb=$(median_of "$work/fast.at-once") sb=$(median_of "$work/slow.at-once")
        pair+=("$(printf 'fast card (32 MB/s): %.2f s alone, %.2f s at once: %.2f' "$fa" "$fb" "$(awk -v a="$fa" -v b="$fb" 'BEGIN { print b / a }')")")
        pair+=("$(printf 'slow card ( 8 MB/s): %.2f s alone, %.2f s at once: %.2f' "$sa" "$sb" "$(awk -v a="$sa" -v b="$sb" 'BEGIN { print b / a }')")")
    else
        pair+=("two cards: skipped: ${why#slow-medium: }")
    fi
fi

echo
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) processors: medians of $runs interleaved runs;" \
     "$bytes bytes; cards $write MB/s writes, $read MB/s reads"
echo "installer $setup${setup_b:+; B $setup_b}"
printf '%-5s %9s %9s %9s %9s %8s %7s' medium 'cp+sync' VERIFY=0 VERIFY=1 added floor 'ratio'
[ -z "$setup_b" ] && echo || printf ' %9s %9s %9s\n' 'B VERIFY=0' 'B VERIFY=1' 'B added'
printf '%s\n' "${table[@]}"
echo "(seconds; added: VERIFY=1 less VERIFY=0, the read-back's time; floor: the package's bytes over the read rate)"
[ ${#pair[@]} -eq 0 ] || { echo; printf '%s\n' "${pair[@]}"; echo "(at once / alone; default WCE_VERIFY)"; }
if [ ${#again[@]} -gt 0 ]; then
    echo
    printf '%-5s %9s %9s %7s %8s %12s %9s\n' medium 'cp again' 'SETUP' ratio floor 'card given' 'of pkg'
    printf '%s\n' "${again[@]}"
    echo "(reinstall of the unchanged package; floor: the package's bytes over the read rate, against cp; card given: bytes written to the card by one reinstall)"
fi
