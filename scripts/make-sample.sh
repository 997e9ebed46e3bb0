#!/usr/bin/env bash
# Lays out a scratch copy of the sample medium and device: scripts/make-sample.sh DIR
# Creates DIR/medium (for WCE_MEDIUM) and DIR/device (for WCE_ROOT), replacing earlier copies,
# and marks the sample's hidden files the way the device platform reads them (user.DOSATTRIB),
# since git keeps no extended attributes. The repository itself is never written.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -ne 1 ] || [ -z "$1" ]; then
  echo "usage: $0 DIR   (creates DIR/medium and DIR/device)" >&2
  exit 2
fi
dir=$(realpath -m -- "$1")
case "$dir/" in
  "$here/examples/"*) echo "$0: refusing to write inside $here/examples" >&2; exit 2 ;;
esac

mkdir -p "$dir"
rm -rf "$dir/medium" "$dir/device"
cp -R "$here/examples/medium" "$dir/medium"
cp -R "$here/examples/device" "$dir/device"

hidden=(PRODUCT1/SETAPP/Desktop.ini)
for f in "${hidden[@]}"; do
  if ! setfattr -n user.DOSATTRIB -v '"0x2"' "$dir/medium/$f" 2>/dev/null; then
    echo "$0: warning: cannot mark $f hidden (no user extended attributes on this filesystem?)" >&2
  fi
done
echo "sample medium: $dir/medium  device: $dir/device" >&2
