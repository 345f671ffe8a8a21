#!/usr/bin/env bash
# Installs what is missing, builds, runs the benchmarks under Wine on a virtual
# display (Inno Setup's installer needs one) for every architecture this machine
# runs natively, and prints the tables, which it also writes to docs/benchmarks.md.
#   scripts/bench.sh [--endurance]    (--endurance adds 18,000 checked calls an architecture: ~15 min each)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" != --on-display ]; then
  scripts/build.sh >/dev/null
  exec scripts/with-display.sh scripts/bench.sh --on-display "$@"
fi
shift
root=$PWD
winpath() { printf 'Z:%s' "${1//\//\\}"; }
# step WHAT COMMAND...: runs one step, and names it if it fails.
step() {
  local what=$1 status=0
  shift
  "$@" || status=$?
  [ "$status" -eq 0 ] || { echo "bench: $what failed (exit status $status)" >&2; exit 1; }
}

# Every architecture that this machine runs natively: figures taken under emulation
# measure the emulator, and are no benchmark.
archs=(x64)
note="Measured: x64 (64-bit Wine)."
source scripts/emulation.sh
if x86_under_emulation; then
  note="Measured: x64 (64-bit Wine). Not measured: x86, which this machine runs only under emulation."
else
  archs=(x86 x64)
  note="Measured: x86 (32-bit Wine) and x64 (64-bit Wine)."
fi
echo "bench: ${note#Measured: }" >&2
reports=()
for arch in "${archs[@]}"; do
  bin=$root/build/$arch/bin
  work=$root/build/bench/$arch
  rm -rf "$work" && mkdir -p "$work"
  export WINEPREFIX=$root/build/$arch/wineprefix
  run() { "$root/scripts/wine-run.sh" "$arch" "$WINEPREFIX" "$@"; }

  echo "bench: $arch: Execute against the floor (about 2 minutes)" >&2
  step "$arch bench.exe speed" run "$bin/bench.exe" speed "$(winpath "$work/speed.txt")" "$(winpath "$work/speed.md")"

  echo "bench: $arch: NSIS, TarvoSetup against nsExec (about 3 minutes)" >&2
  target=()
  [ "$arch" = x86 ] || target=(-DAMD64)
  step "building the $arch NSIS benchmark" makensis -V2 "${target[@]}" -DTARVO_SETUP_DLL="$bin/TarvoSetup.DLL" \
    -DCHILD="$(winpath "$bin/test-child.exe")" -DRESULTS="$(winpath "$work/nsis.txt")" -DCALLS=30 -DROUNDS=3 \
    -DOUTFILE="$work/nsis-bench.exe" bench/nsis_bench.nsi
  step "the $arch NSIS benchmark" run "$work/nsis-bench.exe"

  if [ "$arch" = x86 ]; then  # Inno Setup 6 builds 32-bit Setups only
    echo "bench: $arch: Inno Setup, TarvoSetup against ExecAndCaptureOutput (about 4 minutes)" >&2
    step "building the Inno Setup benchmark" run "$root/build/tools/innosetup/node_modules/innosetup/bin/ISCC.exe" /Q \
      "/DTarvoSetupDll=$(winpath "$bin/TarvoSetup.DLL")" "/DChild=$(winpath "$bin/test-child.exe")" \
      "/DResults=$(winpath "$work/inno.txt")" /DBatch=20 /DRounds=3 "/O$(winpath "$work")" /Finno-bench \
      "$(winpath "$root/bench/inno_bench.iss")"
    step "the Inno Setup benchmark" run "$work/inno-bench.exe" /VERYSILENT /SUPPRESSMSGBOXES
  fi

  echo "bench: $arch: Windows Installer, MsiRunCommand (about 30 s)" >&2
  bench/msi_bench.sh "$root" "$bin" "$work/msi" "$arch" "$WINEPREFIX" >"$work/msi.txt" ||
    { echo "bench: the $arch Windows Installer benchmark failed" >&2; exit 1; }

  if [ "${1:-}" = --endurance ]; then
    echo "bench: $arch: endurance, 10,000 sequential and 8 x 1,000 concurrent calls" >&2
    step "$arch bench.exe endurance" run "$bin/bench.exe" endurance "$(winpath "$work/endurance.txt")"
  fi
  reports+=("$arch=$work")
done
step "the report" python3 bench/report.py docs/benchmarks.md "$note" "${reports[@]}"
