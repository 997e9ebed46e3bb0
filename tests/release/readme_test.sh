#!/usr/bin/env bash
# Tries every command of the README's code blocks (and docs/media.md's), so the README cannot
# drift. They run in a scratch checkout whose sources are the tree's (linked) and whose
# build/ is BUILD_DIR; cmake and ctest there only log, so the two commands are tried without a
# second build or suite. Commands too slow for CI (packages, a slow card) are checked for their
# documented form; the card-image recipes run in the "card" mode (root and FUSE). The settings
# the README and the manual page list are the ones the code reads.
# Usage: readme_test.sh BUILD_DIR SOURCE_DIR [card]
set -euo pipefail
build=$(realpath "$1") src=$(realpath "$2") mode=${3:-commands}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/readme-test.XXXXXX") co=
trap 'mountpoint -q "$co/card" && fusermount -u -z "$co/card"; rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
co=$scratch/checkout
mkdir -p "$co" "$scratch/bin"
for d in scripts examples tests bench; do ln -s "$src/$d" "$co/$d"; done
ln -s "$build" "$co/build"
for tool in cmake ctest; do
  printf '#!/bin/sh\necho "%s $*" >>"%s/tool.log"\n' "$tool" "$scratch" >"$scratch/bin/$tool"
  chmod +x "$scratch/bin/$tool"
done
# Runs a shell command as a fresh shell in the checkout would: no display, no terminal, none of
# our settings but those given.
inCheckout() {
  local cmd=$1; shift
  (cd "$co" && env -u DISPLAY -u WAYLAND_DISPLAY -u WCE_SCRIPT -u WCE_ROOT -u WCE_MEDIUM \
     -u WCE_DISPLAY WCE_SCRATCH="$scratch/sample" PATH="$scratch/bin:$PATH" "$@" \
     bash -euo pipefail -c "$cmd" </dev/null)
}

