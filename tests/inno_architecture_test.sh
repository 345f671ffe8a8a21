#!/usr/bin/env bash
# TarvoSetup.isi takes, without TarvoSetupDll, the DLL of the Setup's architecture
# from the distribution's layout, and pointers as wide as the Setup's. Inno Setup 6 builds 32-bit Setups only and refuses
# Inno Setup 7's SetupArchitecture=x64, so the 64-bit choice is read from the
# preprocessor's translation, which is saved before the compiler refuses it.
#   inno_architecture_test.sh SOURCE_DIR WORK_DIR WINEPREFIX ISCC.exe
set -euo pipefail
source "$(dirname "$0")/expect.sh"
source=$1 work=$2 prefix=$3 iscc=$4
rm -rf "$work" && mkdir -p "$work/Include" "$work/x86" "$work/x64"
cp "$source/include/TarvoSetup.isi" "$work/Include/"
touch "$work/x86/TarvoSetup.DLL" "$work/x64/TarvoSetup.DLL"  # only their places count here

for arch in x86 x64; do
  directive="" pointer=Longword
  [ "$arch" = x86 ] || directive="SetupArchitecture=x64" pointer=NativeInt
  printf '%s\r\n' "[Setup]" "AppName=Tarvo $arch" "AppVersion=1" "CreateAppDir=no" "$directive" \
    '#include "Include\TarvoSetup.isi"' \
    "#expr SaveToFile(AddBackslash(SourcePath) + \"$arch-translation.iss\")" >"$work/$arch.iss"
  status=0
  "$source/scripts/wine-run.sh" x86 "$prefix" "$iscc" /Q "/O$(winpath "$work")" "/F$arch" \
    "$(winpath "$work/$arch.iss")" >"$work/$arch-compiler.txt" 2>&1 || status=$?
  expect "$work/$arch-translation.iss" \
    "Source: \"$(winpath "$work/$arch/TarvoSetup.DLL")\"; DestName: \"TarvoSetup.DLL\"; Flags: dontcopy"
  expect "$work/$arch-translation.iss" "  TTarvoPointer = $pointer;"
  if [ "$arch" = x86 ] && [ "$status" -ne 0 ]; then
    echo "FAILED: the 32-bit Setup did not compile:"; sed 's/^/    /' "$work/$arch-compiler.txt"
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ]
