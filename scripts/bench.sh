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
run "$bin/bench.exe" speed "$(winpath "$work/speed.txt")"

echo "bench: NSIS, TarvoSetup against nsExec (about 1 minute)" >&2
makensis -V2 -DTARVO_DLL="$bin/TarvoSetup.DLL" -DCHILD="$(winpath "$bin/bench-child.exe")" \
  -DRESULTS="$(winpath "$work/nsis.txt")" -DCALLS=30 -DROUNDS=3 -DOUTFILE="$work/nsis-bench.exe" \
  bench/nsis_bench.nsi
run "$work/nsis-bench.exe"

if [ "${1:-}" = --endurance ]; then
  echo "bench: endurance, 10,000 sequential and 8 x 1,000 concurrent calls" >&2
  run "$bin/bench.exe" endurance "$(winpath "$work/endurance.txt")"
fi
python3 bench/report.py docs/benchmarks.md "$work/speed.txt" "$work/nsis.txt" "$work/endurance.txt"
