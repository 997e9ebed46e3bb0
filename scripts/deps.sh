#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those that are missing.
set -euo pipefail
pkgs=(cmake ninja-build g++ clang libclang-rt-14-dev pkg-config libgtest-dev libgmock-dev
      libbenchmark-dev libncurses-dev libpng-dev libfreetype-dev libsdl2-dev
      fonts-ipafont-gothic tmux attr strace ccache hyperfine
      dosfstools fusefat ntfs-3g fuse3 python3-fusepy e2fsprogs
      libfontconfig-dev libmount-dev dpkg-dev file patchelf debootstrap scdoc man-db
      qemu-system-x86 mtools busybox-static cpio clang-format)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}" >&2
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi
# The vm tests' guest kernel (tests/vm): Debian's, unpacked outside the repository, not installed;
# without it those tests are skipped, so a failed fetch does not stop the build.
vm_cache=${WCE_VM_CACHE:-/var/cache/wce-vm}
fetch_guest_kernel() {
  local sudo="" pkg
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  pkg=$(apt-cache depends linux-image-amd64 | sed -n 's/.*Depends: \(linux-image-[0-9].*\)/\1/p' | head -n1)
  [ -n "$pkg" ] && $sudo mkdir -p "$vm_cache" && cd "$vm_cache" &&
    $sudo apt-get download -qq "$pkg" 2>/dev/null &&
    $sudo rm -rf kernel && $sudo dpkg-deb -x "$pkg"_*.deb kernel && $sudo rm -f "$pkg"_*.deb &&
    $sudo find kernel/lib/modules -name '*.ko' ! -path '*/fs/*' ! -path '*/net/9p/*' \
      ! -path '*/drivers/virtio/*' ! -path '*/drivers/block/*' -delete &&
    # Booting it uncompressed spares the guest half a minute of decompression under TCG.
    $sudo python3 -c 'import lzma, sys; d = open(sys.argv[1], "rb").read()
open(sys.argv[2], "wb").write(lzma.LZMADecompressor().decompress(d[d.find(b"\xfd7zXZ\0"):]))' \
      "$(ls kernel/boot/vmlinuz-* | head -n1)" vmlinux
}
if [ ! -f "$vm_cache/vmlinux" ]; then
  echo "fetching the guest kernel into $vm_cache" >&2
  (fetch_guest_kernel) || echo "no guest kernel: the vm tests will be skipped" >&2
fi
