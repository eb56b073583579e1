#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, skipping what is present.
set -euo pipefail

packages=(
  cmake make g++ googletest libgtest-dev               # host build and tests
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix  # Windows builds
  wine wine64                                          # runs the Windows builds
  xvfb xauth imagemagick fonts-wqy-microhei            # window tests and screenshots
  nsis                                                 # the installer
  clang libclang-rt-14-dev cppcheck clang-tidy         # sanitizers, fuzzing, static checks
)

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
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
