#!/usr/bin/env bash
# The main job: builds the DLL and runs a real command through Execute under Wine.
#   scripts/demo.sh ["COMMAND LINE"]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null
# cmd.exe by its full path, as every command line should name its program.
command=${1:-\"C:\\windows\\system32\\cmd.exe\" /c echo Hello from a hidden child process! & ver & echo and a line on stderr 1>&2 & exit 3}
echo "Execute: $command"
scripts/wine-run.sh "$PWD/build/wineprefix" build/bin/tarvo-host.exe run "$command"
