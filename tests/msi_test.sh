#!/usr/bin/env bash
# The Windows Installer custom action MsiRunCommand in packages that wixl builds
# (tests/installers/check.wxs, and the example) and Wine's installer runs: through
# msiexec with its log, and through msi-host, which plays an interface that records
# the progress and answers Cancel.
#   msi_test.sh SOURCE_DIR BIN_DIR WORK_DIR ARCH WINEPREFIX
set -euo pipefail
source "$(dirname "$0")/expect.sh"
source=$1 bin=$2 work=$3 arch=$4 prefix=$5
run() { timeout 120 "$source/scripts/wine-run.sh" "$arch" "$prefix" "$@"; }
rm -rf "$work" && mkdir -p "$work"
cd "$work"
cp "$bin/TarvoSetup.DLL" "$bin/test-child.exe" .
cp test-child.exe tarvo-tool.exe
architecture=()
[ "$arch" = x86 ] || architecture=(-a x64)
product=$(run cmd /c echo %LOCALAPPDATA% | tr -d '\r')\\TarvoCheck
installed=$(run winepath -u "$product" | tr -d '\r')
hex() { printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n'; }

# package NAME SETTINGS: check.wxs with these settings, as NAME.msi.
package() { wixl "${architecture[@]}" -D "Settings=$2" -o "$1.msi" "$source/tests/installers/check.wxs"; }
# install NAME: msiexec's exit code (a Unix status keeps 8 bits of it), its log in NAME.log as UTF-8.
install() {
  # cmd's own status is the installer's too: the echoed code is the one to read.
  run cmd /c "msiexec /i $(winpath "$work/$1.msi") /qn /l*v $(winpath "$work/$1.ansi.log") & echo %ERRORLEVEL%" |
    tr -d '\r' >"$1.code" || true
  iconv -c -f CP1252 -t UTF-8 "$1.ansi.log" | tr -d '\r' >"$1.log"
  # A failed install rolled itself back: only a finished one is there to remove.
  [ "$(cat "$1.code")" != 0 ] || run cmd /c "msiexec /x $(winpath "$work/$1.msi") /qn" >/dev/null || true
}
# result NAME CODE: the exit code, with the action's lines when it is another.
result() {
  check "$1 gives $2 (got $(cat "$1.code"))" [ "$(cat "$1.code")" = "$2" ]
  [ "$(cat "$1.code")" = "$2" ] || grep -a TarvoSetup "$1.log" | sed 's/^/    /'
}
rolled_back() { check "$1 rolled the tool back" [ ! -e "$installed/tarvo-tool.exe" ]; }
# gone FILE: the processes of the tree line in FILE have ended.
gone() {
  local ids
  ids=$(sed -n 's/.*TarvoSetup: tree //p' "$1")
  check "the tree \"$ids\" of $1 has ended" eval '[ -n "$ids" ] && run "$bin/test-child.exe" running $ids >/dev/null'
}

# The lines, in the log as written: brackets, braces and a character beyond ASCII kept.
package lines "/TIMEOUT=60000 \"[INSTALLDIR]tarvo-tool.exe\" bytes $(hex $'[INFO] done {x} [1]\nCaf\xc3\xa9\n')"
install lines
result lines 0
expect lines.log "TarvoSetup: running \"$product\\tarvo-tool.exe\" bytes $(hex $'[INFO] done {x} [1]\nCaf\xc3\xa9\n')"
expect lines.log "TarvoSetup: [INFO] done {x} [1]"
expect lines.log "TarvoSetup: Café"
check "the exit code and the time" grep -q '^TarvoSetup: the command ended with exit code 0 after [0-9]* ms\.$' lines.log

# Exit codes: one that counts as success (/SUCCESS=), one that does not (1603, rolled back).
# /HIDE keeps the command line and its output out of the log, not the exit code.
package restart "/HIDE /SUCCESS=0,3010 \"[INSTALLDIR]tarvo-tool.exe\" echo secret-3010 3010"
install restart
result restart 0
check "/HIDE keeps the secret out of the log" eval '! grep TarvoSetup: restart.log | grep -q secret'
check "/HIDE logs the exit code" grep -q '^TarvoSetup: the command ended with exit code 3010 after' restart.log
package failing "\"[INSTALLDIR]tarvo-tool.exe\" echo failing 5"
install failing
result failing 1603
rolled_back failing
expect failing.log "TarvoSetup: the command ended with exit code 5 after $(sed -n 's/.*exit code 5 after \([0-9]*\) ms.*/\1/p' failing.log) ms, which is none of the exit codes that count as success (/SUCCESS=)."

# The limit ends the tree: 1603, rolled back.
package limit "/TIMEOUT=2000 \"[INSTALLDIR]tarvo-tool.exe\" tree 2 60000"
install limit
result limit 1603
rolled_back limit
expect limit.log "TarvoSetup: the command was ended after its limit of 2000 ms, with every process it started."
gone limit.log

# Bad settings: 1603 with the reason and how to write it; nothing starts.
settings=("/TIMEOUT=soon \"[INSTALLDIR]tarvo-tool.exe\" echo x 0" "/SOON \"[INSTALLDIR]tarvo-tool.exe\" echo x 0"
          "/TIMEOUT=1000 " "C:\\Program Files\\Tarvo\\tool.exe --check")
reasons=("TarvoSetup: bad value in /TIMEOUT=soon. Write /TIMEOUT=600000 (milliseconds), /SUCCESS=0,3010 (exit codes) or /DIR=\"C:\\Program Files\\Tarvo\"."
         "TarvoSetup: unknown option /SOON. Write /TIMEOUT=MS, /SUCCESS=CODE,CODE..., /PROGRESS, /HIDE, /DIR=FOLDER or /WAITTREE, then the command line with its program's full path in quotes."
         "TarvoSetup: no command line after the options. Write the options, then the command line, such as /TIMEOUT=600000 \"[INSTALLDIR]tool.exe\" --check.")
for i in 0 1 2 3; do
  package bad$i "${settings[$i]}"
  install bad$i
  result bad$i 1603
  if [ "$i" -lt 3 ]; then
    expect bad$i.log "${reasons[$i]}"
  else  # an unquoted program path with a space: no program is guessed at
    check "bad$i could not start" grep -q 'TarvoSetup: the command could not start: ' bad$i.log
  fi
done

# Cancel, answered by an interface of the package's own: 1602 within a second, the tree
# gone (Wine rolls nothing back after 1602; Windows does).
package cancel "/TIMEOUT=60000 \"[INSTALLDIR]tarvo-tool.exe\" tree 2 60000"
run "$bin/msi-host.exe" "$(winpath "$work/cancel.msi")" "TarvoSetup: tree" | tr -d '\r' >cancel.txt || true
rm -rf "$installed"  # Wine's msiexec /x waits a minute for a cancelled install, then fails
read -r _ cancelled <<<"$(grep '^cancelled ' cancel.txt)"
read -r _ returned code <<<"$(grep '^result ' cancel.txt)"
check "Cancel gives 1602 within 1 s: $code $((returned - cancelled)) ms after the answer" \
  [ "$code" = 1602 -a $((returned - cancelled)) -lt 1000 ]
gone cancel.txt

# Progress: the bar's ticks follow the command's percentages, in order, and the
# dialog shows its lines.
package progress "/PROGRESS /TIMEOUT=60000 \"[INSTALLDIR]tarvo-tool.exe\" draw curl 4 100"
run "$bin/msi-host.exe" "$(winpath "$work/progress.msi")" | tr -d '\r' >progress.txt || true
run cmd /c "msiexec /x $(winpath "$work/progress.msi") /qn" >/dev/null || true
moves=$(sed -n '/TarvoSetup: running/,$p' progress.txt | awk '$1 == "progress" && ($3 == 0 || ($3 == 2 && $4 > 0)) {print $3, $4}' | head -5 | tr '\n' ' ')
check "the bar resets to 1024000 ticks and moves 256000 at each state: $moves" \
  [ "$moves" = "0 1024000 2 256000 2 256000 2 256000 2 256000 " ]
check "the progressing install gives 0" grep -q '^result [0-9]* 0$' progress.txt
check "the dialog shows the command's lines" grep -q '^actiondata [0-9]* #* *75\.0%$' progress.txt
# The example an author copies: an immediate check, then a deferred step with progress.
mkdir example && cp TarvoSetup.DLL tarvo-tool.exe example/
(cd example && wixl "${architecture[@]}" -o tarvo.msi "$source/examples/msi/tarvo_example.wxs")
run cmd /c "msiexec /i $(winpath "$work/example/tarvo.msi") /qn /l*v $(winpath "$work/example.ansi.log") & echo %ERRORLEVEL%" |
  tr -d '\r' >example.code || true
iconv -c -f CP1252 -t UTF-8 example.ansi.log | tr -d '\r' >example.log
result example 0
check "the example runs its check" grep -q '^TarvoSetup: running ".*\\cmd.exe" /c ver$' example.log
check "the example runs its step" grep -q '^TarvoSetup: done$' example.log
run cmd /c "msiexec /x $(winpath "$work/example/tarvo.msi") /qn" >/dev/null || true
[ "$failures" -eq 0 ]
