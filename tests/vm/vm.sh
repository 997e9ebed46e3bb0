# The rig, sourced by the vm tests: a QEMU guest (TCG) running Debian's kernel, the host's root
# shared read-only over 9p, a card image as its virtio disk. See docs/media.md.
vm_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
vm_cache=${WCE_VM_CACHE:-/var/cache/wce-vm}
vm_modules="virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci virtio_blk
  9pnet 9pnet_virtio netfs fscache 9p fat vfat nls_cp437 nls_ascii nls_utf8 nls_iso8859-1"
export MTOOLS_SKIP_CHECK=1
# The kernel unpacked (scripts/deps.sh) boots at once; decompressing it under TCG takes 30 s.
vm_kernel=$vm_cache/vmlinux
[ -f "$vm_kernel" ] || vm_kernel=$(ls "$vm_cache"/kernel/boot/vmlinuz-* 2>/dev/null | head -n1)
vm_moddir=$(ls -d "$vm_cache"/kernel/lib/modules/* 2>/dev/null | head -n1)

# Says why the rig cannot run (and fails), or nothing.
vm_check() {
    local t
    for t in qemu-system-x86_64 mcopy mattrib fsck.fat mkfs.fat cpio; do
        command -v $t >/dev/null || { echo "$t is not installed (scripts/deps.sh)"; return 1; }
    done
    [ -x /bin/busybox ] && file -L /bin/busybox | grep -q 'statically linked' ||
        { echo "busybox-static is not installed (scripts/deps.sh)"; return 1; }
    [ -n "$vm_kernel" ] && [ -n "$vm_moddir" ] ||
        { echo "no guest kernel in $vm_cache (scripts/deps.sh)"; return 1; }
}

# Makes the guest's initramfs in $1 (a folder): busybox, the modules, init.
vm_initrd() {
    local root=$1/initrd m f
    mkdir -p "$root"/{bin,proc,sys,dev,host,lib/modules}
    cp /bin/busybox "$root/bin/"
    for f in sh mount umount insmod chroot sed sync reboot cat echo; do ln -sf busybox "$root/bin/$f"; done
    for m in $vm_modules; do
        f=$(find "$vm_moddir/kernel" -name "$m.ko*" | head -n1)
        [ -n "$f" ] || { echo "vm: module $m not found in $vm_moddir" >&2; return 1; }
        cp "$f" "$root/lib/modules/$m.ko"; echo "$m"
    done >"$root/modules"
    cp "$vm_here/init" "$root/init"
    (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$1/initrd.gz"
}

# Starts the guest in the background (pid in $vm_pid): vm_start WORK SCRIPT DRIVE-OPTIONS...
# Each further argument is one -drive value; the first is the card (/dev/vda). The script (a
# host path outside /tmp, which the guest covers) runs chrooted; its output goes to WORK/out,
# and what it writes on /dev/ttyS2 to WORK/log.
vm_start() {
    local work=$1 script=$2 d args=(); shift 2
    for d in "$@"; do args+=(-drive "$d"); done
    [ -f "$work/initrd.gz" ] || vm_initrd "$work" || return 1
    : >"$work/out"; : >"$work/log"
    local bios=(); [ -f /usr/share/qemu/qboot.rom ] && bios=(-bios /usr/share/qemu/qboot.rom)
    # One vCPU: a second one slows TCG down. The kernel skips what costs seconds under TCG.
    qemu-system-x86_64 -nodefaults -no-user-config -accel tcg -cpu max -m 768 -smp 1 "${bios[@]}" \
        -display none -no-reboot -kernel "$vm_kernel" -initrd "$work/initrd.gz" \
        -append "console=ttyS0 quiet panic=-1 cryptomgr.notests mitigations=off audit=0 noresume lsm= wce.script=$script" \
        -serial "file:$work/console" -serial "file:$work/out" -serial "file:$work/log" \
        -virtfs local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap \
        "${args[@]}" </dev/null >"$work/qemu.log" 2>&1 &
    vm_pid=$!
}

# Runs the guest to its end: vm_run WORK SCRIPT DRIVE-OPTIONS...; fails if it did not finish.
vm_run() {
    vm_start "$@" || return 1
    local limit=${VM_TIMEOUT:-300} i=0
    while kill -0 $vm_pid 2>/dev/null && [ $i -lt $((limit * 10)) ]; do sleep 0.1; i=$((i + 1)); done
    if kill -0 $vm_pid 2>/dev/null; then kill -9 $vm_pid; wait $vm_pid 2>/dev/null
        echo "vm: the guest ran past ${limit} s" >&2; return 1; fi
    wait $vm_pid 2>/dev/null
    grep -q '^vm: exit' "$1/out" || { echo "vm: the guest did not finish:" >&2; tail -n 20 "$1/console" "$1/qemu.log" >&2; return 1; }
}

# The card image as one virtio drive, nothing held in QEMU: vm_drive IMAGE [MORE-OPTIONS]
vm_drive() { echo "file=$1,format=raw,if=virtio,cache=none,aio=threads${2:+,$2}"; }

# A fresh FAT card image with a fresh device's folders: vm_card IMAGE SIZE-MB [mkfs.fat options]
vm_card() {
    local img=$1 mb=$2; shift 2
    rm -f "$img"; truncate -s "${mb}M" "$img"
    mkfs.fat "$@" -n CARD "$img" >/dev/null &&
        mmd -i "$img" ::/ROMDisk ::/ROMDisk/PROGRAM ::/ROMDisk/PROGRAM/TAV \
            ::/ROMDisk2 ::/ROMDisk2/PROGRAM ::/ROMDisk2/PROGRAM/SETAPP
}

# fsck.fat's verdict on an image in a few words: clean, or "dirty" (the kernel's mark of a
# mount not undone, which is harmless) and what else it found: files it names, lost clusters.
vm_fsck() {
    local out n verdict=()
    out=$(fsck.fat -n "$1" 2>&1) && { echo clean; return 0; }
    grep -q 'Dirty bit is set' <<<"$out" && verdict+=(dirty)
    n=$(grep '^/' <<<"$out" | grep -vE ': [0-9]+ files, ' | sort -u | wc -l)
    [ "$n" = 0 ] || verdict+=("$n files damaged")
    n=$(grep -o 'Reclaimed [0-9]* unused clusters' <<<"$out" | grep -o '[0-9]*')
    [ -z "$n" ] || verdict+=("$n clusters lost")
    n=$(grep -vcE 'differences between boot sector|mostly harmless|^ *65:01/00|Not automatically fixing|Dirty bit|removing dirty bit|Free cluster summary|Auto-correcting|^/|^  (Contains a free|File size is|Truncating)|Reclaimed|Leaving filesystem|^fsck.fat|^$|: [0-9]+ files, ' <<<"$out")
    [ "$n" = 0 ] || verdict+=("$n other complaints")
    local IFS=,; echo "${verdict[*]}"
    [ "${verdict[*]}" = dirty ]
}

# The guest's line that mounts a card the way desktops do, with more options (",flush") if given:
# vm_mount_line OPTIONS [DEVICE [FOLDER]]
vm_mount_line() {
    local dir=${3:-/tmp/card}
    echo "mkdir -p $dir && mount -t vfat -o utf8,shortname=mixed$1 ${2:-/dev/vda} $dir || exit 9"
}
