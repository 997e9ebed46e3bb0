#!/usr/bin/env bash
# Configures and builds one build tree: scripts/build.sh [DIR] [extra cmake args...]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$here/build}; shift || true
"$here/scripts/deps.sh"
# ccache, where present, lets several build trees share compiled objects.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=$here CCACHE_NOHASHDIR=1
fi
cmake -S "$here" -B "$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
cmake --build "$dir"
