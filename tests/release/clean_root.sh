#!/usr/bin/env bash
# Prints the path of a minimal Debian root that holds none of our packages, making it on first
# use (debootstrap, network) and keeping it for later runs: tests/release/clean_root.sh
# Exits 77 with the reason on stderr where such a root cannot be made here.
set -euo pipefail
cache=${WCE_CLEAN_ROOT_CACHE:-/var/cache/wce-release}
suite=${WCE_CLEAN_ROOT_SUITE:-bookworm}
mirror=${WCE_CLEAN_ROOT_MIRROR:-http://deb.debian.org/debian}
root=$cache/$suite-minbase
skip() { echo "clean root: $*" >&2; exit 77; }

[ "$(id -u)" -eq 0 ] || skip "needs root (debootstrap and chroot)"
command -v debootstrap >/dev/null || skip "debootstrap is not installed"
# The stamp is written last, so a root cut short is made again rather than used half-made.
if [ -f "$root/.complete" ]; then echo "$root"; exit 0; fi
mkdir -p "$cache" || skip "cannot write $cache"
rm -rf "$root.partial"
log=$cache/$suite-minbase.log
echo "clean root: making $root with debootstrap (a few minutes, once)" >&2
if ! debootstrap --variant=minbase "$suite" "$root.partial" "$mirror" >"$log" 2>&1; then
  rm -rf "$root.partial"
  skip "debootstrap $suite from $mirror failed (no network?); see $log"
fi
rm -rf "$root"
mv "$root.partial" "$root"
touch "$root/.complete"
echo "$root"
