#!/usr/bin/env bash
# Runs a Windows program under Wine in the given prefix, creating the prefix first
# if this build has none yet:  wine-run.sh PREFIX PROGRAM [ARGS...]
set -eu
prefix=$1
shift
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  # Two test programs may be the first at once; one of them creates the prefix. The
  # new prefix's services are let finish before anything runs: a program started
  # while they still set up can meet a fault in Wine's own modules.
  flock "$prefix.lock" sh -c '[ -f "$WINEPREFIX/system.reg" ] || { wineboot -i && wineserver -w; } >/dev/null 2>&1'
fi
exec wine "$@"
