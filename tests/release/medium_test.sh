#!/usr/bin/env bash
# A medium made by scripts/make-medium.sh runs where none of our packages is installed: in a
# minimal Debian root (tests/release/clean_root.sh) it installs the sample's first package and
# draws the dialog with the font it carries. With --deb, the .deb of scripts/package.sh is also
# installed into a throw-away copy of that root (apt fetches its dependencies) and the installed
# SETUP, started in a copy of the sample medium, installs it.
# Slow on first use (debootstrap, a Release build), so not part of the CTest suite.
# Exits 77 with the reason where it cannot run here (not root, no network, no namespaces).
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
skip() { echo "skipped: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || skip "needs root (chroot, mounts)"
command -v unshare >/dev/null || skip "unshare is not installed"
status=0
root=$("$here/tests/release/clean_root.sh") || status=$?
[ "$status" -eq 0 ] || { [ "$status" -eq 77 ] && skip "no clean root"; fail "clean root: $status"; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/medium-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
for p in libsdl2-2.0-0 libfreetype6 libfontconfig1 libpng16-16 libncursesw6 fonts-ipafont-gothic; do
  if chroot "$root" dpkg-query -W "$p" >/dev/null 2>&1; then fail "the clean root has $p"; fi
done

# Runs a shell command in a private mount namespace with $root's /tmp and /proc fresh, so the
# kept root is never written; MEDIUM and DEVICE are bound to /mnt and /media inside it.
in_root() {
  local lower=$1 medium=$2 device=$3; shift 3
  unshare -m --propagation private sh -c '
    set -e; r=$1; shift
    mount --bind "$1" "$r/mnt"; mount --bind "$2" "$r/media"; shift 2
    mount -t tmpfs tmpfs "$r/tmp"; mount -t proc proc "$r/proc"
    exec chroot "$r" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/tmp "$@"' \
    sh "$lower" "$medium" "$device" "$@"
}

"$here/scripts/make-medium.sh" "$scratch/medium" 2>"$scratch/make.log" ||
  { cat "$scratch/make.log"; fail "make-medium.sh failed"; }
"$here/scripts/make-sample.sh" "$scratch/sample" 2>/dev/null
{ echo "screenshot /media/idle.png"; cat "$here/examples/install-first-package.txt"; } >"$scratch/medium/script.txt"
out=$(in_root "$root" "$scratch/medium" "$scratch/sample/device" \
        WCE_ROOT=/media WCE_SCRIPT=/mnt/script.txt /mnt/SETUP 2>&1) || fail "SETUP failed: $out"
grep -q 'message: SETUP: Installation has been completed.' <<<"$out" || fail "no completion: $out"
[ -f "$scratch/sample/device/ROMDisk2/PROGRAM/SETAPP/Help/Help.txt" ] ||
  fail "the sample was not installed from the medium"
[ "$(head -c 4 "$scratch/sample/device/idle.png" | tail -c 3)" = PNG ] ||
  fail "no screenshot drawn with the medium's font: $out"
echo "medium: installs in a root without our packages ($(du -sh "$scratch/medium" | cut -f1))"

# The window display from there: the bundled SDL reaches the host's X server (its abstract
# socket needs no folder in the root) and draws without any GL of the root's.
if command -v Xvfb >/dev/null; then
  Xvfb -displayfd 3 -screen 0 800x600x24 3>"$scratch/display" >/dev/null 2>&1 &
  xvfb=$!
  trap 'kill "$xvfb" 2>/dev/null; rm -rf "$scratch"' EXIT
  for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.1; done
  "$here/scripts/make-sample.sh" "$scratch/window" 2>/dev/null
  out=$(in_root "$root" "$scratch/medium" "$scratch/window/device" DISPLAY=":$(cat "$scratch/display")" \
          WCE_DISPLAY=window WCE_ROOT=/media WCE_SCRIPT=/mnt/script.txt /mnt/SETUP 2>&1) ||
    fail "SETUP in a window failed: $out"
  grep -q 'message: SETUP: Installation has been completed.' <<<"$out" && [ -s "$scratch/window/device/idle.png" ] ||
    fail "no install or screenshot in a window: $out"
  echo "medium: the window display works there too"
else
  echo "medium: window display not tried: Xvfb is not installed"
fi

[ "${1:-}" = "--deb" ] || exit 0
command -v mount >/dev/null && grep -qw overlay /proc/filesystems || skip "no overlay filesystem"
debs=("$here"/build-release/packages/*.deb)
[ -f "${debs[0]}" ] || fail "no package: run scripts/package.sh first"
# The copy of the root lives in the namespace only: an overlay whose upper layer is scratch.
mkdir -p "$scratch"/{upper,work,merged}
cp "${debs[0]}" "$scratch/medium/"
"$here/scripts/make-sample.sh" "$scratch/deb" 2>/dev/null
unshare -m --propagation private sh -c '
  set -e
  mount -t overlay overlay -o "lowerdir=$1,upperdir=$2/upper,workdir=$2/work" "$2/merged"
  cp /etc/resolv.conf "$2/merged/etc/resolv.conf"
  mount --bind "$2/medium" "$2/merged/mnt"; mount --bind "$2/deb" "$2/merged/media"
  mount -t tmpfs tmpfs "$2/merged/tmp"; mount -t proc proc "$2/merged/proc"
  chroot "$2/merged" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/tmp DEBIAN_FRONTEND=noninteractive sh -c "
    apt-get update -qq && apt-get install -y -qq --no-install-recommends /mnt/$(basename "$3") >/tmp/apt.log 2>&1 ||
      { cat /tmp/apt.log; exit 1; }
    cd /media/medium && WCE_ROOT=/media/device WCE_SCRIPT=/mnt/script.txt SETUP"' \
  sh "$root" "$scratch" "${debs[0]}" >"$scratch/deb.log" 2>&1 || fail "installed SETUP: $(cat "$scratch/deb.log")"
grep -q 'message: SETUP: Installation has been completed.' "$scratch/deb.log" ||
  fail "no completion from the installed SETUP: $(cat "$scratch/deb.log")"
[ -f "$scratch/deb/device/ROMDisk/PROGRAM/TAV/Voice/Prompts.txt" ] ||
  fail "the installed SETUP did not install the sample"
echo "package: installed with its dependencies into a copy of the root; it installs the sample"
