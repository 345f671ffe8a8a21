#!/usr/bin/env bash
# Builds everything and runs the whole test suite under Wine, with a virtual display
# for the message boxes and the file dialog.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh

export WINEPREFIX=$PWD/build/wineprefix WINEDEBUG=-all
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
export DISPLAY=:$(cat "$displayfile")
ctest --preset mingw-i686 "$@"
