#!/usr/bin/env bash
# Builds one of the suite's installers (tests/installers) around the built DLL,
# through the include file of its installer, runs it under Wine and checks what it
# recorded of every call.
#   installer_test.sh HOST MODE SOURCE_DIR BIN_DIR WORK_DIR ARCH WINEPREFIX [ISCC.exe]
# HOST: nsis (ANSI), nsis-unicode or inno, with the x86 DLL; nsis-amd64 (the Unicode
#       installer as a 64-bit one) with the x64 DLL.
# MODE: silent, with no window at all; or gui, where window-answerer also answers
#       the notice box and the patch-file dialog (and Inno's Install button).
set -euo pipefail
source "$(dirname "$0")/expect.sh"
host=$1 mode=$2 source=$3 bin=$4 work=$5 arch=$6 prefix=$7 iscc=${8:-}
# Wine reads our arguments (the Unicode patch folder) in the locale's character set.
export LC_ALL=C.UTF-8
run() { timeout 120 "$source/scripts/wine-run.sh" "$arch" "$prefix" "$@"; }

rm -rf "$work" && mkdir -p "$work"
results=$work/tarvo-results.txt
# The Unicode installers show UTF-8 release notes from a folder whose name no ANSI
# code page spells, and are handed a patch file in such a folder.
notes='Tarvo release notes: Grüße – ✓ Ω'
patches=$work/Ωμέγα-Юникод-統一碼
case $host in
  nsis)
    makensis -V2 -DTARVO_SETUP_DLL="$bin/TarvoSetup.DLL" -DTARVO_TOOL="$bin/test-child.exe" \
      -DTARVO_RECORD_DETAILS="$source/tests/installers/record_details.nsh" -DOUTFILE="$work/setup.exe" \
      "$source/tests/installers/check_ansi.nsi"
    silent=(/S) windows=(box "Tarvo release notes") picked="pick=1" ended_by_limit=timeout
    title="Tarvo TarvoSetup example Setup: Installing"
    notes='Tarvo release notes: Welcome to Tarvo.\r\nThis notice came from the installer.' patches=$work ;;
  nsis-unicode | nsis-amd64)
    target=()
    [ "$host" = nsis-unicode ] || target=(-DAMD64)
    makensis -V2 "${target[@]}" -DTARVO_SETUP_DLL="$bin/TarvoSetup.DLL" -DTARVO_TOOL="$bin/test-child.exe" \
      -DTARVO_RECORD_DETAILS="$source/tests/installers/record_details.nsh" -DOUTFILE="$work/setup.exe" \
      "$source/tests/installers/check_unicode.nsi"
    silent=(/S) windows=(box "Tarvo release notes") picked="pick=1" ended_by_limit=timeout
    title="Tarvo TarvoSetup Unicode example Setup: Installing" ;;
  inno)
    run "$iscc" /Q "/DTarvoSetupDll=$(winpath "$bin/TarvoSetup.DLL")" "/DTarvoTool=$(winpath "$bin/test-child.exe")" \
      "/DTarvoRecordRuns=$(winpath "$source/tests/installers/record_runs.iss")" "/O$(winpath "$work")" /Fsetup "$(winpath "$source/tests/installers/check.iss")"
    silent=(/VERYSILENT /SUPPRESSMSGBOXES "/LOG=$(winpath "$work/setup.log")")
    windows=(press "Setup - Tarvo TarvoSetup example version 6.0.1" "&Install" box "Tarvo release notes")
    picked="pick=chosen" ended_by_limit=1460 ;;
esac
mkdir -p "$patches" && touch "$patches/fix.z"
# After the patch file, in the NSIS installers: the bar of a command with /PROGRESS,
# its Cancel pressed and answered No; then, once "cancel-next" shows, another's
# Cancel answered Yes.
# In Inno's, the same on the progress page, whose question is Setup's exit question, in
# the other order: first the command that tells no percentage, whose page shows a
# marquee from the start.
if [ "$host" = inno ]; then
  title="Setup - Tarvo TarvoSetup example version 6.0.1"
  later=(wait "$title" "tree " marquee "$title" press "$title" Cancel answer "Exit Setup" Yes
         wait "$title" "#" bar "$title" 3 press "$title" Cancel answer "Exit Setup" No)
