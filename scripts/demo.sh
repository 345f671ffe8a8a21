#!/usr/bin/env bash
# The main job: builds both DLLs and runs a real command through Execute under Wine:
# with the x86 DLL where this machine runs 32-bit code, else with the x64 DLL.
#   scripts/demo.sh ["COMMAND LINE"]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null
# cmd.exe by its full path, as every command line should name its program.
command=${1:-\"C:\\windows\\system32\\cmd.exe\" /c echo Hello from a hidden child process! & ver & echo and a line on stderr 1>&2 & exit 3}
source scripts/emulation.sh
if x86_under_emulation; then
  arch=x64
  echo "This machine runs no 32-bit x86 code natively: the demo uses the x64 DLL (build/x64/bin/TarvoSetup.DLL)."
else
  arch=x86
fi
echo "Execute: $command"
status=0
scripts/wine-run.sh $arch "$PWD/build/$arch/wineprefix" build/$arch/bin/tarvo-host.exe run "$command" || status=$?
if [ "$status" -ne 0 ]; then
  echo "demo: tarvo-host.exe ended with status $status (1: the DLL did not load, 2: usage," \
       "126 or more: Wine could not start it; run scripts/bootstrap.sh as root)." >&2
fi
exit "$status"
