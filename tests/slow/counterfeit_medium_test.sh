#!/usr/bin/env bash
# Installs onto a counterfeit card (it keeps only its first REAL_MB megabytes and drops the rest
# of what it is given) and onto an honest one, and reads the files back after remounting:
#   counterfeit_medium_test.sh SETUP_BINARY REPOSITORY verified|unverified
# "verified": read-back verification must turn the lie into "Failed in copying files." and keep
# honest installs complete; skipped where the binary has no WCE_VERIFY. "unverified": without
# verification the lie passes as completion and the remounted files are wrong, which shows this
# test can see it; the honest card completes with the right files. Exits 77 (skipped), saying
# why, without root, loop devices, FUSE or python3-fusepy.
set -uo pipefail

setup=$(realpath "$1")
repo=$(realpath "$2")
group=${3:-unverified}
medium="$repo/scripts/slow-medium.sh"
real_mb=8                               # the card's tables fill its first 5 MB
export SLOW_MEDIUM_SIZE_MB=64           # what it claims

reason=$("$medium" check 2>&1) || { echo "${reason#slow-medium: }: skipped"; exit 77; }
if [ "$group" = verified ] && ! grep -qF WCE_VERIFY "$setup"; then
    echo "read-back verification not built: skipped"
    exit 77
fi

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

# name | group | card | WCE_VERIFY (- unset) | message | files after remounting (- unchecked)
rows='
lie-default  verified    lie     -  failed     -
lie-on       verified    lie     1  failed     -
honest-on    verified    honest  1  completed  right
lie-off      unverified  lie     0  completed  wrong
honest       unverified  honest  -  completed  right
'
fails=0
fail() { echo "FAIL $name: $*"; fails=$((fails + 1)); }
while read -r name row_group card verify want files; do
    [ -n "$name" ] && [ "$row_group" = "$group" ] || continue
    # Both cards are uncached: every read after a remount reaches what the card kept.
    kind=uncached; [ "$card" = lie ] && kind=real=$real_mb
    mnt=$("$medium" up "$work/card" 0 "$kind") || { fail "no card"; continue; }
    dev=$mnt/device
    mkdir -p "$dev/ROMDisk/PROGRAM/TAV" "$dev/ROMDisk2/PROGRAM/SETAPP"
    env=(WCE_DISPLAY=headless WCE_ROOT="$dev" WCE_MEDIUM="$src" WCE_SCRIPT="$work/script")
    [ "$verify" = - ] || env+=(WCE_VERIFY="$verify")
    start=$SECONDS
    env "${env[@]}" timeout 60 "$setup" >"$work/out" 2>"$work/err"
    got=none
    grep -qF 'Installation has been completed.' "$work/out" && got=completed
    grep -qF 'Failed in copying files.' "$work/out" && got=failed
    [ "$got" = "$want" ] || fail "reported $got, not $want"
    # A failed install names the file that differs.
    if [ "$want" = failed ] && ! grep -qE 'FILE[0-9]\.DAT' "$work/err"; then
        fail "no differing file named on standard error"
    fi
    # The page cache still holds what was written: only a remount shows what the card kept.
    cached=$(wrong_files "$dev")
    umount "$mnt" && mount "$(cat "$work/card/loop")" "$mnt" || fail "could not remount"
    kept=$(wrong_files "$dev")
    echo "$name: $got in $((SECONDS - start)) s; files wrong before remounting $cached, after $kept of 8"
    case $files in
    right) [ "$kept" = 0 ] || fail "$kept files wrong on an honest card" ;;
    wrong) [ "$cached" = 0 ] || fail "$cached files wrong before remounting"
           [ "$kept" -gt 0 ] || fail "the card's lie went unseen: every file read back right" ;;
    esac
    "$medium" down "$work/card"
done <<<"$rows"
exit $((fails > 0))
