#!/usr/bin/env bash
# Builds an example installer of examples/ as its reader would, runs it under Wine as
# a user does, silently or with its windows answered, and checks what the user sees:
# its exit, its details list (Inno Setup: its log), the files it installs, and that
# nothing is left in its temporary folder; then the uninstaller.
#   example_test.sh HOST MODE SOURCE_DIR BIN_DIR WORK_DIR ARCH WINEPREFIX [ISCC.exe]
# HOST: nsis (ANSI), nsis-unicode or inno, with the x86 DLL; nsis-amd64 with the x64 DLL.
set -euo pipefail
source "$(dirname "$0")/expect.sh"
host=$1 mode=$2 source=$3 bin=$4 work=$5 arch=$6 prefix=$7 iscc=${8:-}
run() { timeout 120 "$source/scripts/wine-run.sh" "$arch" "$prefix" "$@"; }

rm -rf "$work" && mkdir -p "$work/temp" "$work/patches"
app=$work/Tarvo
touch "$work/patches/fix.z"
case $host in
  nsis*)
    script=$source/examples/nsis/tarvo_example_unicode.nsi target=()
    [ "$host" != nsis ] || script=$source/examples/nsis/tarvo_example.nsi
    [ "$host" != nsis-amd64 ] || target=(-DAMD64)
    makensis -V2 "${target[@]}" -DTARVO_SETUP_DLL="$bin/TarvoSetup.DLL" -DTARVO_TOOL="$bin/test-child.exe" \
      -DOUTFILE="$work/setup.exe" "$script"
    silent=/S arguments="/D=$(winpath "$app")" installed="release-notes.txt tarvo-tool.exe uninstall.exe"
    title="Tarvo Setup: Completed"
    windows=(box "Tarvo release notes" pick "Please choose a Patch File" "$(winpath "$work/patches/fix.z")"
             wait "$title" Completed details "$title" press "$title" "&Close") ;;
  inno)
    run "$iscc" /Q "/DTarvoSetupDll=$(winpath "$bin/TarvoSetup.DLL")" "/DTarvoTool=$(winpath "$bin/test-child.exe")" \
      "/O$(winpath "$work")" /Fsetup "$(winpath "$source/examples/inno/tarvo_example.iss")"
    silent="/VERYSILENT /SUPPRESSMSGBOXES" arguments="/DIR=$(winpath "$app") /LOG=$(winpath "$work/setup.log")"
    installed="release-notes.txt tarvo-tool.exe unins000.dat unins000.exe"
    windows=(press "Setup - Tarvo version 6.0.1" "&Install" box "Tarvo release notes"
             pick "Please choose a Patch File" "$(winpath "$work/patches/fix.z")") ;;
esac

# The installer gets a temporary folder of its own, to see that it leaves it empty.
temp=$(winpath "$work/temp")
installer="cmd /c set TEMP=$temp&& set TMP=$temp&& $(winpath "$work/setup.exe")"
status=0
if [ "$mode" = silent ]; then
  (cd "$work" && run $installer $silent $arguments >"$work/answers.txt") || status=$?
  echo "host exit code $status" >>"$work/answers.txt"
else
  (cd "$work" && run "$bin/window-answerer.exe" "$installer $arguments" "${windows[@]}") >"$work/answers.txt" || status=$?
fi
expect "$work/answers.txt" "host exit code 0"
[ "$status" -eq 0 ] || { echo "FAILED: the installer's run ended with $status:"; sed 's/^/    /' "$work/answers.txt"; failures=$((failures + 1)); }

found=$(cd "$app" 2>/dev/null && ls | tr '\n' ' ' | sed 's/ $//' || true)
check "installs $installed (found: $found)" [ "$found" = "$installed" ]
left=$(ls -A "$work/temp")
check "leaves its temporary folder empty (found: $left)" [ -z "$left" ]

# What the user reads: each command's lines, a state only where it stays the last one,
# and no blank line for a state that was erased.
if [ "$host" = inno ]; then
  shown=$work/setup.log
  sed -i 's/^[0-9-]* [0-9:.]*  *//' "$shown"
else
  shown=$work/details.txt
  sed -n 's/^detail //p' "$work/answers.txt" >"$shown"
fi
if [ "$host" != inno ] && [ "$mode" = silent ]; then
  echo "ok: a silent install shows no details"
else
  for line in "line 0" "line 2" "out 0" "err 2"; do
    expect "$shown" "$line"
  done
fi
if [ "$host" != inno ] && [ "$mode" = gui ]; then
  expect "$shown" "Tarvo's tool reports version 6.0.1"
  expect "$shown" "done"  # the progress command's last line, after its states
  check "no blank item in the details list" eval '! grep -qx "[[:space:]]*" "$shown"'
fi
[ "$mode" = silent ] || expect "$shown" "Patch file: $(winpath "$work/patches/fix.z")"

# The uninstaller removes what the installer put there (NSIS's, run in place, all but itself).
if [ "$host" = inno ]; then
  run "$app/unins000.exe" /VERYSILENT /SUPPRESSMSGBOXES
  for waited in $(seq 50); do [ -e "$app" ] || break; sleep 0.2; done
  remaining=$(ls "$app" 2>/dev/null | tr '\n' ' ' || true)
else
  run "$app/uninstall.exe" /S "_?=$(winpath "$app")"
  remaining=$(ls "$app" | tr '\n' ' ' | sed 's/ $//')
  [ "$remaining" != uninstall.exe ] || remaining=
fi
check "the uninstaller removes the product (left: $remaining)" [ -z "$remaining" ]
[ "$failures" -eq 0 ]
