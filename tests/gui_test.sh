#!/usr/bin/env bash
# The real information box, warning box and file dialog, opened by the sample host
# and answered by window-answerer as a user would.
#   gui_test.sh SOURCE_DIR BIN_DIR WORK_DIR WINEPREFIX
set -euo pipefail
source "$(dirname "$0")/expect.sh"
source=$1 bin=$2 work=$3 prefix=$4
run() { timeout 120 "$source/scripts/wine-run.sh" "$prefix" "$@"; }
rm -rf "$work" && mkdir -p "$work"

scene() {  # scene NAME ANSWERER-STEP... -- HOST-ARGS...: both at once, each to its own file
  local name=$1 steps=()
  shift
  while [ "$1" != -- ]; do steps+=("$1"); shift; done
  shift
  run "$bin/window-answerer.exe" "${steps[@]}" >"$work/$name.answers" &
  local answerer=$!
  run "$bin/tarvo-host.exe" "$@" >"$work/$name.host"
  wait "$answerer" || true
}

printf 'Read me first.\r\nThen install.' >"$work/notice.txt"
scene notice box "TarvoSetup notice test" -- show "$(winpath "$work/notice.txt")" "TarvoSetup notice test"
expect "$work/notice.answers" 'box TarvoSetup notice test: Read me first.\r\nThen install.'
expect "$work/notice.host" "ShowMsg returned 0"

mkdir -p "$work/folder"
access_denied=$(run "$bin/test-child.exe" system-text 5 | sed -e 's/\r/\\r/g' | tr -d '\n')
scene warning box "Tarvo Setup" -- show "$(winpath "$work/folder")" "never shown"
expect "$work/warning.answers" "box Tarvo Setup: Operation failed: errno = 5\\n$access_denied\\n"
expect "$work/warning.host" "ShowMsg returned -1"

scene cancel cancel "Please choose a Patch File" -- pick
expect "$work/cancel.answers" "cancel Please choose a Patch File: filter Patch Files (*.z)"
expect "$work/cancel.host" "SelectPatchFile returned 0 (stored 0)"

touch "$work/fix.z"
scene pick pick "Please choose a Patch File" "$(winpath "$work/fix.z")" -- pick
result=$(grep -o 'returned [0-9-]* (stored [0-9-]*)' "$work/pick.host" || true)
if [[ $result =~ ^returned\ ([1-9][0-9]*)\ \(stored\ ([0-9-]+)\)$ && ${BASH_REMATCH[1]} == "${BASH_REMATCH[2]}" ]]; then
  echo "ok: $result"
else
  echo "FAILED: expected a non-zero result, stored alike; the host said: $(cat "$work/pick.host")"
  failures=$((failures + 1))
fi
expect "$work/pick.host" "chosen: $(winpath "$work/fix.z")"
[ "$failures" -eq 0 ]
