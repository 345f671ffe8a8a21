#!/usr/bin/env bash
# The installed layout and the zip that CPack makes of it.
#   package_test.sh BUILD_DIR WORK_DIR PACKAGE_NAME
set -euo pipefail
build=$1 work=$2 name=$3
rm -rf "$work" && mkdir -p "$work"
cmake --install "$build" --prefix "$work/stage" >/dev/null
failures=0
for file in bin/TarvoSetup.DLL include/tarvo_setup.h include/TarvoSetup.nsh include/TarvoSetup.isi \
            lib/libTarvoSetup.dll.a lib/TarvoSetup.lib doc/README.md doc/reference.md \
            doc/examples/tarvo_example.nsi doc/examples/tarvo_example_unicode.nsi doc/examples/tarvo_example.iss; do
  [ -f "$work/stage/$file" ] || { echo "FAILED: $file is not installed"; failures=$((failures + 1)); }
done
if grep -q '\.debug\|\.stab' <<<"$(i686-w64-mingw32-objdump -h "$work/stage/bin/TarvoSetup.DLL")"; then
  echo "FAILED: the installed DLL is not stripped"; failures=$((failures + 1))
fi
(cd "$build" && cpack -B "$work/package" >/dev/null)
zip=$work/package/$name.zip
if [ -f "$zip" ]; then
  listing=$(unzip -l "$zip")
  for file in bin/TarvoSetup.DLL include/TarvoSetup.nsh include/TarvoSetup.isi; do
    grep -q "$name/$file" <<<"$listing" || { echo "FAILED: the zip lacks $file"; failures=$((failures + 1)); }
  done
else
  echo "FAILED: cpack made no $(basename "$zip")"; failures=$((failures + 1))
fi
echo "installed DLL: $(stat -c %s "$work/stage/bin/TarvoSetup.DLL") bytes"
[ "$failures" -eq 0 ]
