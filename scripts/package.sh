#!/usr/bin/env bash
# Builds the release packages, a .deb and a .tar.gz: scripts/package.sh [OUTDIR]
# Uses its own Release tree in build-release/; OUTDIR defaults to build-release/packages.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
tree=$here/build-release
out=$(realpath -m -- "${1:-$tree/packages}")
"$here/scripts/deps.sh"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=$here CCACHE_NOHASHDIR=1
fi
# Only the program goes into the packages, so the tests need not be built for them.
cmake -S "$here" -B "$tree" -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$tree" --target SETUP -j2
mkdir -p "$out"
(cd "$tree" && cpack -B "$out" >/dev/null)
rm -rf "$out/_CPack_Packages"
ls "$out"/*.deb "$out"/*.tar.gz
