#!/usr/bin/env bash
# Builds the fuzzers with clang in build-fuzz and runs them.
#   scripts/fuzz.sh [SECONDS [NAME...]]      NAME: catalogue, attrib, script
# Without names, every fuzzer runs: the catalogue reader for SECONDS (default 60) and the small
# readers (attrib, script) for a quarter of that each, so that a CI run stays short; named
# fuzzers run for SECONDS each.
# Exits nonzero when a fuzzer finds a crash; every fuzzer still runs, and each crashing input is
# kept in build-fuzz/artifacts/ as NAME-crash-*.
# The seed corpora in the repository are only read: new inputs go to scratch copies.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
case "$seconds" in ''|*[!0-9]*) echo "usage: $0 [SECONDS [NAME...]]" >&2; exit 2 ;; esac
shift || true
declare -A corpus=([catalogue]=corpus [attrib]=corpus-attrib [script]=corpus-script)
names=("$@")
if [ ${#names[@]} -eq 0 ]; then names=(catalogue attrib script); fi
for name in "${names[@]}"; do
  [ -n "${corpus[$name]:-}" ] || { echo "$0: no fuzzer \"$name\" (catalogue, attrib, script)" >&2; exit 2; }
done
"$here/scripts/deps.sh"
dir=$here/build-fuzz
cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DWCE_FUZZ=ON -DWCE_SANITIZE=ON >/dev/null
cmake --build "$dir" --target "${names[@]/%/_fuzzer}"
work=$(mktemp -d "${TMPDIR:-/tmp}/wce-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$dir/artifacts"
status=0
for name in "${names[@]}"; do
  time=$seconds
  if [ $# -eq 0 ] && [ "$name" != catalogue ]; then time=$(( seconds >= 4 ? seconds / 4 : 1 )); fi
  mkdir -p "$work/$name"
  cp -R "$here/tests/fuzz/${corpus[$name]}/." "$work/$name/"
  dict=()
  if [ -f "$here/tests/fuzz/$name.dict" ]; then dict=(-dict="$here/tests/fuzz/$name.dict"); fi
  echo "== $name: $time s"
  "$dir/bin/${name}_fuzzer" -max_total_time="$time" -timeout=10 -rss_limit_mb=2048 "${dict[@]}" \
    -artifact_prefix="$dir/artifacts/$name-" -print_final_stats=1 "$work/$name" || status=1
done
exit $status
