#!/usr/bin/env bash
# Installs what is missing, builds, runs the benchmarks under Wine on a virtual
# display (Inno Setup's installer needs one) and prints the tables, which it also
# writes to docs/benchmarks.md.
#   scripts/bench.sh [--endurance]    (--endurance adds 18,000 checked calls: ~15 min)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" != --on-display ]; then
  scripts/build.sh >/dev/null
  exec scripts/with-display.sh scripts/bench.sh --on-display "$@"
fi
shift
root=$PWD
bin=$root/build/bin
work=$root/build/bench
mkdir -p "$work"
winpath() { printf 'Z:%s' "${1//\//\\}"; }
run() { "$root/scripts/wine-run.sh" "$WINEPREFIX" "$@"; }
# step WHAT COMMAND...: runs one step, and names it if it fails.
step() {
  local what=$1 status=0
  shift
  "$@" || status=$?
  [ "$status" -eq 0 ] || { echo "bench: $what failed (exit status $status)" >&2; exit 1; }
}

echo "bench: Execute against the floor (about 2 minutes)" >&2
step "bench.exe speed" run "$bin/bench.exe" speed "$(winpath "$work/speed.txt")" "$(winpath "$work/speed.md")"

echo "bench: NSIS, TarvoSetup against nsExec (about 1 minute)" >&2
step "building the NSIS benchmark" makensis -V2 -DTARVO_SETUP_DLL="$bin/TarvoSetup.DLL" \
  -DCHILD="$(winpath "$bin/test-child.exe")" -DRESULTS="$(winpath "$work/nsis.txt")" -DCALLS=30 -DROUNDS=3 \
  -DOUTFILE="$work/nsis-bench.exe" bench/nsis_bench.nsi
step "the NSIS benchmark" run "$work/nsis-bench.exe"

echo "bench: Inno Setup, TarvoSetup against ExecAndCaptureOutput (about 4 minutes)" >&2
step "building the Inno Setup benchmark" run "$root/build/tools/innosetup/node_modules/innosetup/bin/ISCC.exe" /Q \
  "/DTarvoSetupDll=$(winpath "$bin/TarvoSetup.DLL")" "/DChild=$(winpath "$bin/test-child.exe")" \
  "/DResults=$(winpath "$work/inno.txt")" /DBatch=20 /DRounds=3 "/O$(winpath "$work")" /Finno-bench \
  "$(winpath "$root/bench/inno_bench.iss")"
step "the Inno Setup benchmark" run "$work/inno-bench.exe" /VERYSILENT /SUPPRESSMSGBOXES

if [ "${1:-}" = --endurance ]; then
  echo "bench: endurance, 10,000 sequential and 8 x 1,000 concurrent calls" >&2
  step "bench.exe endurance" run "$bin/bench.exe" endurance "$(winpath "$work/endurance.txt")"
fi
step "the report" python3 bench/report.py docs/benchmarks.md "$work/speed.md" "$work/nsis.txt" "$work/inno.txt" \
  "$work/endurance.txt"
