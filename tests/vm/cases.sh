#!/usr/bin/env bash
# Installs onto the kernel's vfat in one guest, one card image per case, and checks each card
# from outside with fsck.fat and mtools: cases.sh SETUP REPOSITORY
# Exits 77 (skipped), saying why, without QEMU, the guest kernel or mtools.
set -uo pipefail
setup=$(realpath "$1")
repo=$(realpath "$2")
source "$repo/tests/vm/vm.sh"
reason=$(vm_check) || { echo "$reason: skipped"; exit 77; }
work=$(mktemp -d /var/tmp/wce-cases.XXXXXX)
trap '[ -n "${VM_KEEP:-}" ] || rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8

# Media: the sample (hidden Desktop.ini), one with attributes to set and reset, one with names
# equal but for case, and one whose packages hold names FAT cannot store (keys 2, 3) or can (1).
"$repo/scripts/make-sample.sh" "$work/sample" 2>/dev/null
medium() {   # medium DIR KEY FILE... (paths under PRODUCT<KEY>, each holding its own name)
    local dir=$1 key=$2 f; shift 2
    mkdir -p "$dir/PRODUCT$key/SETAPP" "$dir/PRODUCT$key/TAV"
    printf '%s=P%s\r\n' "$key" "$key" >>"$dir/keys"
    printf '[PRODUCT]\r\n%s' "$(cat "$dir/keys")" >"$dir/SETUP.INI"
    for f in "$@"; do mkdir -p "$(dirname "$dir/PRODUCT$key/$f")"; echo "new $f" >"$dir/PRODUCT$key/$f"; done
}
medium "$work/attrs" 1 SETAPP/Lang.txt SETAPP/Desktop.ini SETAPP/Locked.txt TAV/Messages.txt
setfattr -n user.DOSATTRIB -v '"0x2"' "$work/attrs/PRODUCT1/SETAPP/Desktop.ini"
chmod a-w "$work/attrs/PRODUCT1/SETAPP/Locked.txt"
medium "$work/case" 1 SETAPP/Readme.txt SETAPP/README.TXT TAV/Messages.txt
medium "$work/names" 1 'SETAPP/Ωmega.txt' 'SETAPP/日本語.txt' 'TAV/😀.txt'
medium "$work/names" 2 SETAPP/First.txt "$(printf 'SETAPP/caf\xe9.txt')"
medium "$work/names" 3 SETAPP/First.txt 'SETAPP/a:b.txt'
medium "$work/full" 1
for i in 1 2 3 4; do head -c 300K /dev/urandom >"$work/full/PRODUCT1/SETAPP/Big$i.dat"; done

# Cards: vda sample, vdb attributes (older files marked on the card), vdc case, vdd names,
# vde a card too small, vdf a card whose every write fails.
for c in sample attrs case names; do vm_card "$work/$c.img" 8; done
vm_card "$work/full.img" 1
vm_card "$work/dying.img" 8
printf 'old\r\n' >"$work/oldfile"
for f in ROMDisk2/PROGRAM/SETAPP/Lang.txt ROMDisk2/PROGRAM/SETAPP/Desktop.ini ROMDisk/PROGRAM/TAV/Messages.txt; do
    mcopy -i "$work/attrs.img" "$work/oldfile" "::/$f"
done
mattrib -i "$work/attrs.img" +r ::/ROMDisk2/PROGRAM/SETAPP/Lang.txt
mattrib -i "$work/attrs.img" +h +s ::/ROMDisk/PROGRAM/TAV/Messages.txt
printf '[inject-error]\nevent = "pwritev"\niotype = "write"\nerrno = "5"\n' >"$work/blkdebug.conf"

