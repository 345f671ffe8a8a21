#!/usr/bin/env bash
# Runs a command on a virtual display, with this build's Wine sessions started afresh
# on it: Wine binds its desktop to the display that its first program saw.
#   scripts/with-display.sh COMMAND [ARGS...]
set -euo pipefail
cd "$(dirname "$0")/.."
export WINEDEBUG=-all
if [ "${1:-}" = --on-display ]; then
  shift
  # Each build prefix's session (its server, and the services that its first program
  # starts) begins here and lasts until the command ends. A session that a test began
  # would inherit that test's output, and ctest would wait for the session to end.
  # A build without its prefix yet (a fresh clone) gets it now, and that first
  # session is let end, so that no test is the one to begin its session.
  for arch in x86 x64; do
    prefix=$PWD/build/$arch/wineprefix
    [ -d "$PWD/build/$arch" ] || continue
    if [ ! -f "$prefix/system.reg" ]; then
      scripts/wine-run.sh $arch "$prefix" cmd /c exit 0 </dev/null >/dev/null 2>&1
      WINEPREFIX=$prefix /usr/lib/wine/wineserver64 -w
    fi
    WINEPREFIX=$prefix /usr/lib/wine/wineserver64 --persistent </dev/null >/dev/null 2>&1
    scripts/wine-run.sh $arch "$prefix" cmd /c exit 0 </dev/null >/dev/null 2>&1
  done
  exec "$@"
fi
end_wine_sessions() {
  for arch in x86 x64; do
    WINEPREFIX=$PWD/build/$arch/wineprefix wineserver -k 2>/dev/null || true
  done
}
end_wine_sessions
status=0
xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24 -nolisten tcp" \
  scripts/with-display.sh --on-display "$@" || status=$?
end_wine_sessions
exit "$status"
