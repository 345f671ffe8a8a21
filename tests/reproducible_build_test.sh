#!/usr/bin/env bash
# Two clean builds of the same sources, in different folders, give the same DLL byte
# for byte; and the optional signing step signs it so that the signature verifies.
#   reproducible_build_test.sh SOURCE_DIR WORK_DIR TOOLCHAIN_FILE
set -euo pipefail
source=$1 work=$2 toolchain=$(basename "$3")
rm -rf "$work" && mkdir -p "$work"

build_copy() {  # build_copy FOLDER [CMAKE ARGS...]: the DLL from a fresh copy of the sources
  local folder=$1
  shift
  mkdir -p "$folder"
  tar -C "$source" --exclude=./build --exclude='./build-*' --exclude=./.git -cf - . | tar -C "$folder" -xf -
  cmake -S "$folder" -B "$folder/out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$folder/cmake/$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF "$@" >/dev/null
  cmake --build "$folder/out" --target TarvoSetup >/dev/null
}

build_copy "$work/first"
build_copy "$work/second/elsewhere"
a=$work/first/out/bin/TarvoSetup.DLL
b=$work/second/elsewhere/out/bin/TarvoSetup.DLL
if cmp "$a" "$b"; then
  echo "reproducible: $(sha256sum <"$a" | cut -c1-16)... both builds, $(stat -c %s "$a") bytes"
else
  echo "FAILED: two builds of the same sources differ"
  exit 1
fi
for path in "$source" "$work"; do
  if grep -qaF "$path" "$a"; then echo "FAILED: the DLL holds the build path $path"; exit 1; fi
done

# A throwaway self-signed certificate, made here and now.
keys=$work/keys
mkdir -p "$keys"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tarvo Test Signing" \
  -keyout "$keys/key.pem" -out "$keys/cert.pem" 2>/dev/null
echo throwaway >"$keys/password"
openssl pkcs12 -export -inkey "$keys/key.pem" -in "$keys/cert.pem" -out "$keys/cert.p12" -passout file:"$keys/password"
cmake -S "$work/first" -B "$work/first/out" -DTARVO_SIGN_PKCS12="$keys/cert.p12" \
  -DTARVO_SIGN_PASSWORD_FILE="$keys/password" >/dev/null
cmake --build "$work/first/out" --target TarvoSetup >/dev/null
if cmp -s "$a" "$b"; then echo "FAILED: the signing build left the DLL unsigned"; exit 1; fi
osslsigncode verify -CAfile "$keys/cert.pem" -in "$a" >"$work/verify.txt" 2>&1 || true
if grep -q 'Signature verification: ok' "$work/verify.txt"; then
  echo "signed: the signature verifies against the throwaway certificate"
else
  echo "FAILED: the signature does not verify:"
  cat "$work/verify.txt"
  exit 1
fi
