#!/usr/bin/env bash
# MsiRunCommand in a package of the suite's (tests/installers/check.wxs) that Wine's
# installer runs through msi-host, whose stamps count in the test child's clock: the
# time from the command's end to the action's return, lines a second into the log,
# and the time from a progress state to its PROGRESS message. Prints "key value" lines.
#   msi_bench.sh SOURCE_DIR BIN_DIR WORK_DIR ARCH WINEPREFIX
set -euo pipefail
source=$1 bin=$2 work=$3 arch=$4 prefix=$5
run() { "$source/scripts/wine-run.sh" "$arch" "$prefix" "$@"; }
winpath() { printf 'Z:%s' "${1//\//\\}"; }
rm -rf "$work" && mkdir -p "$work"
cd "$work"
cp "$bin/TarvoSetup.DLL" .
cp "$bin/test-child.exe" tarvo-tool.exe
architecture=()
[ "$arch" = x86 ] || architecture=(-a x64)
product=$(run winepath -u "$(run cmd /c echo %LOCALAPPDATA% | tr -d '\r')\\TarvoCheck" | tr -d '\r')
# install NAME SETTINGS: msi-host's record of one install, in NAME.txt.
install() {
  wixl "${architecture[@]}" -D "Settings=$2" -o "$1.msi" "$source/tests/installers/check.wxs"
  run "$bin/msi-host.exe" "$(winpath "$work/$1.msi")" | tr -d '\r' >"$1.txt"
  grep -q '^result [0-9]* 0$' "$1.txt" || { echo "msi_bench: $1 failed: $(tail -3 "$1.txt")" >&2; exit 1; }
  run cmd /c "msiexec /x $(winpath "$work/$1.msi") /qn" >/dev/null || true
  rm -rf "$product"
}
frequency() { sed -n 's/^frequency //p' "$1"; }

# The command's end (its stamp, in the child's clock) to the action's return (the
# installer's line that the action ended), five installs.
for round in 1 2 3 4 5; do
  install stamp$round '"[INSTALLDIR]tarvo-tool.exe" stamp'
  awk -v f="$(frequency stamp$round.txt)" '
    $1 == "info" && $3 == "TarvoSetup:" && $4 == "stamp" { ended = $5 * 1000 / f }
    ended && $1 == "info" && /Action ended/ && /RunTool/ { print $2 - ended; exit }' stamp$round.txt
done | sort -n | awk '{ v[NR] = $1 } END { printf "msi.return_ms %.1f\n", v[int((NR + 1) / 2)] }'

# 20,480 lines of 80 bytes into the log, as the action counts its own time.
install lines '"[INSTALLDIR]tarvo-tool.exe" lines 1638400'
awk '$1 == "info" && $3 == "TarvoSetup:" && /the command ended/ { ms = $(NF - 1) }
     $1 == "info" && $3 == "TarvoSetup:" { n++ }
     END { printf "msi.lines %d\nmsi.lines_ms %d\n", n - 2, ms }' lines.txt

# Forty states, each stamped by the child as it writes it, to the PROGRESS message
# that moves the bar to it.
install states '/PROGRESS "[INSTALLDIR]tarvo-tool.exe" stamps 40 100'
awk -v f="$(frequency states.txt)" '
  $1 == "info" && $3 == "TarvoSetup:" && $5 ~ /%$/ { written = $4 * 1000 / f; waiting = 1 }
  $1 == "progress" && $3 == 2 && $4 > 0 && waiting { print $2 - written; waiting = 0 }' states.txt |
  sort -n | awk '{ v[NR] = $1 } END { printf "msi.progress_latency_ms %.1f\nmsi.progress_states %d\n", v[int((NR + 1) / 2)], NR }'
