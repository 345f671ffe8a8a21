#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite under
# Wine, on a virtual display for the message boxes and the file dialog.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
exec scripts/with-display.sh ctest --preset mingw-i686 "$@"