else
  later=(wait "$title" "#" bar "$title" 3 press "$title" Cancel answer "$title" No wait "$title" cancel-next
         press "$title" Cancel answer "$title" Yes)
fi
# A cmd.exe beside the installer, where a downloads folder may hold one: the test
# child, which answers "/c exit 8" with 99.
[ "$host" = inno ] || cp "$bin/test-child.exe" "$work/cmd.exe"

if [ "$mode" = silent ]; then
  (cd "$work" && run ./setup.exe "${silent[@]}")
else
  # window-answerer starts the installer, answers its windows and waits for it.
  status=0
  installer=$(winpath "$work/setup.exe")
  [ "$host" != inno ] || installer="$installer \"${silent[2]}\""  # Inno's log
  (cd "$work" && run "$bin/window-answerer.exe" "$installer" "${windows[@]}" \
    pick "Please choose a Patch File" "$(winpath "$patches/fix.z")" "${later[@]}") >"$work/answers.txt" || status=$?
  if [ "$status" -ne 0 ]; then
    echo "FAILED: window-answerer exited with $status, having printed:"
    sed 's/^/    /' "$work/answers.txt"
    failures=$((failures + 1))
  fi
fi
# The installer's last step is its last write of the results.
ended_after=$(( $(date +%s%3N) - $(stat -c %.3Y "$results" | tr -d .) ))
uninstalled=$work/tarvo-uninstall-results.txt
if [ "$host" != inno ]; then  # the uninstaller the installer wrote, run in place (_?=)
  (cd "$work" && run ./uninstall.exe /S "_?=$(winpath "$work")")
fi
case $host in  # the results as UTF-8 without a byte-order mark
  nsis-unicode | nsis-amd64)
    iconv -f UTF-16 -t UTF-8 "$results" >"$results.utf8" && results=$results.utf8
    iconv -f UTF-16 -t UTF-8 "$uninstalled" >"$uninstalled.utf8" && uninstalled=$uninstalled.utf8 ;;
  inno) sed '1s/^\xEF\xBB\xBF//' "$results" >"$results.utf8" && results=$results.utf8 ;;
esac

missing="missing=-1 $(run "$bin/test-child.exe" system-text 2 | tr -d '\r\n')"
case $host in
  nsis)
    expect "$results" "execute=seven"
    expect "$results" "output=tarvo-check "
    expect "$results" "$missing" ;;
  nsis-unicode | nsis-amd64)
    expect "$results" "execute=4 Café" ;;
  inno)
    expect "$results" "execute=7 tarvo-check"
    expect "$results" "$missing"
    expect "$results" "capped=0 0123" ;;
esac
expect "$results" "absent=0"

# The limit ended the command and what it started, within a second of it.
read -r outcome elapsed tree started <<<"$(sed -n 's/^limit=//p' "$results" | tr -d '\r')"
if [ "$outcome" != "$ended_by_limit" ] || [ "$elapsed" -lt 2900 ] || [ "$elapsed" -ge 4000 ] || [ "$tree" != tree ]; then
  echo "FAILED: expected the limit of 3000 ms to end the command within a second as $ended_by_limit, got: $outcome $elapsed $tree $started"
  failures=$((failures + 1))
elif ! run "$bin/test-child.exe" running $started >"$work/running.txt"; then
  echo "FAILED: processes of the ended tree still run: $(tr '\r\n' '  ' <"$work/running.txt")"
  failures=$((failures + 1))
fi
expect "$results" "tolog=0"
if [ "$host" != inno ]; then  # the plug-in commands, in installer and uninstaller
  expect "$results" "run=5"
  expect "$results" "stack=4 tarvo-stack"
  expect "$results" "option=error"
  expect "$results" "bare=8"
  plugins=$(sed -n 's/^pluginsdir=//p' "$results" | tr -d '\r')
  expect "$results" "registers=3 60000 \"$plugins\\tarvo-tool.exe\" echo registers 3"
  read -r code elapsed <<<"$(sed -n 's/^waittree=//p' "$results" | tr -d '\r')"
  [ "$code" = 6 ] && [ "$elapsed" -ge 1400 ] && echo "ok: /WAITTREE waited $elapsed ms for the tree" ||
    { echo "FAILED: expected /WAITTREE to return 6 after the grandchild's 1500 ms, got: $code $elapsed"; failures=$((failures + 1)); }
  expect "$uninstalled" "uninstall=9"
  expect "$uninstalled" "uninstall-wait=10"
  # NSIS deletes its plug-ins folder when the installer ends, if nothing holds a file
  # of it: a DLL left loaded would stay behind in the user's %TEMP%.
  for file in "$results" "$uninstalled"; do
    folder=$(sed -n 's/^pluginsdir=//p' "$file" | tr -d '\r')
    folder=$(run winepath -u "$folder" 2>/dev/null | tr -d '\r')
    if [ -z "$folder" ] || [ -n "$(find "$folder" -iname tarvosetup.dll 2>/dev/null)" ]; then
      echo "FAILED: TarvoSetup.DLL is left in the plug-ins folder \"$folder\" of $(basename "$file")"
      failures=$((failures + 1))
    else
      echo "ok: no TarvoSetup.DLL left in $folder"
    fi
  done
