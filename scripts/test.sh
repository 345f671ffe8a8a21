#!/usr/bin/env bash
# Installs what is missing, builds both architectures and runs the whole test suite
# under Wine, on a virtual display for the message boxes and the file dialog. Each
# test's label says how its architecture ran: natively, or under emulation.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
status=0
scripts/with-display.sh ctest --preset default "$@" || status=$?
if [ "$status" -ne 0 ]; then
  echo "test: ctest ended with status $status; the failed tests are listed above, each with its output." >&2
  echo "test: one test again: ctest --preset default -R NAME (under scripts/with-display.sh)." >&2
fi
exit "$status"
