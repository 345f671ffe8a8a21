#!/usr/bin/env bash
# Both import libraries resolve the header's names and import the DLL's exports by
# their plain names: on x86 the __stdcall names (_Execute@12 and so on), which the
# Microsoft-format library undecorates; on x64, where nothing is decorated, the
# plain names themselves.
#   check_import_libraries.sh LIB_DIR x86|x64
set -euo pipefail
lib=$1 arch=$2
exports=(SelectPatchFile Execute ShowMsg ShowMsgW SelectPatchFileW RunCommand StartCommand WaitCommand StopCommand
         CloseCommand ReadPercentage MsiRunCommand)
if [ "$arch" = x86 ]; then
  names=(_SelectPatchFile@8 _Execute@12 _ShowMsg@8 _ShowMsgW@8 _SelectPatchFileW@12 _RunCommand@40
         _StartCommand@32 _WaitCommand@28 _StopCommand@4 _CloseCommand@4 _ReadPercentage@8 _MsiRunCommand@4)
  name_type=undecorate
else
  names=("${exports[@]}")
  name_type=name
fi
failures=0
for library in "$lib/libTarvoSetup.dll.a" "$lib/TarvoSetup.lib"; do
  symbols=$(llvm-nm "$library")
  for name in "${names[@]}"; do
    for symbol in "$name" "__imp_$name"; do
      if ! grep -qE " $symbol\$" <<<"$symbols"; then
        echo "FAILED: $(basename "$library") lacks $symbol"
        failures=$((failures + 1))
      fi
    done
  done
done
# The short import records of the Microsoft-format library import by plain name: the
# header's twelve and the eight NSIS plug-in commands, C functions (on x86, _Run is Run).
types=$(llvm-readobj "$lib/TarvoSetup.lib" | sed -n 's/^ *Name type: //p' | sort | uniq -c | awk '{print $2 "=" $1}' | tr '\n' ' ')
wanted=$([ "$arch" = x86 ] && echo "noprefix=8 undecorate=12 " || echo "name=20 ")
[ "$types" = "$wanted" ] || { echo "FAILED: the imports in TarvoSetup.lib have the name types $types, not $wanted"; failures=$((failures + 1)); }
expected=$([ "$arch" = x86 ] && echo COFF-i386 || echo COFF-x86-64)
for library in "$lib/libTarvoSetup.dll.a" "$lib/TarvoSetup.lib"; do
  formats=$(llvm-readobj "$library" | sed -n 's/^Format: //p' | grep -v import-file | sort -u)
  [ "$formats" = "$expected" ] || { echo "FAILED: $(basename "$library") holds $formats, not $expected"; failures=$((failures + 1)); }
done
# The MinGW library names the DLL and the plain import names.
for name in "${exports[@]}" TarvoSetup.DLL; do
  grep -qx "$name" <<<"$(strings "$lib/libTarvoSetup.dll.a")" || { echo "FAILED: libTarvoSetup.dll.a does not name $name"; failures=$((failures + 1)); }
done
[ "$failures" -eq 0 ] && echo "both $arch import libraries resolve the header's names"
