#!/usr/bin/env bash
# Installs onto cards that lie and onto an honest one, on one filesystem:
#   counterfeit_medium_test.sh SETUP_BINARY REPOSITORY ext4|ntfs|fat
# A counterfeit card keeps only its first megabytes and drops the rest of what it is given; a
# dying card fails every write once 8 MB have reached it. With the default read-back both must
# end in "Failed in copying files." (status 3), naming a file (or the tree whose flush failed). Without it (WCE_VERIFY=0) the
# counterfeit card's lie passes as completion and the files read after a remount (every cache
# dropped) are wrong, which shows this test can see the lie; the honest card completes with the
# right files. Exits 77 (skipped), saying why, without root, loop devices, FUSE, python3-fusepy
# or the filesystem's tools.
set -uo pipefail

setup=$(realpath "$1")
repo=$(realpath "$2")
fs=${3:-ext4}
medium="$repo/scripts/slow-medium.sh"
export SLOW_MEDIUM_SIZE_MB=64           # what each card claims
# What the counterfeit card really keeps: past its tables (NTFS keeps a mirror and its log in
# the middle of the card), and well short of the 32 MB installed.
case $fs in ext4) real_mb=8 ;; ntfs) real_mb=36 ;; fat) real_mb=4 ;; esac

reason=$("$medium" check "fs=$fs" 2>&1) || { echo "${reason#slow-medium: }: skipped"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/wce-lie.XXXXXX")
cleanup() { "$medium" down "$work/card" >/dev/null 2>&1; rm -rf "$work"; }
trap cleanup EXIT
trap 'exit 130' INT TERM

# 32 MB in eight files, five in SETAPP and three in TAV, flat so that the device's folders
# (made before the install, in the card's real part) are the only folders written.
src=$work/medium
mkdir -p "$src/PRODUCT1/SETAPP" "$src/PRODUCT1/TAV"
printf '[PRODUCT]\r\n1=Lie\r\n' >"$src/SETUP.INI"
for i in 1 2 3 4 5 6 7 8; do
    tree=SETAPP; [ "$i" -gt 5 ] && tree=TAV
    head -c 4M /dev/urandom >"$src/PRODUCT1/$tree/FILE$i.DAT"
done
printf 'click 1001\n' >"$work/script"

# How many installed files differ from the package's (a missing one counts).
wrong_files() {
    local n=0 f dst
    for f in "$src"/PRODUCT1/SETAPP/* "$src"/PRODUCT1/TAV/*; do
        case $f in */SETAPP/*) dst=$1/ROMDisk2/PROGRAM/SETAPP ;; *) dst=$1/ROMDisk/PROGRAM/TAV ;; esac
        cmp -s "$f" "$dst/${f##*/}" || n=$((n + 1))
    done
    echo "$n"
}

# card ("up" words) | WCE_VERIFY (- unset) | message | files after remounting (- unchecked)
rows="
real=$real_mb  -  failed     -
real=$real_mb  0  completed  wrong
uncached       1  completed  right
dying=8        -  failed     -
"
fails=0
fail() { echo "FAIL $label: $*"; fails=$((fails + 1)); }
while read -r card verify want files; do
    [ -n "$card" ] || continue
    before=$fails label="$fs $card"; [ "$verify" = - ] || label+=" WCE_VERIFY=$verify"
    mnt=$("$medium" up "$work/card" 0 "fs=$fs" "$card") || { fail "no card"; continue; }
    dev=$mnt/device
    mkdir -p "$dev/ROMDisk/PROGRAM/TAV" "$dev/ROMDisk2/PROGRAM/SETAPP"
    env=(WCE_DISPLAY=headless WCE_ROOT="$dev" WCE_MEDIUM="$src" WCE_SCRIPT="$work/script")
    [ "$verify" = - ] || env+=(WCE_VERIFY="$verify")
    start=$SECONDS
    env "${env[@]}" timeout 120 "$setup" >"$work/out" 2>"$work/err"
    status=$?
    got=none
    grep -qF 'Installation has been completed.' "$work/out" && got=completed
    grep -qF 'Failed in copying files.' "$work/out" && got=failed
    line="$label: $got (status $status) in $((SECONDS - start)) s"
    [ "$got" = "$want" ] || fail "reported $got, not $want"
    case $want in
    failed) [ "$status" = 3 ] || fail "exit status $status, not 3"
            # A flush's error can only name the tree it flushed.
            grep -qE 'FILE[0-9]\.DAT|PROGRAM\\(SETAPP|TAV)' "$work/err" ||
                fail "neither a file nor a tree named on standard error" ;;
    *) [ "$status" = 0 ] || fail "exit status $status, not 0" ;;
    esac
    if [ "$files" != - ]; then
        # The host may still cache what was written: only a remount shows what the card kept.
        cached=$(wrong_files "$dev")
        "$medium" remount "$work/card" >/dev/null || fail "could not remount"
        kept=$(wrong_files "$dev")
        line+="; files wrong before remounting $cached, after $kept of 8"
        case $files in
        right) [ "$kept" = 0 ] || fail "$kept files wrong on an honest card" ;;
        wrong) [ "$kept" -gt 0 ] || fail "the card's lie went unseen: every file read back right" ;;
        esac
    fi
    echo "$line"
    [ "$fails" = "$before" ] || grep -v '^progress:' "$work/err" | sed 's/^/  stderr: /' | head -n 5
    "$medium" down "$work/card"
done <<<"$rows"
exit $((fails > 0))
