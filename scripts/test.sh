#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite under
# Wine, with a virtual display for the message boxes and the file dialog.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh

export WINEPREFIX=$PWD/build/wineprefix WINEDEBUG=-all
# Wine binds its desktop to the display that its first program saw: start the
# display, and end any Wine session of this prefix that began without it.
displayfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$displayfile" >/dev/null 2>&1 &
xvfb=$!
cleanup() {
  wineserver -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -f "$displayfile"
}
trap cleanup EXIT
for _ in $(seq 100); do [ -s "$displayfile" ] && break; sleep 0.1; done
[ -s "$displayfile" ] || { echo "test.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(cat "$displayfile")
[ -d "$WINEPREFIX" ] && { wineserver -k 2>/dev/null || true; }

scripts/build.sh
ctest --preset mingw-i686 "$@"
