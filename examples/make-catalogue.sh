#!/usr/bin/env bash
# Regenerates examples/medium/SETUP.INI: code page 932, CR LF line ends.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
printf '%s\r\n' \
  '; Language packages of this medium' \
  '[PRODUCT]' \
  '1=English' \
  '2=Deutsch' \
  '3=日本語' \
  '[NOTES]' \
  'packages live in PRODUCT<key>\SETAPP and PRODUCT<key>\TAV' |
  iconv -f UTF-8 -t CP932 >"$here/medium/SETUP.INI"
