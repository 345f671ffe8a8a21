#!/usr/bin/env bash
# Runs a Windows program under Wine in the given prefix, creating the prefix first
# if this build has none yet:  wine-run.sh x86|x64 PREFIX PROGRAM [ARGS...]
# x64 programs run in a 64-bit prefix under the 64-bit loader, called by its own
# name (Debian's wine wrapper takes the 32-bit loader whenever that is installed);
# x86 programs in a 32-bit prefix under the 32-bit loader, which a machine that
# runs no 32-bit code runs under qemu-i386 (scripts/bootstrap.sh registers it).
set -eu
arch=$1 prefix=$2
shift 2
source "$(dirname "$0")/emulation.sh"
case $arch in
  x86) loader=/usr/lib/wine/wine WINEARCH=win32 ;;
  x64) loader=/usr/lib/wine/wine64 WINEARCH=win64 ;;
  *) echo "wine-run.sh: the architecture is x86 or x64, not '$arch'" >&2; exit 2 ;;
esac
export WINEPREFIX=$prefix WINEARCH WINELOADER=$loader WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Seen by the tests, which size their heaviest cases down under emulation.
if [ "$arch" = x86 ] && x86_under_emulation; then
  export TARVO_UNDER_EMULATION=1
fi
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  # Two test programs may be the first at once; one of them creates the prefix. The
  # new prefix's services are let finish before anything runs: a program started
  # while they still set up can meet a fault in Wine's own modules.
  flock "$prefix.lock" sh -c '[ -f "$WINEPREFIX/system.reg" ] || { "$0" wineboot -i && wineserver -w; } >/dev/null 2>&1' "$loader"
fi
# The program's output goes through files: a process that it leaves running, or one
# that Wine starts on its behalf, then holds those files, never the caller's pipe, for
# whose end a caller such as ctest would wait.
output=$(mktemp -d)
trap 'rm -rf "$output"' EXIT
"$loader" "$@" >"$output/out" 2>"$output/err" &
program=$!
trap 'kill "$program" 2>/dev/null' TERM INT  # a caller's time limit ends the program too
status=0
wait "$program" || status=$?
cat "$output/out"
cat "$output/err" >&2
# Wine's own failures to start a program say nothing under WINEDEBUG=-all.
if [ "$status" -ne 0 ] && [ ! -s "$output/out" ] && [ ! -s "$output/err" ]; then
  echo "wine-run.sh: $1 ended with status $status and printed nothing" >&2
fi
exit "$status"
