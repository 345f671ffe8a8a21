#!/usr/bin/env bash
# Runs a command on a virtual display, with this build's Wine sessions started afresh
# on it: Wine binds its desktop to the display that its first program saw.
#   scripts/with-display.sh COMMAND [ARGS...]
set -euo pipefail
cd "$(dirname "$0")/.."
export WINEDEBUG=-all
end_wine_sessions() {
  for arch in x86 x64; do
    WINEPREFIX=$PWD/build/$arch/wineprefix wineserver -k 2>/dev/null || true
  done
}
end_wine_sessions
status=0
xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24 -nolisten tcp" "$@" || status=$?
end_wine_sessions
exit "$status"
