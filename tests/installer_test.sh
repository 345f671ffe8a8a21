#!/usr/bin/env bash
# Builds an example installer around the built DLL, through the include file of its
# installer, and runs it under Wine.
#   installer_test.sh HOST MODE SOURCE_DIR BIN_DIR WORK_DIR WINEPREFIX [ISCC.exe]
# HOST: nsis (ANSI), nsis-unicode or inno.
# MODE: silent, with no window at all; or gui, where window-answerer also answers
#       the notice box and the patch-file dialog (and Inno's Install button).
set -euo pipefail
source "$(dirname "$0")/expect.sh"
host=$1 mode=$2 source=$3 bin=$4 work=$5 prefix=$6 iscc=${7:-}
# Wine reads our arguments (the Unicode patch folder) in the locale's character set.
export LC_ALL=C.UTF-8
run() { timeout 120 "$source/scripts/wine-run.sh" "$prefix" "$@"; }

rm -rf "$work" && mkdir -p "$work"
results=$work/tarvo-results.txt
# The Unicode installers show UTF-8 release notes from a folder whose name no ANSI
# code page spells, and are handed a patch file in such a folder.
notes='Tarvo release notes: Grüße – ✓ Ω'
patches=$work/Ωμέγα-Юникод-統一碼
case $host in
  nsis)
    makensis -V2 -DTARVO_SETUP_DLL="$bin/TarvoSetup.DLL" -DOUTFILE="$work/setup.exe" \
      "$source/examples/nsis/tarvo_example.nsi"
    silent=(/S) windows=(box "Tarvo release notes") picked="pick=1"
    notes='Tarvo release notes: Welcome to Tarvo.\r\nThis notice came from the installer.' patches=$work ;;
  nsis-unicode)
    makensis -V2 -DTARVO_SETUP_DLL="$bin/TarvoSetup.DLL" -DTARVO_TOOL="$bin/test-child.exe" \
      -DOUTFILE="$work/setup.exe" "$source/examples/nsis/tarvo_example_unicode.nsi"
    silent=(/S) windows=(box "Tarvo release notes") picked="pick=1" ;;
  inno)
    run "$iscc" /Q "/DTarvoSetupDll=$(winpath "$bin/TarvoSetup.DLL")" "/O$(winpath "$work")" /Fsetup \
      "$(winpath "$source/examples/inno/tarvo_example.iss")"
    silent=(/VERYSILENT /SUPPRESSMSGBOXES)
    windows=(press "Setup - Tarvo TarvoSetup example version 6.0.1" "&Install" box "Tarvo release notes")
    picked="pick=chosen" ;;
esac
mkdir -p "$patches" && touch "$patches/fix.z"

if [ "$mode" = silent ]; then
  (cd "$work" && run ./setup.exe "${silent[@]}")
else
  # window-answerer starts the installer, answers its windows and waits for it.
  status=0
  (cd "$work" && run "$bin/window-answerer.exe" "$(winpath "$work/setup.exe")" "${windows[@]}" \
    pick "Please choose a Patch File" "$(winpath "$patches/fix.z")") >"$work/answers.txt" || status=$?
  if [ "$status" -ne 0 ]; then
    echo "FAILED: window-answerer exited with $status, having printed:"
    sed 's/^/    /' "$work/answers.txt"
    failures=$((failures + 1))
  fi
fi
case $host in  # the results as UTF-8 without a byte-order mark
  nsis-unicode) iconv -f UTF-16 -t UTF-8 "$results" >"$results.utf8" && results=$results.utf8 ;;
  inno) sed '1s/^\xEF\xBB\xBF//' "$results" >"$results.utf8" && results=$results.utf8 ;;
esac

missing="missing=-1 $(run "$bin/test-child.exe" system-text 2 | tr -d '\r\n')"
case $host in
  nsis)
    expect "$results" "execute=seven"
    expect "$results" "output=tarvo-check "
    expect "$results" "$missing" ;;
  nsis-unicode)
    expect "$results" "execute=4 Café" ;;
  inno)
    expect "$results" "execute=7 tarvo-check"
    expect "$results" "$missing"
    expect "$results" "capped=0 0123" ;;
esac
expect "$results" "absent=0"

if [ "$mode" = gui ]; then
  expect "$results" "$picked $(winpath "$patches/fix.z")"
  expect "$work/answers.txt" "box $notes"
  expect "$results" "notice=0"
fi
[ "$failures" -eq 0 ]