fi
# expect_sequence FILE PATTERN LINE...: the lines of FILE that match PATTERN are these, in this order.
expect_sequence() {
  local file=$1 pattern=$2
  shift 2
  local found
  found=$(tr -d '\r' <"$file" | grep -oE "$pattern" || true)
  if [ "$found" = "$(printf '%s\n' "$@")" ]; then
    echo "ok: $* in order"
  else
    echo "FAILED: expected in $(basename "$file") the lines $*, in order; found: $found"
    failures=$((failures + 1))
  fi
}
# Start now, wait later: the lines of the run that went on while files were copied.
if [ "$host" = inno ]; then
  expect "$results" "waited=0 0"
  expect_sequence "$work/setup.log" 'line [0-2]$' "line 0" "line 1" "line 2"
  temporary=$(sed -n 's/^tmp=//p' "$results" | tr -d '\r')
else
  expect "$results" "waited=1 0"
  temporary=$plugins
fi
# Runs that nobody waited for (of 30 s, stopped, ended by itself): the installer ends
# them with their trees at its end, within 5 s of its last step, and leaves no file.
# (Runs that a Cancel button can end take numbers too: with windows, two more; and
# Inno's progress page takes one in any case.)
case $host-$mode in
  *-gui) expect "$results" "unwaited=4 5 6" ;;
  inno-silent) expect "$results" "unwaited=3 4 5" ;;
  *) expect "$results" "unwaited=2 3 4" ;;
esac
if [ "$ended_after" -ge 5000 ]; then
  echo "FAILED: expected the installer to end within 5 s of its last step, it took $ended_after ms"
  failures=$((failures + 1))
fi
left=$(pgrep -af -- "${temporary##*\\}" || true)
if [ -n "$left" ]; then
  echo "FAILED: processes of the runs nobody waited for still run: $left"
  failures=$((failures + 1))
  pkill -f -- "${temporary##*\\}" || true
fi
folder=$(run winepath -u "$temporary" 2>/dev/null | tr -d '\r')
if [ -z "$temporary" ] || [ -e "$folder" ]; then
  echo "FAILED: the installer left its temporary folder \"$temporary\": $(ls "$folder" 2>&1 | tr '\n' ' ')"
  failures=$((failures + 1))
else
  echo "ok: the installer ended $ended_after ms after its last step, with no process or file of its runs left"
fi
if [ "$host" != nsis ]; then  # the Unicode installers
  expect "$results" "oem=0 Café"
  expect "$results" "utf8=0 Café"
  unicode=$(grep '^unicode=' "$results" | tr -d '\r')
  [[ $unicode == "unicode=0 "*'\Ωμέγα-Юникод-統一碼' ]] && echo "ok: $unicode" ||
    { echo "FAILED: expected the tool to run in its Unicode folder, got: $unicode"; failures=$((failures + 1)); }
fi
lines=("out 0" "err 0" "out 1" "err 1" "out 2" "err 2")
states=("get 10%" "get 60%" "get 100%")  # a progress line redrawn with bare CRs
expect "$results" "states=0"
if [ "$host" = inno ]; then
  expect_sequence "$work/setup.log" '(out|err) [0-2]$' "${lines[@]}"
  expect_sequence "$work/setup.log" 'get [0-9]+%$' "${states[@]}"
  expect "$results" "withlines=0"
  expect_sequence "$results" '^progress=.*' "${lines[@]/#/progress=}"
fi

