#!/usr/bin/env bash
# Installs what is missing, configures and builds both architectures; leaves the
# build in build/ (build/x86 and build/x64).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
fail() { echo "build: $1 failed; the lines above say why. $2" >&2; exit 1; }
cmake --preset default >/dev/null || fail "configuring" "Run scripts/bootstrap.sh as root if something is missing."
cmake --build --preset default || fail "building" "A fresh build folder may help: rm -rf build."
# A new Wine prefix prints set-up lines and takes seconds: make each before anything runs.
for arch in x86 x64; do
  scripts/wine-run.sh $arch "$PWD/build/$arch/wineprefix" cmd /c exit 0 >/dev/null ||
    fail "starting $arch Wine" "Run scripts/bootstrap.sh as root: it installs Wine and, where this machine runs no 32-bit code, qemu-i386."
done
