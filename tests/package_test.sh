#!/usr/bin/env bash
# The distribution of both architectures, as installed and as the zip that CPack
# makes of it: NSIS's plug-in folders, Include\, and a folder per architecture.
#   package_test.sh BUILD_DIR WORK_DIR PACKAGE_NAME
set -euo pipefail
source "$(dirname "$0")/expect.sh"
build=$1 work=$2 name=$3
rm -rf "$work" && mkdir -p "$work"
cmake --install "$build" --prefix "$work/stage" >/dev/null
files=(Plugins/x86-ansi/TarvoSetup.DLL Plugins/x86-unicode/TarvoSetup.DLL Plugins/amd64-unicode/TarvoSetup.DLL
       Include/tarvo_setup.h Include/TarvoSetup.nsh Include/TarvoSetup.isi
       x86/TarvoSetup.DLL x86/libTarvoSetup.dll.a x86/TarvoSetup.lib
       x64/TarvoSetup.DLL x64/libTarvoSetup.dll.a x64/TarvoSetup.lib
       doc/README.md doc/reference.md doc/examples/tarvo_example.nsi doc/examples/tarvo_example_unicode.nsi
       doc/examples/tarvo_example.iss doc/examples/tarvo_example.wxs)
for file in "${files[@]}"; do
  [ -f "$work/stage/$file" ] || { echo "FAILED: $file is not installed"; failures=$((failures + 1)); }
done

# Each DLL where its hosts look for it, of the right machine, stripped.
# dll_is FILE FORMAT: objdump's name for the file's format (pei-i386, pei-x86-64).
dll_is() {
  local headers
  headers=$(x86_64-w64-mingw32-objdump -h "$1" 2>&1 || true)
  grep -q "file format $2" <<<"$headers" || { echo "FAILED: ${1#"$work/stage/"} is not $2"; failures=$((failures + 1)); }
  if grep -q '\.debug\|\.stab' <<<"$headers"; then echo "FAILED: ${1#"$work/stage/"} is not stripped"; failures=$((failures + 1)); fi
}
for file in Plugins/x86-ansi Plugins/x86-unicode x86; do
  dll_is "$work/stage/$file/TarvoSetup.DLL" pei-i386
  cmp -s "$work/stage/$file/TarvoSetup.DLL" "$work/stage/x86/TarvoSetup.DLL" ||
    { echo "FAILED: $file holds another x86 DLL than x86/"; failures=$((failures + 1)); }
done
for file in Plugins/amd64-unicode x64; do
  dll_is "$work/stage/$file/TarvoSetup.DLL" pei-x86-64
done

# TarvoSetup.nsh in the distribution's Include\ takes the DLL of the installer's width.
for target in x86-unicode amd64-unicode; do
  printf '%s\n' "Target $target" "OutFile probe.exe" '!include "${__FILEDIR__}\stage\Include\TarvoSetup.nsh"' \
    '!echo "takes ${TARVO_SETUP_DLL}"' 'Section' '${TarvoExecute} "" $0 $1' 'SectionEnd' >"$work/probe.nsi"
  arch=$([ $target = amd64-unicode ] && echo x64 || echo x86)
  if ! (cd "$work" && makensis -V4 probe.nsi) >"$work/probe-$target.txt" 2>&1; then
    echo "FAILED: a $target script with the distribution's TarvoSetup.nsh did not compile:"
    sed 's/^/    /' "$work/probe-$target.txt"; failures=$((failures + 1))
  fi
  grep -Eq "takes .*stage/Include/+\.\./$arch/TarvoSetup.DLL" <<<"$(tr '\\' / <"$work/probe-$target.txt")" ||
    { echo "FAILED: a $target script did not take $arch/TarvoSetup.DLL: $(grep '^takes' "$work/probe-$target.txt")"
      failures=$((failures + 1)); }
done

(cd "$build" && cpack -B "$work/package" >/dev/null)
zip=$work/package/$name.zip
if [ -f "$zip" ]; then
  listing=$(unzip -l "$zip")
  for file in "${files[@]}"; do
    grep -q "$name/$file" <<<"$listing" || { echo "FAILED: the zip lacks $file"; failures=$((failures + 1)); }
  done
else
  echo "FAILED: cpack made no $(basename "$zip")"; failures=$((failures + 1))
fi
echo "installed DLLs: x86 $(stat -c %s "$work/stage/x86/TarvoSetup.DLL") bytes," \
     "x64 $(stat -c %s "$work/stage/x64/TarvoSetup.DLL") bytes"
[ "$failures" -eq 0 ]
