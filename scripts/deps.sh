#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those that are missing.
set -euo pipefail
pkgs=(cmake ninja-build g++ clang libclang-rt-14-dev pkg-config libgtest-dev libgmock-dev
      libbenchmark-dev libncurses-dev libpng-dev libfreetype-dev libsdl2-dev
      fonts-ipafont-gothic tmux attr strace ccache hyperfine
      dosfstools fusefat ntfs-3g fuse3 python3-fusepy e2fsprogs
      libfontconfig-dev libmount-dev dpkg-dev file patchelf debootstrap scdoc man-db)
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
