#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, skipping what is present.
#   scripts/deps.sh            everything
#   scripts/deps.sh --native   only what the Linux vr7 and the simulator need to build
set -euo pipefail

native=(cmake make g++ libcli11-dev nlohmann-json3-dev)
packages=(
  cmake make g++ googletest libgtest-dev               # host build and tests
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix  # Windows builds
  wine wine64                                          # runs the Windows builds
  wine32:i386                                          # runs the 32-bit build, where the kernel can
  libcli11-dev nlohmann-json3-dev                      # the console program's parsing and JSON
  python3 git                                          # the console program's tests, the fresh-clone run
  qemu-system-x86 busybox-static socat                 # real serial drivers in a guest; a pty bridge
  xvfb xauth imagemagick fonts-wqy-microhei            # window tests and screenshots
  nsis                                                 # the installer
  clang libclang-rt-14-dev cppcheck clang-tidy         # sanitizers, fuzzing, static checks
)

[ "${1:-}" = --native ] && packages=("${native[@]}")
missing=()
for p in "${packages[@]}"; do
  [ -n "$p" ] || continue
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
# wine32 is an i386 package: the architecture must be known before the update.
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
# A mirror in the middle of a sync can fail an index: try again, then go on with the
# indexes there are.
for try in 1 2; do
  $sudo apt-get update -q && break
  if [ "$try" -eq 1 ]; then echo "apt-get update failed; trying again in 15 s"; sleep 15; fi
done
install() { DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "$@"; }
if ! install "${missing[@]}"; then
  # Without a usable i386 index (seen: its security index failed to download), the 32-bit
  # packages cannot be installed at the versions of their 64-bit twins. Everything else
  # still can; the Wine tests then find no 32-bit loader and run the 64-bit build.
  rest=()
  for p in "${missing[@]}"; do [[ "$p" == *:i386 ]] || rest+=("$p"); done
  [ ${#rest[@]} -lt ${#missing[@]} ] || exit 1
  echo "Could not install the 32-bit packages: the Wine tests will run the 64-bit build"
  [ ${#rest[@]} -eq 0 ] || install "${rest[@]}"
fi
