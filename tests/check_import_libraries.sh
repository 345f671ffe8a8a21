#!/usr/bin/env bash
# Both import libraries resolve the header's __stdcall names (_Execute@12 and so on)
# and import the DLL's exports by their plain names.
#   check_import_libraries.sh LIB_DIR
set -euo pipefail
lib=$1
failures=0
for library in "$lib/libTarvoSetup.dll.a" "$lib/TarvoSetup.lib"; do
  symbols=$(llvm-nm "$library")
  for name in _SelectPatchFile@8 _Execute@12 _ShowMsg@8 _ShowMsgW@8 _SelectPatchFileW@12 _RunCommand@40; do
    for symbol in "$name" "__imp_$name"; do
      if ! grep -qE " $symbol\$" <<<"$symbols"; then
        echo "FAILED: $(basename "$library") lacks $symbol"
        failures=$((failures + 1))
      fi
    done
  done
done
# The short import records of the Microsoft-format library must undecorate.
types=$(llvm-readobj "$lib/TarvoSetup.lib" | grep -c 'Name type: undecorate' || true)
[ "$types" -eq 6 ] || { echo "FAILED: $types of 6 imports in TarvoSetup.lib undecorate their names"; failures=$((failures + 1)); }
# The MinGW library names the DLL and the plain import names.
for name in SelectPatchFile Execute ShowMsg ShowMsgW SelectPatchFileW RunCommand TarvoSetup.DLL; do
  grep -qx "$name" <<<"$(strings "$lib/libTarvoSetup.dll.a")" || { echo "FAILED: libTarvoSetup.dll.a does not name $name"; failures=$((failures + 1)); }
done
[ "$failures" -eq 0 ] && echo "both import libraries resolve the header's names"
