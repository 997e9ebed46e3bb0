#!/usr/bin/env bash
# Builds the catalogue fuzzer with clang in build-fuzz and runs it for SECONDS (default 60).
#   scripts/fuzz.sh [SECONDS]
# Exits nonzero when the fuzzer finds a crash; the crashing input is kept in build-fuzz/artifacts/.
# The seed corpus in the repository is only read: new inputs go to a scratch copy.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
case "$seconds" in ''|*[!0-9]*) echo "usage: $0 [SECONDS]" >&2; exit 2 ;; esac
"$here/scripts/deps.sh"
dir=$here/build-fuzz
cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DWCE_FUZZ=ON -DWCE_SANITIZE=ON >/dev/null
cmake --build "$dir" --target catalogue_fuzzer
work=$(mktemp -d "${TMPDIR:-/tmp}/catalogue-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp -R "$here/tests/fuzz/corpus/." "$work/"
mkdir -p "$dir/artifacts"
"$dir/bin/catalogue_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -dict="$here/tests/fuzz/catalogue.dict" -artifact_prefix="$dir/artifacts/" -print_final_stats=1 \
  "$work"
