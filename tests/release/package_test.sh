#!/usr/bin/env bash
# The packages as a technician gets them, made from this build tree: what the .deb depends on,
# what the archives hold, that the manual page renders; the packaged SETUP started in a copy of
# the sample medium installs it, and WCE_MEDIUM still wins over that folder.
# Usage: package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 src=$2
for tool in cpack dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
scratch=$(mktemp -d "${TMPDIR:-/tmp}/release-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G "DEB;TGZ" -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1) ||
  { cat "$scratch/cpack.log"; fail "cpack failed"; }
deb=$(echo "$scratch"/pkg/*.deb) tgz=$(echo "$scratch"/pkg/*.tar.gz)
depends=", $(dpkg-deb -f "$deb" Depends),"
for d in fonts-ipafont-gothic libsdl2-2.0-0 libfreetype6 libfontconfig1 libpng16-16; do
  [[ $depends == *", $d"[\ ,]* ]] || fail "the .deb does not depend on $d:$depends"
done
tarList=$(tar tzf "$tgz") debList=$(dpkg-deb -c "$deb")
for f in bin/SETUP share/doc/langsetup/README.md share/doc/langsetup/docs/dialog-idle.png \
         share/doc/langsetup/examples/medium/SETUP.INI share/man/man1/SETUP.1.gz; do
  grep -q "/$f\$" <<<"$tarList" || fail "the .tar.gz holds no $f"
  grep -q "/usr/$f\$" <<<"$debList" || fail "the .deb holds no /usr/$f"
done

dpkg-deb -x "$deb" "$scratch/installed"
# The manual page renders, with the sections a reader looks for.
command -v man >/dev/null || fail "man is not installed (scripts/deps.sh installs man-db)"
page=$(man -l "$scratch/installed/usr/share/man/man1/SETUP.1.gz" 2>&1) || fail "man -l failed: $page"
for section in NAME SYNOPSIS ENVIRONMENT DISPLAYS 'UNATTENDED RUNS' 'EXIT STATUS' FILES; do
  grep -q "^$section\$" <<<"$page" || fail "the manual page has no $section: $page"
done
"$src/scripts/make-sample.sh" "$scratch" 2>/dev/null
mkdir "$scratch/empty"
# Runs the packaged SETUP in folder $1 with the settings that follow, and no others of ours.
run() {
  local dir=$1; shift
  (cd "$dir" && env -i PATH="$PATH" HOME="$scratch" ${ASAN_OPTIONS:+ASAN_OPTIONS=$ASAN_OPTIONS} ${LSAN_OPTIONS:+LSAN_OPTIONS=$LSAN_OPTIONS} \
     ${UBSAN_OPTIONS:+UBSAN_OPTIONS=$UBSAN_OPTIONS} WCE_ROOT="$scratch/device" \
     WCE_SCRIPT="$src/examples/install-first-package.txt" "$@" "$scratch/installed/usr/bin/SETUP")
}

out=$(run "$scratch/medium" 2>&1) || fail "SETUP started in the medium failed: $out"
grep -q 'message: SETUP: Installation has been completed.' <<<"$out" || fail "no completion: $out"
[ -f "$scratch/device/ROMDisk2/PROGRAM/SETAPP/Help/Help.txt" ] &&
  [ -f "$scratch/device/ROMDisk/PROGRAM/TAV/Voice/Prompts.txt" ] || fail "the sample was not installed"

# The README's line: started in the medium, onto the card that --root names, without a dialog.
cp -R "$src/examples/device" "$scratch/card"
out=$(cd "$scratch/medium" && env -i PATH="$PATH" HOME="$scratch" ${ASAN_OPTIONS:+ASAN_OPTIONS=$ASAN_OPTIONS} \
        ${LSAN_OPTIONS:+LSAN_OPTIONS=$LSAN_OPTIONS} ${UBSAN_OPTIONS:+UBSAN_OPTIONS=$UBSAN_OPTIONS} \
        "$scratch/installed/usr/bin/SETUP" --root "$scratch/card" --install 1 2>&1) ||
  fail "SETUP --root --install in the medium failed: $out"
[ -f "$scratch/card/ROMDisk/PROGRAM/TAV/Voice/Prompts.txt" ] || fail "--root: the card got nothing: $out"

status=0
out=$(run "$scratch/medium" WCE_MEDIUM="$scratch/empty" 2>&1) || status=$?
[ "$status" -eq 1 ] || fail "with WCE_MEDIUM naming a folder without a catalogue, status $status: $out"
# A desktop session on a machine without the dialog font gets another display, told what is missing.
mkdir "$scratch/nofonts"
printf '<fontconfig><dir>%s</dir><cachedir>%s</cachedir></fontconfig>\n' "$scratch/nofonts" \
  "$scratch/nofonts" >"$scratch/fonts.conf"
status=0
out=$(cd "$scratch/medium" && env -i PATH="$PATH" HOME="$scratch" ${ASAN_OPTIONS:+ASAN_OPTIONS=$ASAN_OPTIONS} ${LSAN_OPTIONS:+LSAN_OPTIONS=$LSAN_OPTIONS} \
        DISPLAY=:0 SDL_VIDEODRIVER=dummy FONTCONFIG_FILE="$scratch/fonts.conf" \
        WCE_ROOT="$scratch/device" "$scratch/installed/usr/bin/SETUP" </dev/null 2>&1) || status=$?
[ "$status" -eq 0 ] && grep -q 'cannot draw text: .*IPAPGothic' <<<"$out" ||
  fail "a desktop without the font, status $status: $out"
echo "packages: $(ls "$scratch/pkg" | grep -v _CPack | tr '\n' ' ')"
