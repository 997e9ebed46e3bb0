#!/usr/bin/env bash
# Lays out an installation medium a technician can carry: scripts/make-medium.sh OUT [MEDIUM]
# OUT (new or empty) receives SETUP.INI and the PRODUCT... folders of MEDIUM (default: the
# bundled sample) and SETUP built to run on a Linux machine that has none of our packages:
# its libraries in OUT/lib/, found through an $ORIGIN run path; the C++ runtime linked in;
# the dialog font in OUT/fonts/ (WCE_FONT_FILE, else fontconfig's IPAPGothic). SDL still loads
# the host's video system (X11, Wayland, GL) as it always does.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
die() { echo "$0: $*" >&2; exit 2; }
[ $# -ge 1 ] && [ $# -le 2 ] && [ -n "$1" ] || die "usage: $0 OUT [MEDIUM]"
out=$(realpath -m -- "$1")
scratch=$(mktemp -d "${TMPDIR:-/tmp}/wce-medium.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
if [ $# -eq 2 ]; then
  medium=$(realpath -e -- "$2") || die "no medium folder $2"
else
  "$here/scripts/make-sample.sh" "$scratch" 2>/dev/null
  medium=$scratch/medium
fi
catalogue=$(find "$medium" -maxdepth 1 -type f -iname SETUP.INI | head -n 1)
[ -n "$catalogue" ] || die "$medium holds no SETUP.INI"
case "$out/" in "$medium/"*) die "OUT must not lie inside the medium $medium" ;; esac
if [ -e "$out" ] && [ -n "$(ls -A "$out")" ]; then die "$out exists and is not empty"; fi

# Glibc comes from the host: it is bound to the host's kernel and loader.
host_lib() {
  case "$1" in
    linux-vdso.so.* | ld-linux*.so.* | libc.so.* | libm.so.* | libdl.so.* | libpthread.so.* | \
      librt.so.* | libresolv.so.* | libutil.so.* | libmvec.so.* | libanl.so.*) return 0 ;;
  esac
  return 1
}

build_setup() {
  local tree=$here/build-medium launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR=$here CCACHE_NOHASHDIR=1
  fi
  cmake -S "$here" -B "$tree" -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_EXE_LINKER_FLAGS="-static-libstdc++ -static-libgcc" >/dev/null
  cmake --build "$tree" --target SETUP -j2 >&2
  strip --strip-unneeded -o "$stage/SETUP" "$tree/bin/SETUP"
  # Exactly lib/ beside the program: an empty entry would let the current folder lend libraries.
  patchelf --set-rpath '$ORIGIN/lib' "$stage/SETUP"
}

# Every library the program loads at start, except glibc's; each finds its own in lib/ too.
bundle_libraries() {
  mkdir -p "$stage/lib"
  local name arrow path rest
  while read -r name arrow path rest; do
    host_lib "$name" && continue
    [ "$arrow" = "=>" ] || continue
    [ -f "$path" ] || die "SETUP needs $name, which is not found here"
    cp -L "$path" "$stage/lib/$name"
    chmod u+w "$stage/lib/$name"
    patchelf --set-rpath '$ORIGIN' "$stage/lib/$name"
  done < <(ldd "$stage/SETUP")
}

bundle_font() {
  local font=${WCE_FONT_FILE:-}
  [ -n "$font" ] || font=$(fc-list -f '%{file}\n' IPAPGothic 2>/dev/null | sort | head -n 1)
  [ -n "$font" ] && [ -f "$font" ] ||
    die "no dialog font: install fonts-ipafont-gothic (IPAPGothic) or name a font file in WCE_FONT_FILE"
  mkdir -p "$stage/fonts"
  cp -L "$font" "$stage/fonts/"
  # A font travels with its licence.
  local pkg
  pkg=$(dpkg -S "$(realpath "$font")" 2>/dev/null | head -n 1 | cut -d: -f1) || true
  if [ -n "$pkg" ] && [ -f "/usr/share/doc/$pkg/copyright" ]; then
    cp "/usr/share/doc/$pkg/copyright" "$stage/fonts/$(basename "$font").copyright"
  fi
}

# Assembled on local disk first: OUT may be the card itself, whose filesystem may refuse
# permissions and extended attributes.
stage=$scratch/stage
mkdir -p "$stage" "$out"
build_setup
bundle_libraries
bundle_font
cp -a "$catalogue" "$stage/"
find "$medium" -mindepth 1 -maxdepth 1 -type d -iname 'PRODUCT*' -exec cp -a {} "$stage/" \;
# A probe decides, since a copy that fails half-way leaves files some filesystems cannot overwrite.
mkdir "$scratch/probe.d" && touch "$scratch/probe.d/x" && chmod 755 "$scratch/probe.d/x"
if cp -a "$scratch/probe.d" "$out/" 2>/dev/null; then
  rm -rf "$out/probe.d"
  cp -a "$stage/." "$out/"
else
  rm -rf "$out/probe.d"
  cp -R --preserve=timestamps "$stage/." "$out/"
  echo "$0: $out keeps no permissions or extended attributes: files marked hidden on the medium" \
    "(user.DOSATTRIB) are not hidden there" >&2
fi
echo "medium: $out ($(du -sh "$out" | cut -f1); $(ls "$out/lib" | wc -l) libraries in lib/)" >&2
