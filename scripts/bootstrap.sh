#!/usr/bin/env bash
# Installs, on Debian 12 as root, whatever the build and the tests need and is missing:
# Debian's packages, Inno Setup's compiler from the npm registry into build/tools,
# and, where this machine runs no 32-bit x86 code, qemu-i386 to run the x86 tests.
# TARVO_EMULATE_X86=1 runs them under qemu-i386 on a machine that runs 32-bit code
# too, to try the slow path on purpose; a later run without it takes that back.
# The platform is Debian 12's Wine 8 (a newer Wine, such as Debian 13's 10, would
# also need wine32-preloader for 32-bit installers to load at their fixed base).
set -euo pipefail
cd "$(dirname "$0")/.."
fail() { echo "bootstrap: $*" >&2; exit 1; }

packages=(
  cmake ninja-build
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 wine32:i386 xvfb xauth
  googletest python3 python3-pefile
  nsis osslsigncode openssl llvm binutils unzip
  wixl msitools
)

missing=()
if ! grep -qx i386 <<<"$(dpkg --print-foreign-architectures)"; then
  [ "$(id -u)" -eq 0 ] || fail "the i386 architecture is not enabled for dpkg; run as root to enable it"
  dpkg --add-architecture i386
  need_update=1
fi
# Any npm will do; Debian's only where the machine has none.
command -v npm >/dev/null || packages+=(npm)
for p in "${packages[@]}"; do
  grep -q 'ok installed' <<<"$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
  [ "$(id -u)" -eq 0 ] || fail "missing packages (${missing[*]}); run as root to install them"
  export DEBIAN_FRONTEND=noninteractive
  # A mirror caught mid-sync serves an index of the wrong size for a while. Should the
  # security suite's i386 index stay stale, its amd64 libraries are newer than any
  # i386 twin, which wine32 must match: the main suite's versions are taken instead.
  suite=()
  for attempt in 1 2 3; do
    apt-get update -q -o Acquire::Retries=3 && break
    if [ "$attempt" -eq 3 ]; then
      echo "bootstrap: apt-get update failed three times; installing from bookworm's own suite" >&2
      suite=(-o APT::Default-Release=bookworm)
    else
      echo "bootstrap: apt-get update failed; trying again in 20 s" >&2
      sleep 20
    fi
  done
  [ ${#missing[@]} -eq 0 ] || apt-get install -y -q --no-install-recommends "${suite[@]}" "${missing[@]}" ||
    fail "installing ${missing[*]} failed; the lines above say why (the network, or /etc/apt/sources.list)"
fi

# Inno Setup 6, pinned with its integrity hash by the lock file; none of it is committed.
innosetup=build/tools/innosetup
if [ ! -f "$innosetup/node_modules/innosetup/bin/ISCC.exe" ] ||
   ! cmp -s tools/innosetup/package-lock.json "$innosetup/package-lock.json"; then
  mkdir -p "$innosetup"
  cp tools/innosetup/package.json tools/innosetup/package-lock.json "$innosetup/"
  npm ci --prefix "$innosetup" --ignore-scripts --no-audit --no-fund --loglevel=error >/dev/null ||
    fail "npm could not install Inno Setup's compiler into $innosetup"
fi

# The x86 tests need 32-bit x86 code to run. Some machines (a hypervisor that runs no
# 32-bit code) refuse every 32-bit ELF with "Exec format error"; there, qemu-i386
# runs it, registered for i386 ELF through binfmt_misc with the F flag, so that it
# serves every mount namespace. Debian 12's own qemu 7.2 cannot run Wine 8; qemu 10
# from bookworm-backports can. Its one static binary is unpacked into build/tools,
# without adding the suite to the machine's sources.
runs_32_bit() { /lib/ld-linux.so.2 --version >/dev/null 2>&1; }
binfmt=/proc/sys/fs/binfmt_misc
# Whether the machine itself runs 32-bit code, with our registration set aside.
[ ! -w "$binfmt/qemu-i386" ] || echo 0 >"$binfmt/qemu-i386"
if ! runs_32_bit || [ "${TARVO_EMULATE_X86:-0}" = 1 ]; then
  [ "$(id -u)" -eq 0 ] || fail "this machine runs no 32-bit x86 code; run as root to register qemu-i386 for it"
  qemu=$PWD/build/tools/qemu/usr/bin/qemu-i386
  if [ ! -x "$qemu" ]; then
    apt_dir=$PWD/build/tools/apt
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial"
    echo "deb http://deb.debian.org/debian bookworm-backports main" >"$apt_dir/sources.list"
    apt_options=(-q -o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null
                 -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache::Archives="$apt_dir/archives"
                 -o APT::Get::List-Cleanup=0 -o APT::Sandbox::User=root)
    apt-get "${apt_options[@]}" update >/dev/null || fail "could not read bookworm-backports' package list"
    (cd "$apt_dir" && apt-get "${apt_options[@]}" download 'qemu-user/bookworm-backports' >/dev/null) ||
      fail "could not download qemu-user from bookworm-backports"
    dpkg-deb --fsys-tarfile "$apt_dir"/qemu-user_*.deb | tar -x -C "$PWD/build/tools" --one-top-level=qemu ./usr/bin/qemu-i386 ||
      fail "could not unpack qemu-i386"
  fi
  [ -f "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" ||
    fail "binfmt_misc is not mounted and cannot be"
  # A registration left by an earlier build folder holds its binary open (F): keep it.
  if [ ! -e "$binfmt/qemu-i386" ]; then
    printf '%s' ":qemu-i386:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\xfc\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$qemu:F" \
      >"$binfmt/register" || fail "could not register qemu-i386 with binfmt_misc"
  fi
  echo 1 >"$binfmt/qemu-i386"
  runs_32_bit || fail "32-bit x86 code still cannot run, even through $binfmt/qemu-i386"
fi
exit 0
