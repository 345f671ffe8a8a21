#!/usr/bin/env bash
# Takes the pictures in docs/screenshots from the real DLL under Wine, on a virtual
# display: the notice box, the warning box and the patch-file dialog, from the x86
# DLL (the x64 DLL draws the same windows). Run after a
# build (scripts/demo.sh or scripts/test.sh); it writes only docs/screenshots/*.png.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${1:-}" = --on-display ] || exec scripts/with-display.sh scripts/take_screenshots.sh --on-display
root=$PWD
bin=$root/build/x86/bin
prefix=$root/build/x86/wineprefix
out=$root/docs/screenshots
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out" "$work/patches"
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# shoot NAME "HOST ARGUMENTS" STEP...: window-answerer runs the sample host on a
# virtual desktop (so that Wine draws the title bars itself) and takes the picture.
shoot() {
  local name=$1 host=$2
  shift 2
  (cd "$work/patches" && "$root/scripts/wine-run.sh" x86 "$prefix" explorer /desktop=tarvoshots,640x420 \
    "$bin/window-answerer.exe" "\"$(winpath "$bin/tarvo-host.exe")\" $host" "$@" "$(winpath "$work/$name.bmp")" \
    >/dev/null)
  python3 scripts/bmp_to_png.py "$work/$name.bmp" "$out/$name.png"
  echo "docs/screenshots/$name.png"
}

printf 'Tarvo 6 is ready to install.\r\n\r\nThis release needs 120 MB of disk space\r\nand replaces Tarvo 5 in place.' >"$work/notice.txt"
touch "$work/patches/tarvo-6.0.1-hotfix.z" "$work/patches/tarvo-6.0.2.z" "$work/patches/readme.txt"
mkdir -p "$work/a-folder"

shoot notice "show \"$(winpath "$work/notice.txt")\" \"Tarvo 6 release notes\"" box "Tarvo 6 release notes"
shoot warning "show \"$(winpath "$work/a-folder")\" Notice" box "Tarvo Setup"
shoot file-dialog pick cancel "Please choose a Patch File"
