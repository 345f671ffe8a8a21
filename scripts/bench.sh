#!/usr/bin/env bash
# Installs what is missing, builds, runs the benchmarks under Wine and prints the
# table, which it also writes to docs/benchmarks.md.
#   scripts/bench.sh [--endurance]    (--endurance adds 18,000 checked calls: ~15 min)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null
root=$PWD
bin=$root/build/bin
work=$root/build/bench
mkdir -p "$work"
export WINEPREFIX=$root/build/wineprefix WINEDEBUG=-all
winpath() { printf 'Z:%s' "${1//\//\\}"; }
run() { "$root/scripts/wine-run.sh" "$WINEPREFIX" "$@"; }

echo "bench: Execute against the floor (about 2 minutes)" >&2
run "$bin/bench.exe" speed "$(winpath "$work/speed.txt")" "$(winpath "$work/speed.md")"

echo "bench: NSIS, TarvoSetup against nsExec (about 1 minute)" >&2
makensis -V2 -DTARVO_DLL="$bin/TarvoSetup.DLL" -DCHILD="$(winpath "$bin/bench-child.exe")" \
  -DRESULTS="$(winpath "$work/nsis.txt")" -DCALLS=30 -DROUNDS=3 -DOUTFILE="$work/nsis-bench.exe" \
  bench/nsis_bench.nsi
run "$work/nsis-bench.exe"

echo "bench: Inno Setup, TarvoSetup against ExecAndCaptureOutput (about 4 minutes)" >&2
run "$root/build/tools/innosetup/node_modules/innosetup/bin/ISCC.exe" /Q \
  "/DTarvoSetupDll=$(winpath "$bin/TarvoSetup.DLL")" "/DChild=$(winpath "$bin/bench-child.exe")" \
  "/DResults=$(winpath "$work/inno.txt")" /DBatch=20 /DRounds=3 "/O$(winpath "$work")" /Finno-bench \
  "$(winpath "$root/bench/inno_bench.iss")"
run "$work/inno-bench.exe" /VERYSILENT /SUPPRESSMSGBOXES

if [ "${1:-}" = --endurance ]; then
  echo "bench: endurance, 10,000 sequential and 8 x 1,000 concurrent calls" >&2
  run "$bin/bench.exe" endurance "$(winpath "$work/endurance.txt")"
fi
python3 bench/report.py docs/benchmarks.md "$work/speed.md" "$work/nsis.txt" "$work/inno.txt" "$work/endurance.txt"
