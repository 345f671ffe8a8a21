#!/usr/bin/env bash
# Runs a command on a virtual display, with this build's Wine session started afresh
# on it: Wine binds its desktop to the display that its first program saw.
#   scripts/with-display.sh COMMAND [ARGS...]
set -euo pipefail
cd "$(dirname "$0")/.."
export WINEPREFIX=$PWD/build/wineprefix WINEDEBUG=-all
wineserver -k 2>/dev/null || true
status=0
xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24 -nolisten tcp" "$@" || status=$?
wineserver -k 2>/dev/null || true
exit "$status"
