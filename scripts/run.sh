#!/usr/bin/env bash
# Builds everything and runs the installer on the bundled sample medium against a scratch device.
# The repository is never written: medium and device are copied to a scratch folder first.
#   scripts/run.sh                 interactive (terminal, or a window on a desktop)
#   WCE_SCRIPT=file scripts/run.sh unattended (see README: Unattended runs)
#   scripts/run.sh ARGS...         SETUP's own arguments (--list, --install KEY)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/build.sh" "$here/build" >&2
scratch=${WCE_SCRATCH:-$(mktemp -d "${TMPDIR:-/tmp}/wce-sample.XXXXXX")}
"$here/scripts/make-sample.sh" "$scratch" >&2
export WCE_ROOT="$scratch/device" WCE_MEDIUM="$scratch/medium"
# Without a person at a terminal or desktop, install the first package unattended.
if [ $# -eq 0 ] && [ -z "${WCE_SCRIPT:-}" ] && ! { [ -t 0 ] && [ -t 1 ]; } && [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  export WCE_SCRIPT="$here/examples/install-first-package.txt"
fi
status=0
# WCE_SCRATCH is this script's, not a setting of SETUP's.
env -u WCE_SCRATCH "$here/build/bin/SETUP" "$@" || status=$?
echo "scratch device: $WCE_ROOT (exit status $status)" >&2
exit "$status"
