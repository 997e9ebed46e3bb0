#!/usr/bin/env bash
# Times installs onto a card throttled in QEMU against cp -r + sync, in the guest (not in CI):
#   cost.sh SETUP REPOSITORY [WRITE_MBPS READ_MBPS]
# A first install onto a fresh card, then the same package again onto it, each on its own card,
# the guest's caches dropped before each. Prints a table of seconds.
set -uo pipefail
setup=$(realpath "$1")
repo=$(realpath "$2")
wmb=${3:-10} rmb=${4:-20}
source "$repo/tests/vm/vm.sh"
reason=$(vm_check) || { echo "$reason: skipped"; exit 77; }
COST_MOUNT=${COST_MOUNT-,flush}
work=$(mktemp -d /var/tmp/wce-cost.XXXXXX)
trap '[ -n "${VM_KEEP:-}" ] || rm -rf "$work"' EXIT
files=${COST_FILES:-100}
python3 "$vm_here/package.py" "$work/m" 2 "$files" 64 192

cat >"$work/guest.sh" <<GUEST
timed() {   # timed LABEL COMMAND...: seconds in the guest, caches dropped first
    local label=\$1 s e; shift
    sync; echo 3 >/proc/sys/vm/drop_caches
    s=\$(date +%s.%N); "\$@" >/tmp/err 2>&1; local st=\$?; e=\$(date +%s.%N)
    echo "row \$label \$(echo "\$e - \$s" | bc) \$st"; [ \$st = 0 ] || tail -n 2 /tmp/err
}
cpr() { cp -r $work/m/PRODUCT1/SETAPP/. \$1/ROMDisk2/PROGRAM/SETAPP/ &&
        cp -r $work/m/PRODUCT1/TAV/. \$1/ROMDisk/PROGRAM/TAV/ && sync; }
inst() { local root=\$1; shift; env "\$@" $setup --medium $work/m --root \$root --install 1; }
for d in vda vdb vdc; do mkdir -p /tmp/\$d; mount -t vfat -o utf8,shortname=mixed$COST_MOUNT /dev/\$d /tmp/\$d || exit 9; done
timed cp-first cpr /tmp/vda
timed cp-again cpr /tmp/vda
timed setup-first inst /tmp/vdb
timed setup-again inst /tmp/vdb
timed setup-noverify-first inst /tmp/vdc WCE_VERIFY=0
timed setup-noverify-again inst /tmp/vdc WCE_VERIFY=0
umount /tmp/vd?
GUEST
drives=()
for c in a b c; do
    vm_card "$work/$c.img" 64 -F 32
    drives+=("$(vm_drive "$work/$c.img" "throttling.bps-write=$((wmb * 1000000)),throttling.bps-read=$((rmb * 1000000))")")
done
VM_TIMEOUT=900 vm_run "$work" "$work/guest.sh" "${drives[@]}" || exit 1
sed -i 's/\r$//' "$work/out"
grep -v '^row' "$work/out" | grep -v '^vm: exit 0'
echo "$files files, $(du -sh "$work/m/PRODUCT1" | cut -f1), card ${wmb} MB/s write, ${rmb} MB/s read, mount utf8,shortname=mixed${COST_MOUNT:-}"
printf '%-28s %8s %8s\n' "seconds" first again
row() { awk -v l="$1" '$1 == "row" && $2 == l { printf "%.1f%s", $3, ($4 == 0 ? "" : " (status " $4 ")") }' "$work/out"; }
for t in cp:"cp -r + sync" setup:"installer" setup-noverify:"installer, WCE_VERIFY=0"; do
    printf '%-28s %8s %8s\n' "${t#*:}" "$(row ${t%%:*}-first)" "$(row ${t%%:*}-again)"
done
