#!/usr/bin/env bash
# Takes the pictures in docs/screenshots from the real DLL under Wine and Xvfb:
# the notice box, the warning box and the patch-file dialog. Run after a build
# (scripts/demo.sh or scripts/test.sh); it writes only docs/screenshots/*.png.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bin=$root/build/bin
out=$root/docs/screenshots
work=$(mktemp -d)
mkdir -p "$out" "$work/patches"
export WINEPREFIX=$root/build/wineprefix WINEDEBUG=-all
winpath() { printf 'Z:%s' "${1//\//\\}"; }

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
trap 'wineserver -k 2>/dev/null || true; kill $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display")
wineserver -k 2>/dev/null || true

# A virtual desktop, so that Wine draws the title bars itself.
on_desktop() { "$root/scripts/wine-run.sh" "$WINEPREFIX" explorer /desktop=tarvoshots,640x420 "$@"; }
shoot() {  # shoot NAME ANSWERER-STEP... -- HOST-ARGS...
  local name=$1 steps=()
  shift
  while [ "$1" != -- ]; do steps+=("$1"); shift; done
  shift
  on_desktop "$bin/window-answerer.exe" "${steps[@]}" "$(winpath "$work/$name.bmp")" &
  local answerer=$!
  (cd "$work/patches" && on_desktop "$bin/tarvo-host.exe" "$@" >/dev/null)
  wait "$answerer"
  python3 docs/bmp_to_png.py "$work/$name.bmp" "$out/$name.png"
  echo "docs/screenshots/$name.png"
}

printf 'Tarvo 6 is ready to install.\r\n\r\nThis release needs 120 MB of disk space\r\nand replaces Tarvo 5 in place.' >"$work/notice.txt"
touch "$work/patches/tarvo-6.0.1-hotfix.z" "$work/patches/tarvo-6.0.2.z" "$work/patches/readme.txt"
mkdir -p "$work/a-folder"

shoot notice box "Tarvo 6 release notes" -- show "$(winpath "$work/notice.txt")" "Tarvo 6 release notes"
shoot warning box "Tarvo Setup" -- show "$(winpath "$work/a-folder")" "Notice"
shoot file-dialog cancel "Please choose a Patch File" -- pick
