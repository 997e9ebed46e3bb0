#!/usr/bin/env bash
# Every tracked C/C++ source is in the house format (.clang-format as clang-format 14 reads it);
# the files that are not are named, with the command that formats them.
# Usage: format_test.sh SOURCE_DIR
set -euo pipefail
src=$1

# EXCLUDED: folders not checked (generated or foreign sources), each with its trailing slash.
excluded=()

command -v clang-format >/dev/null ||
  { echo "skipped: clang-format is not installed (scripts/deps.sh installs it)"; exit 77; }
# Another major version lays the same sources out otherwise.
version=$(clang-format --version | sed -n 's/.*version \([0-9]*\)\..*/\1/p')
[ "$version" = 14 ] || { echo "skipped: clang-format $version, the house format is 14's"; exit 77; }
git -C "$src" rev-parse --is-inside-work-tree >/dev/null 2>&1 ||
  { echo "skipped: $src is no git checkout, so its sources cannot be listed"; exit 77; }

unformatted=()
checked=0
while IFS= read -r -d '' f; do
  for x in "${excluded[@]+"${excluded[@]}"}"; do [[ $f == "$x"* ]] && continue 2; done
  [ -f "$src/$f" ] || continue  # deleted, not yet committed
  checked=$((checked + 1))
  clang-format --dry-run --Werror "$src/$f" >/dev/null 2>&1 || unformatted+=("$f")
done < <(git -C "$src" ls-files -z -- '*.cpp' '*.h' '*.cc')

((${#excluded[@]} == 0)) || echo "note: not checked: ${excluded[*]}"
if ((${#unformatted[@]})); then
  echo "FAIL: ${#unformatted[@]} of $checked sources are not in the house format; in $src run" >&2
  echo "  clang-format -i ${unformatted[*]}" >&2
  exit 1
fi
echo "$checked sources in the house format"
