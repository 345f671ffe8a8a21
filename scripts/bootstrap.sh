#!/usr/bin/env bash
# Installs, on Debian 12 as root, whatever the build and the tests need and is missing:
# Debian's packages, and Inno Setup's compiler from the npm registry into build/tools.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake ninja-build
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine32:i386 xvfb xauth
  googletest python3 python3-pefile
  nsis osslsigncode openssl llvm binutils unzip
)

missing=()
if ! grep -qx i386 <<<"$(dpkg --print-foreign-architectures)"; then
  dpkg --add-architecture i386
  need_update=1
fi
# Any npm will do; Debian's only where the machine has none.
command -v npm >/dev/null || packages+=(npm)
for p in "${packages[@]}"; do
  grep -q 'ok installed' <<<"$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "bootstrap: missing packages (${missing[*]}); run as root to install them" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  [ ${#missing[@]} -gt 0 ] && apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Inno Setup 6, pinned with its integrity hash by the lock file; none of it is committed.
innosetup=build/tools/innosetup
if [ ! -f "$innosetup/node_modules/innosetup/bin/ISCC.exe" ] ||
   ! cmp -s tools/innosetup/package-lock.json "$innosetup/package-lock.json"; then
  mkdir -p "$innosetup"
  cp tools/innosetup/package.json tools/innosetup/package-lock.json "$innosetup/"
  npm ci --prefix "$innosetup" --ignore-scripts --no-audit --no-fund --loglevel=error >/dev/null
fi
exit 0