run="WCE_LOG=/tmp/log $setup --install"
cat >"$work/guest.sh" <<GUEST
report() { echo "case \$1: status \$2"; sed 's/^/  /' /tmp/err; }
inst() { # inst CASE DEVICE MEDIUM KEY [env...]: onto /tmp/DEVICE, mounted once
    local c=\$1 d=/tmp/\${2#/dev/} m=\$3 k=\$4; shift 4
    mountpoint -q \$d || { mkdir -p \$d && mount -t vfat -o utf8,shortname=mixed,flush /dev/\${d#/tmp/} \$d; } ||
        { echo "case \$c: no mount"; return; }
    env "\$@" $setup --medium \$m --root \$d --install \$k >/tmp/err 2>&1; report \$c \$?
}
inst sample /dev/vda $work/sample/medium 1
inst attrs /dev/vdb $work/attrs 1
inst case /dev/vdc $work/case 1
for k in 1 2 3; do inst names\$k /dev/vdd $work/names \$k; done
LC_ALL=C.UTF-8 ls --quoting-style=literal /tmp/vdd/ROMDisk/PROGRAM/TAV
inst full /dev/vde $work/full 1
inst dying /dev/vdf $work/full 1
# The read-back: a file the page cache still holds right, changed on the card beneath it.
cat /tmp/vda/ROMDisk2/PROGRAM/SETAPP/Lang.txt >/dev/null
block=\$(python3 -c 'import fcntl, struct, sys; print(struct.unpack("i", fcntl.ioctl(open(sys.argv[1]), 1, struct.pack("i", 0)))[0])' /tmp/vda/ROMDisk2/PROGRAM/SETAPP/Lang.txt)
[ "\$block" -gt 0 ] && head -c 512 /dev/zero | tr '\\0' X | dd of=/dev/vda bs=512 seek=\$block oflag=direct conv=notrunc 2>/dev/null
echo "underneath: block \$block, cached: \$(head -c 8 /tmp/vda/ROMDisk2/PROGRAM/SETAPP/Lang.txt)"
: >/tmp/log
inst readback /dev/vda $work/sample/medium 1 WCE_VERIFY=1 WCE_LOG=/tmp/log
sed 's/^/  log: /' /tmp/log
umount /tmp/vd?
GUEST
VM_TIMEOUT=240 vm_run "$work" "$work/guest.sh" "$(vm_drive "$work/sample.img")" \
    "$(vm_drive "$work/attrs.img")" "$(vm_drive "$work/case.img")" "$(vm_drive "$work/names.img")" \
    "$(vm_drive "$work/full.img")" \
    "file=blkdebug:$work/blkdebug.conf:$work/dying.img,format=raw,if=virtio,cache=none" ||
    { echo "FAIL: the guest did not finish"; exit 1; }
sed -i 's/\r$//' "$work/out"   # the guest's tty ends lines in CR LF
cat "$work/out"

fails=0
fail() { echo "FAIL $*"; fails=$((fails + 1)); }
status() { grep -aq "^case $1: status $2\$" "$work/out" || fail "$1: not status $2"; }
says() { grep -aA20 "^case $1:" "$work/out" | grep -aq -- "$2" || fail "$1: does not say \"$2\""; }
attrs() {   # attrs IMAGE PATH LETTERS: mattrib's letters (A archive, R, S, H) as wanted
    local got; got=$(mattrib -i "$1" "::/$2" | cut -c1-8 | tr -d ' ')
    [ "$got" = "$3" ] || fail "${1##*/} $2: attributes \"$got\", not \"$3\""
}
content() { [ "$(mtype -i "$1" "::/$2")" = "$3" ] || fail "${1##*/} $2: not \"$3\""; }
for c in sample attrs case names full dying; do
    v=$(vm_fsck "$work/$c.img") || fail "$c: fsck.fat: $v"
    mdir -/ -a -i "$work/$c.img" ::/ | grep -q '\.wce-copy-' && fail "$c: a temporary is left"
done
S=ROMDisk2/PROGRAM/SETAPP T=ROMDisk/PROGRAM/TAV

# The sample: the hidden bit, long names, times to the 2-second grain, the dot folder left out.
status sample 0
attrs "$work/sample.img" $S/Desktop.ini AH
attrs "$work/sample.img" $S/Lang.txt A
mdir -i "$work/sample.img" ::/$T | grep -q 'Messages.txt' || fail "sample: no long name Messages.txt"
mdir -i "$work/sample.img" ::/$T/.svn >/dev/null 2>&1 && fail "sample: the .svn folder was installed"
want=$(( $(stat -c %Y "$work/sample/medium/PRODUCT1/TAV/Messages.txt") / 2 * 2 ))
TZ=UTC mcopy -m -i "$work/sample.img" ::/$T/Messages.txt "$work/m.txt"
[ "$(stat -c %Y "$work/m.txt")" = "$want" ] || fail "sample: Messages.txt dated $(stat -c %y "$work/m.txt")"

# Attributes set and reset over older, marked files; a read-only package file stays read-only.
status attrs 0
attrs "$work/attrs.img" $S/Lang.txt A
content "$work/attrs.img" $S/Lang.txt "new SETAPP/Lang.txt"
attrs "$work/attrs.img" $S/Desktop.ini AH
attrs "$work/attrs.img" $S/Locked.txt AR
attrs "$work/attrs.img" $T/Messages.txt A
content "$work/attrs.img" $T/Messages.txt "new TAV/Messages.txt"

# Names equal but for case fail before anything is copied.
status case 3
says case 'differs only in case'
mdir -i "$work/case.img" ::/$S 2>/dev/null | grep -qi 'readme' && fail "case: a file was copied"

# Names: any Unicode is kept; a name that is no text, or holds ':', fails and leaves nothing.
status names1 0
for f in $S/Ωmega.txt $S/日本語.txt; do content "$work/names.img" "$f" "new ${f#*PROGRAM/}"; done
grep -qx '😀.txt' "$work/out" || fail "names: no 😀.txt in the guest's listing"   # mtools shows it as __.txt
status names2 3; says names2 'caf'
status names3 3; says names3 'a:b.txt'
mdir -/ -b -i "$work/names.img" ::/ | grep -q 'caf\|a:b' && fail "names: an unstorable name left a file"

# A full card and a card that fails every write: the install fails, saying why.
status full 3; says full 'No space left on device\|bytes free and the package needs'
status dying 3; says dying 'Failed in copying files.'

# The read-back reads the card, not the page cache: the changed file is written again.
status readback 0
grep -aq '  log: file .*SETAPP\\Lang.txt' "$work/out" || fail "readback: Lang.txt not written again"
grep -aq '  log: same .*TAV\\Messages.txt' "$work/out" || fail "readback: Messages.txt not read and kept"
content "$work/sample.img" $S/Lang.txt "$(cat "$work/sample/medium/PRODUCT1/SETAPP/Lang.txt")"

[ "$fails" = 0 ] || { echo "$fails failure(s)"; exit 1; }
echo "all cases passed"
