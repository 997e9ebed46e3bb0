#!/usr/bin/env bash
# Pulls the card (kills the guest dead) at points spread over an install onto the kernel's vfat,
# then sorts every file on the card as new, old or lost, and asks fsck.fat for its verdict:
#   pull.sh SETUP REPOSITORY [ci|full]
# ci: the installer on a "flush" mount, 4 points; fails unless every point loses nothing and the
# next install completes with every file new. full: 11 points each for the installer and for
# cp -r + sync, with and without "flush"; prints the table (docs/media.md). Exits 77 (skipped),
# saying why, without QEMU, the guest kernel or mtools.
set -uo pipefail
setup=$(realpath "$1")
repo=$(realpath "$2")
mode=${3:-full}
source "$repo/tests/vm/vm.sh"
reason=$(vm_check) || { echo "$reason: skipped"; exit 77; }

if [ "$mode" = ci ]; then files=${PULL_FILES:-120} lo=16 hi=48
else files=${PULL_FILES:-300} lo=16 hi=64; fi
work=$(mktemp -d /var/tmp/wce-pull.XXXXXX)
vm_pid=
trap '[ -n "$vm_pid" ] && kill -9 $vm_pid 2>/dev/null; [ -n "${VM_KEEP:-}" ] || rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
python3 "$vm_here/package.py" "$work/old" 1 "$files" $lo $hi
python3 "$vm_here/package.py" "$work/new" 2 "$files" $lo $hi

# A card holding the package's older version.
old_card() {
    vm_card "$1" 64 -F 32 &&
        mcopy -s -m -i "$1" "$work"/old/PRODUCT1/SETAPP/* ::/ROMDisk2/PROGRAM/SETAPP/ &&
        mcopy -s -m -i "$1" "$work"/old/PRODUCT1/TAV/* ::/ROMDisk/PROGRAM/TAV/
}

# The guest's script: WORK/guest.sh TOOL OPTIONS CARD-DEVICE PREVIOUS-DEVICE (- for none). The
# previous card (pulled in the boot before) gets the next install first; then the card is
# installed onto while each finished file is logged on ttyS2, until the host pulls it.
guest_script() {
    cat >"$work/guest.sh" <<GUEST
run() {
    if [ $1 = setup ]; then
        WCE_LOG=\$2 $setup --medium $work/new --root \$1 --install 1 >/tmp/out 2>&1
    else
        cp -rv $work/new/PRODUCT1/SETAPP/. \$1/ROMDisk2/PROGRAM/SETAPP/ >>\$2 &&
            cp -rv $work/new/PRODUCT1/TAV/. \$1/ROMDisk/PROGRAM/TAV/ >>\$2 && sync
    fi
}
if [ $4 != - ]; then
    $(vm_mount_line "$2" $4 /tmp/prev)
    run /tmp/prev /tmp/prev.log; echo "next install: status \$?"; tail -n 3 /tmp/out
    umount /tmp/prev
fi
[ $3 != - ] || exit 0
$(vm_mount_line "$2" $3)
: >/tmp/log; tail -n +1 -f /tmp/log >/dev/ttyS2 &
run /tmp/card /tmp/log; echo "finished: status \$?"
sync; sleep 1
GUEST
}

# Reads the card's files and prints: new old lost temporaries fsck-verdict.
survey() {
    fsck.fat -n "$1" >"$work/fsck.log" 2>&1
    echo "$(python3 "$vm_here/compare.py" "$work/new" "$work/old" "$1" "$work/fsck.log") $(vm_fsck "$1" | tr ' ' '_')"
}

# Installs (or copies) and pulls the card once the k-th file is logged: pull TOOL OPTIONS K IMAGE PREV
pull() {
    local tool=$1 opts=$2 k=$3 img=$4 prev=$5 drives=() pattern='^(file|same) '
    [ "$tool" = cp ] && pattern="\\.dat'"   # cp -v's line; the tty ends it in CR LF
    old_card "$img" || return 1
    drives=("$(vm_drive "$img")")
    [ "$prev" != - ] && drives+=("$(vm_drive "$prev")")
    guest_script $tool "$opts" /dev/vda "$([ "$prev" != - ] && echo /dev/vdb || echo -)"
    vm_start "$work" "$work/guest.sh" "${drives[@]}" || return 1
    local n=0 end=$((SECONDS + 240))
    while kill -0 $vm_pid 2>/dev/null && [ $SECONDS -lt $end ]; do
        n=$(grep -cE "$pattern" "$work/log")
        [ "$n" -ge "$k" ] && break
        sleep 0.02
    done
    kill -9 $vm_pid 2>/dev/null; wait $vm_pid 2>/dev/null; vm_pid=
    logged=$n
    grep -q finished "$work/out" && logged="$n(done)"
    return 0
}

fails=0
next_check() {   # the previous boot's next install onto the card pulled before it
    local verdict
    verdict=$(grep -o 'next install: status [0-9]*' "$work/out" | grep -o '[0-9]*$')
    read -r nn no nl nt nf <<<"$(survey "$1")"
    next="status ${verdict:-none}, $nn new, fsck $nf"
    # Clusters a pull left allocated to nothing stay lost until fsck; files must all be sound.
    [ "${verdict:-x}" = 0 ] && [ "$nn" = "$files" ] && [[ $nf != *files_damaged* && $nf != *other* ]] ||
        { echo "FAIL: the install after a pull did not repair the card: $next"; fails=$((fails + 1)); }
}

echo "$files files, $(du -sh "$work/new" | cut -f1) (new), $(du -sh "$work/old" | cut -f1) (old)"
printf '%-6s %-8s %5s %8s %4s %4s %5s %4s  %s\n' tool mount point logged new old lost tmp fsck
for tool in ${PULL_TOOLS:-setup cp}; do
    [ "$mode" = ci ] && [ $tool = cp ] && continue
    for opts in ,flush ""; do
        [ "$mode" = ci ] && [ -z "$opts" ] && continue
        if [ -n "${PULL_AT:-}" ]; then ks=$PULL_AT
        elif [ "$mode" = ci ]; then ks="$((files / 5)) $((files * 2 / 5)) $((files * 3 / 5)) $((files * 4 / 5))"
        else ks="1 $(for i in 1 2 3 4 5 6 7 8 9; do echo $((files * i / 10)); done) $files"; fi
        prev=- label=${opts:+flush}; label=${label:-noflush}
        for k in $ks; do
            img=$work/card-$k.img
            pull $tool "$opts" "$k" "$img" "$prev" || { echo "FAIL: no guest"; exit 1; }
            [ "$prev" != - ] && { next_check "$prev"; echo "  next install onto the card pulled before: $next"; rm -f "$prev"; }
            read -r nn no nl nt nf <<<"$(survey "$img")"
            printf '%-6s %-8s %5s %8s %4s %4s %5s %4s  %s\n' $tool "$label" "$k" "$logged" "$nn" "$no" "$nl" "$nt" "${nf//_/ }"
            [ "$tool" = setup ] && [ "$nl" != 0 ] && { echo "FAIL: pulled after $k files: $nl lost"; fails=$((fails + 1)); }
            [ $tool = setup ] && prev=$img
        done
        if [ "$prev" != - ]; then   # the last pulled card's next install, alone
            guest_script setup "$opts" - /dev/vda
            vm_run "$work" "$work/guest.sh" "$(vm_drive "$prev")" && next_check "$prev"
            echo "  next install onto the card pulled last: ${next:-no guest}"
        fi
    done
done
[ "$fails" = 0 ] || { echo "$fails failure(s)"; exit 1; }
