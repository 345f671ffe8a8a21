#!/usr/bin/env bash
# A case that never ends, and leaves a process holding its output, costs the kit that
# case alone: the runner ends it with its tree after its time, names it, and the next
# case passes.
#   stuck_case_test.sh BIN_DIR WORK_DIR SOURCE_DIR x86|x64 WINEPREFIX
set -euo pipefail
source "$(dirname "$0")/../expect.sh"
bin=$1 work=$2 source=$3 arch=$4 prefix=$5
rm -rf "$work" && mkdir -p "$work"
cp "$bin/kit-runner.exe" "$bin/TarvoSetup.DLL" "$work/"
cp "$bin/stuck-case.exe" "$work/stuck_test.exe"
status=0
(cd "$work" && timeout 120 "$source/scripts/wine-run.sh" "$arch" "$prefix" ./kit-runner.exe tests 5) >"$work/run.txt" || status=$?
[ "$status" -eq 1 ] || { echo "FAILED: expected exit status 1 (a case failed), got $status"; failures=$((failures + 1)); }
expect "$work/run.txt" "FAILED Stuck.NeverEnds (did not end within 5 s, so it was ended with its processes)"
grep -q '^ok     Stuck.Passes (' "$work/run.txt" && echo "ok: Stuck.Passes passed after it" ||
  { echo "FAILED: Stuck.Passes did not pass after the stuck case:"; sed 's/^/    /' "$work/run.txt"; failures=$((failures + 1)); }
expect "$work/run.txt" "1 passed, 1 failed"
holder=$(sed -n 's/^holder //p' "$work/results.txt" | tr -d '\r')
if [ -z "$holder" ] || ! "$source/scripts/wine-run.sh" "$arch" "$prefix" "$bin/test-child.exe" running "$holder" >/dev/null; then
  echo "FAILED: the stuck case's holder process ($holder) still runs, or was never started"; failures=$((failures + 1))
fi
leftovers=$(find "$work" -name 'output-*.txt')
[ -z "$leftovers" ] || { echo "FAILED: output files left behind: $leftovers"; failures=$((failures + 1)); }
[ "$failures" -eq 0 ]