# Every line of every block as "FILE BLOCK LANG<TAB>LINE", a trailing "# comment" dropped.
blocks=$(for f in README.md docs/media.md; do
  awk -v f="$f" '/^```/ { open = !open; if (open) { lang = substr($0, 4); n++ }; next }
    open && NF { sub(/ +# .*$/, ""); printf "%s %d %s\t%s\n", f, n, lang, $0 }' "$src/$f"; done)
block() { awk -F'\t' -v k="$1" '$1 == k { sub(/^[^\t]*\t/, ""); print }' <<<"$blocks"; }
keys() { awk -F'\t' -v re="$1" '$1 ~ re && !seen[$1]++ { print $1 }' <<<"$blocks"; }
[ "$(block 'README.md 1 sh')" = $'scripts/run.sh\nscripts/test.sh' ] ||
  fail "the README no longer opens with the two commands: $(block 'README.md 1 sh')"

if [ "$mode" = card ]; then
  [ -w /dev/fuse ] || { echo "skipped: no access to /dev/fuse"; exit 77; }
  for tool in mkfs.fat fusefat fsck.fat mkntfs ntfs-3g ntfsls fusermount; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
  done
  # A recipe as written; the sample's script stands for the technician at the dialog.
  recipe() {
    local key; key=$(awk -F'\t' -v f="$1" 'index($1, f " ") == 1 && $2 ~ /^truncate / { print $1 }' <<<"$blocks")
    rm -rf "$co/card.img" "$co/card" "$co/sample"
    out=$(inCheckout "$(block "$key")" WCE_SCRIPT=examples/install-first-package.txt 2>&1) &&
      grep -q 'Installation has been completed' <<<"$out" || fail "the card-image recipe of $1: $out"
  }
  # A driver may still be writing the image for a moment after its unmount returns.
  eventually() { for _ in $(seq 50); do "$@" && return 0; sleep 0.1; done; return 1; }
  fatHolds() { grep -q "^Checking file $1\( (\|\$\)" <<<"$(fsck.fat -n -l "$co/card.img")"; }
  ntfsHolds() { grep -qx "${1##*/}" <<<"$(ntfsls -p "${1%/*}" "$co/card.img")"; }
  recipe README.md
  eventually fatHolds /ROMDisk2/PROGRAM/SETAPP/Help/Help.txt ||
    fail "the FAT image holds no installed file: $(fsck.fat -n -l "$co/card.img")"
  recipe docs/media.md
  eventually ntfsHolds /ROMDisk/PROGRAM/TAV/Voice/Prompts.txt || fail "the NTFS image holds no installed file"
  echo "card-image recipes: the FAT and the NTFS image hold the installed package"
  exit 0
fi

# The two commands: test.sh builds build/ and runs its suite; run.sh installs the first package.
inCheckout scripts/test.sh >/dev/null 2>&1 || fail "scripts/test.sh failed"
grep -q "^cmake -S $co -B $co/build " "$scratch/tool.log" &&
  grep -q "^ctest --test-dir $co/build " "$scratch/tool.log" ||
  fail "scripts/test.sh did not build and test build/: $(cat "$scratch/tool.log")"
out=$(inCheckout scripts/run.sh 2>&1) || fail "scripts/run.sh failed: $out"
grep -qx 'message: SETUP: Installation has been completed.' <<<"$out" &&
  [ -f "$scratch/sample/device/ROMDisk/PROGRAM/TAV/Voice/Prompts.txt" ] ||
  fail "scripts/run.sh installed nothing: $out"

# The examples: each "$ command" prints the lines below it, standard error aside.
examples=0
check() {
  [ -n "$cmd" ] || return 0
  got=$(inCheckout "$cmd" 2>/dev/null) || fail "$key: $cmd failed: $got"
  [ "$got" = "$want" ] || fail "$key: $cmd printed"$'\n'"$got"$'\n'"instead of"$'\n'"$want"
  examples=$((examples + 1))
}
for key in $(keys ' console$' | tr ' ' '|'); do
  key=${key//|/ } cmd= want=
  while IFS= read -r line; do
    if [[ $line == '$ '* ]]; then check; cmd=${line#\$ } want=; else want+=${want:+$'\n'}$line; fi
  done < <(block "$key")
  check
done

# The rest: each command is known here, and what it starts takes the documented form.
script() {
  [ -x "$co/$1" ] || fail "$1 is missing or not executable"
  [[ $1 != *.sh ]] || bash -n "$co/$1" || fail "$1 does not parse"
}
has() { script "$1"; grep -q -- "$2" "$src/$1" || fail "$1 no longer takes $2"; }
deb=$(sed -n 's/^set(CPACK_PACKAGE_\(NAME\|VERSION\) "\(.*\)")$/\2/p' "$build/CPackConfig.cmake" |
  paste -sd_)_$(dpkg --print-architecture).deb
while IFS=$'\t' read -r key cmd; do
  prog=$(sed -E 's/^[a-z]+=\$\(//; s/^([A-Z_]+=[^ ]+ )*//; s/ .*//; s/\)$//' <<<"$cmd")
  [[ $prog != */* ]] || script "$prog"
  case $cmd in
    scripts/run.sh|scripts/test.sh) ;;                                 # run above
    truncate*|mkdir*|fusefat*|ntfs-3g*|'scripts/make-sample.sh sample'|WCE_ROOT=*|fusermount*) ;;  # card mode
    scripts/package.sh) has scripts/package.sh 'build-release/packages' ;;
    'sudo apt install ./build-release/packages/'*)
      [ "${cmd##*/}" = "$deb" ] || fail "the package is called $deb: $cmd" ;;
    'cd /media/medium && SETUP --root /media/card')                    # release.packages runs it
      grep -q -- '--root' "$src/tests/release/package_test.sh" || fail "no test runs the installed SETUP with --root" ;;
    'scripts/make-medium.sh OUT [MEDIUM]') has scripts/make-medium.sh 'OUT \[MEDIUM\]' ;;
    'tests/release/medium_test.sh [--deb]') has tests/release/medium_test.sh '--deb' ;;
    *'scripts/slow-medium.sh '*) verb=${cmd#*slow-medium.sh }; has scripts/slow-medium.sh "${verb%% *} DIR" ;;
    'cp -R examples/device "$card/device"'|'scripts/make-sample.sh /tmp/sample'|'WCE_DISPLAY=terminal '*) ;;
    scripts/deps.sh) script scripts/deps.sh ;;                        # the guest's parts (docs/media.md)
    'ctest --test-dir build -L vm '*) ;;                              # the vm label's own tests run it
    'tests/vm/pull.sh '*|'tests/vm/cost.sh '*) script "${cmd%% *}" ;;
    *) fail "no test tries this command of $key: $cmd" ;;
  esac
done < <(grep -v ' console	' <<<"$blocks")
# Commands in the text: the page in the build tree renders, one area's tests are found, the
# scripts named exist.
grep -q '`man -l build/man/SETUP.1`' "$src/README.md" && grep -q '^NAME$' <<<"$(man -l "$build/man/SETUP.1")" ||
  fail "man -l build/man/SETUP.1 does not show the manual page"
grep -q 'Test *#' <<<"$(ctest --test-dir "$build" -N -R Kernel)" || fail "ctest -R Kernel finds no tests"
for s in $(cat "$src/README.md" "$src/docs/"*.md | grep -o '`\(scripts\|bench\|tests\)/[^` ]*\.\(sh\|py\)' | cut -c2- | sort -u); do
  script "$s"
done
# The settings the code reads are the README's and the manual page's, no more and no fewer.
names() { grep -oE 'WCE(_|\\_)[A-Z_\\]+' | tr -d '\\' | sort -u | paste -sd' '; }
code=$(grep -rhoE '(getenv|Setting)\("WCE_[A-Z_]+"' "$src/platform" "$src/app" | names)
readme=$(grep -E '^\| `WCE_' "$src/README.md" | cut -d'|' -f2 | names)
page=$(grep -E '^\*WCE.*\*$' "$src/docs/SETUP.1.scd" | names)
[ "$readme" = "$code" ] && [ "$page" = "$code" ] ||
  fail "settings read: $code"$'\n'"in the README: $readme"$'\n'"in the manual page: $page"
echo "README: the two commands, $examples examples and the other commands hold"
