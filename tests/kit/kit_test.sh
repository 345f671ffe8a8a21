#!/usr/bin/env bash
# The test kit, as a Windows machine gets it: unpacked into an empty folder and run
# by its one command in a new Wine prefix, with nothing of the build on its path.
# Every case that the suite's GoogleTest programs list must pass in the kit, and so
# must the kit's window scenes.
#   kit_test.sh KIT.zip WORK_DIR SOURCE_DIR BIN_DIR x86|x64 BUILD_WINEPREFIX TEST_PROGRAM...
set -euo pipefail
source "$(dirname "$0")/../expect.sh"
zip=$1 work=$2 source=$3 bin=$4 arch=$5 build_prefix=$6
shift 6
kit_prefix=$work/wineprefix
cleanup() { WINEPREFIX=$kit_prefix wineserver -k 2>/dev/null || true; }
trap cleanup EXIT

cleanup
rm -rf "$work" && mkdir -p "$work/unpacked"
unzip -q "$zip" -d "$work/unpacked"
kit=$(echo "$work"/unpacked/*)

# Every case that the suite's programs list; the kit adds its window scenes. On a
# machine that runs x86 code under emulation, whose suite runs long, the first case of
# each program: the suite has run them all.
source "$source/scripts/emulation.sh"
which=every
if x86_under_emulation; then
  which=first
  echo "kit: x86 runs under emulation here: the first case of each program, and the window scenes"
fi
cases=()
for program in "$@"; do
  listing=$("$source/scripts/wine-run.sh" "$arch" "$build_prefix" "$bin/$program.exe" --gtest_list_tests | tr -d '\r')
  listed=()
  while IFS= read -r line; do
    if [[ $line == "  "* ]]; then
      name=${line#  }
      listed+=("$suite${name%% *}")
    elif [ -n "$line" ]; then
      suite=${line%% *}
    fi
  done <<<"$listing"
  [ "$which" = every ] && cases+=("${listed[@]}") || cases+=("${listed[0]}")
done

status=0
(cd "$kit" && timeout 900 "$source/scripts/wine-run.sh" "$arch" "$kit_prefix" cmd /c run-tests.cmd all 180 $which) >"$work/run.txt" || status=$?
cat "$work/run.txt"
if [ "$status" -ne 0 ]; then
  echo "FAILED: run-tests.cmd exited with $status"
  failures=$((failures + 1))
  # The report holds what each failed case printed, after its line.
  [ -f "$kit/results.txt" ] &&
    tr -d '\r' <"$kit/results.txt" | awk '/^ok     /{shown=0} /^FAILED /{shown=1} shown{print "    " $0}'
fi
output=$(cat "$work/run.txt")
for name in "${cases[@]}"; do
  grep -q "^ok     $name (" <<<"$output" || { echo "FAILED: the kit did not pass $name"; failures=$((failures + 1)); }
done
scenes=$(grep -c '^ok     Windows\.' <<<"$output" || true)
[ "$scenes" -gt 0 ] || { echo "FAILED: the kit passed no window scene"; failures=$((failures + 1)); }
expected=$((${#cases[@]} + scenes))
expect "$work/run.txt" "$expected passed, 0 failed"
expect "$kit/results.txt" "$expected passed, 0 failed"
expect "$kit/results.txt" "TarvoSetup.DLL SHA-256: $(sha256sum <"$bin/TarvoSetup.DLL" | cut -d' ' -f1)"
grep -q '^Windows: [0-9]' "$kit/results.txt" || { echo "FAILED: results.txt names no Windows version"; failures=$((failures + 1)); }
echo "kit: $(stat -c %s "$zip") bytes, ${#cases[@]} GoogleTest cases and $scenes window scenes"
[ "$failures" -eq 0 ]