# Progress and Cancel: the example's command ran to its end (No was the answer).
[ "$host" = inno ] && expect "$results" "withprogress=0 0" || expect "$results" "withprogress=0"
if [ "$mode" = gui ]; then
  # The bar showed the command's states, in order: 6 states of 1/6 (Inno's page
  # rounds to its own scale: within a tenth).
  read -r -a shown <<<"$(sed -n "s/^bar $title: //p" "$work/answers.txt" | tr -d '\r')"
  previous=0 ordered=${#shown[@]}
  for position in "${shown[@]}"; do
    step=$(( (position * 6 + 500) / 1000 ))
    [ $((position - step * 1000 / 6)) -le 1 ] && [ $((step * 1000 / 6 - position)) -le 1 ] &&
      [ "$position" -gt "$previous" ] || ordered=0
    previous=$position
  done
  [ "$ordered" -ge 3 ] && echo "ok: the bar showed ${shown[*]}" ||
    { echo "FAILED: expected the bar to show 3 of the states 166 333 500 666 833 1000 in order, got: ${shown[*]}"; failures=$((failures + 1)); }
  # Yes ended the tree within a second of the box's end, and the wait gave cancel.
  answered=$(sed -n '/^answered Yes at /{n;s/^box gone at //p}' "$work/answers.txt" | tr -d '\r')
  read -r outcome returned tree started <<<"$(sed -n 's/^cancelled=//p' "$results" | tr -d '\r')"
  cancelled=$([ "$host" = inno ] && echo 1223 || echo cancel)
  if [ "$outcome" != "$cancelled" ] || [ -z "$answered" ] || [ $((returned - answered)) -ge 1000 ]; then
    echo "FAILED: expected $cancelled within 1 s of Yes, got: $outcome $returned $tree $started (Yes at $answered)"
    failures=$((failures + 1))
  elif [ "$host" != inno ] && ! run "$bin/test-child.exe" running $started >"$work/running.txt"; then
    echo "FAILED: processes of the cancelled tree still run: $(tr '\r\n' '  ' <"$work/running.txt")"
    failures=$((failures + 1))
  else
    echo "ok: Cancel answered Yes ended the tree $((returned - answered)) ms after the answer"
  fi
fi
if [ "$mode" = gui ] && [ "$host" = inno ]; then
  # The wizard's buttons as they were.
  mapfile -t buttons < <(sed -n 's/^buttons=//p' "$results" | tr -d '\r')
  [ "${#buttons[@]}" -eq 2 ] && [ "${buttons[0]}" = "${buttons[1]}" ] && echo "ok: the wizard's buttons as they were: ${buttons[0]}" ||
    { echo "FAILED: expected the wizard's buttons as before, got: ${buttons[*]}"; failures=$((failures + 1)); }
elif [ "$mode" = gui ]; then
  # The page as it was: NSIS's bar near where it stood (not at the command's 100%),
  # its Cancel button as disabled and visible as before.
  mapfile -t pages < <(sed -n 's/^page=//p' "$results" | tr -d '\r')
  read -r before enabled visible <<<"${pages[0]:-}"
  read -r after enabled2 visible2 <<<"${pages[1]:-}"
  if [ "${#pages[@]}" -eq 3 ] && [ "${pages[2]#* }" = "$enabled $visible" ] && [ "$enabled2 $visible2" = "$enabled $visible" ] &&
     [ "$after" -ne 30000 ] && [ $((after - before)) -lt 3000 ] && [ $((before - after)) -lt 3000 ]; then
    echo "ok: the page as it was after each command: ${pages[*]}"
  else
    echo "FAILED: expected the page (bar, Cancel enabled, visible) as before after each command, got: ${pages[*]}"
    failures=$((failures + 1))
  fi
fi
if [ "$mode" = gui ]; then
  expect "$results" "$picked $(winpath "$patches/fix.z")"
  expect "$work/answers.txt" "box $notes"
  expect "$results" "notice=0"
  if [ "$host" != inno ]; then
    expect_sequence "$results" '^detail=(out|err) [0-2]$' "${lines[@]/#/detail=}"
    expect_sequence "$results" '^detail=get [0-9]+%$' "detail=get 100%"  # the states replaced each other
    expect_sequence "$results" '^detail=.*file[0-9]\.bin$' "detail=100% + file3.bin"  # blanks erased none
  fi
fi
[ "$failures" -eq 0 ]
