#!/usr/bin/env bash
# Makes the README's pictures of the dialog: idle, mid-copy and with its result message.
# Runs the real program headless on a scratch copy of the sample medium and device, with a
# script of `screenshot` actions; writes docs/dialog-idle.png, docs/dialog-copying.png and
# docs/dialog-result.png. The repository is not written apart from docs/ and the build tree
# (WCE_BUILD, default build/).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${WCE_BUILD:-$here/build}
"$here/scripts/deps.sh" >&2
cmake -S "$here" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target SETUP >&2
scratch=$(mktemp -d "${TMPDIR:-/tmp}/wce-shots.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
"$here/scripts/make-sample.sh" "$scratch" >&2
mkdir -p "$here/docs"
cat >"$scratch/shots.txt" <<SCRIPT
screenshot $here/docs/dialog-idle.png
select 1
click 1001
screenshot $here/docs/dialog-result.png
screenshot-below-message $here/docs/dialog-copying.png
ok
close
SCRIPT
WCE_DISPLAY=headless WCE_SCRIPT="$scratch/shots.txt" \
  WCE_ROOT="$scratch/device" WCE_MEDIUM="$scratch/medium" "$build/bin/SETUP"
ls -l "$here"/docs/dialog-*.png >&2
