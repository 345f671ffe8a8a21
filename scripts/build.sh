#!/usr/bin/env bash
# Installs what is missing, configures and builds; leaves the build in build/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake --preset mingw-i686 >/dev/null
cmake --build --preset mingw-i686
# A new Wine prefix prints set-up lines and takes seconds: make it before anything runs.
scripts/wine-run.sh "$PWD/build/wineprefix" cmd /c exit 0 >/dev/null
