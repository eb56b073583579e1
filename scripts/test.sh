#!/usr/bin/env bash
# The test command: installs what is missing, builds everything, runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)

scripts/deps.sh

step() { printf '\n=== %s\n' "$*"; }

step "Host build: portable code, simulator, host tests"
cmake -S . -B build/host -DCMAKE_BUILD_TYPE=Debug > build-host-configure.log 2>&1 || { cat build-host-configure.log; exit 1; }
rm -f build-host-configure.log
cmake --build build/host -j"$jobs"

step "Windows 32-bit build (the shipped binaries)"
cmake -S . -B build/win-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build/win-i686 -j"$jobs"

step "Windows 64-bit build (run by the Wine tests)"
cmake -S . -B build/win-x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DQUILLANE_WINE_TESTS=ON -DQUILLANE_DIGISIM="$root/build/host/tools/digisim/digisim" > /dev/null
cmake --build build/win-x86_64 -j"$jobs"

step "Host tests"
(cd build/host && ctest --output-on-failure -j"$jobs")

step "Checks of the 32-bit binaries"
(cd build/win-i686 && ctest --output-on-failure)

step "Release packages from the 32-bit build"
scripts/release.sh --no-build
tests/release/check-release.sh

step "Checks: sanitizers, fuzzing, cppcheck, clang-tidy, -Werror 64-bit build"
scripts/checks.sh

step "Wine tests (64-bit build, virtual COM ports, simulated digitizers, a virtual display)"
(cd build/win-x86_64 && xvfb-run -a -s "-screen 0 1024x768x24" ctest --output-on-failure)
