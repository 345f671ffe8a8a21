#!/usr/bin/env bash
# Builds the example NSIS installer around the built DLL and runs it under Wine.
#   nsis_installer_test.sh silent|gui SOURCE_DIR BIN_DIR WORK_DIR WINEPREFIX
# silent: the Execute and quiet ShowMsg calls, with no window at all.
# gui:    also the notice box and the patch-file dialog, answered by window-answerer.
set -euo pipefail
source "$(dirname "$0")/expect.sh"
mode=$1 source=$2 bin=$3 work=$4 prefix=$5
run() { timeout 120 "$source/scripts/wine-run.sh" "$prefix" "$@"; }

rm -rf "$work" && mkdir -p "$work"
makensis -V2 -DTARVO_DLL="$bin/TarvoSetup.DLL" -DOUTFILE="$work/tarvo-example.exe" \
  "$source/examples/nsis/tarvo_example.nsi"
results=$work/tarvo-results.txt

if [ "$mode" = silent ]; then
  (cd "$work" && run ./tarvo-example.exe /S)
else
  touch "$work/fix.z"
  run "$bin/window-answerer.exe" \
    box "Tarvo release notes" \
    pick "Please choose a Patch File" "$(winpath "$work/fix.z")" >"$work/answers.txt" &
  answerer=$!
  (cd "$work" && run ./tarvo-example.exe)
  wait "$answerer" || echo "window-answerer failed"
  expect "$work/answers.txt" 'box Tarvo release notes: Welcome to Tarvo.\r\nThis notice came from the installer.'
  expect "$results" "notice=0"
  expect "$results" "pick=1 1 $(winpath "$work/fix.z")"
fi

expect "$results" "execute=seven"
expect "$results" "output=tarvo-check "
expect "$results" "missing=-1 $(run "$bin/test-child.exe" system-text 2 | tr -d '\r\n')"
expect "$results" "absent=0"
[ "$failures" -eq 0 ]
