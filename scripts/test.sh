#!/usr/bin/env bash
# The test command: installs what is missing, builds everything, runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
started=$SECONDS

step() { printf '\n=== %s\n' "$*"; }

scripts/deps.sh
source scripts/build-trees.sh

step "Which build the Wine tests run on: trying a 32-bit Windows program"
arch=$(scripts/wine-build.sh)
if [ "$arch" = i686 ]; then
  summary="Wine tests: i686 build"
else
  summary="Wine tests: x86_64 build (this machine cannot run 32-bit programs; skipped: installer, __stdcall checks)"
fi
echo "$summary"

step "Host build: portable code, simulator, host tests"
build_host

step "Windows 32-bit build (the shipped binaries)"
if [ "$arch" = i686 ]; then build_windows_for_wine i686; else build_windows i686; fi
if [ "$arch" = x86_64 ]; then
  step "Windows 64-bit build of the same sources (what the Wine tests run on this machine)"
  build_windows_for_wine x86_64
fi

step "Host tests"
(cd build/host && ctest --output-on-failure -j"$(nproc)" -LE qemu)

# Alone: QEMU under TCG is CPU-heavy, and the host tests are timing-sensitive.
step "Real serial drivers under QEMU"
(cd build/host && ctest --output-on-failure -L qemu)

step "Checks of the 32-bit binaries"
(cd build/win-i686 && ctest --output-on-failure -L pe)

step "Release packages from the 32-bit build and the Linux build"
build_linux vr7
scripts/release.sh --no-build
tests/release/check-release.sh

step "Checks: sanitizers, fuzzing, cppcheck, clang-tidy, -Werror 64-bit build"
scripts/checks.sh

step "Wine tests ($arch build, virtual COM ports, simulated digitizers, a virtual display)"
(cd "build/win-$arch" && xvfb-run -a -s "-screen 0 1024x768x24" ctest --output-on-failure -L wine)

if [ "$arch" = i686 ]; then
  step "The installer as users use it"
  tests/release/installer-test.sh
fi

step "The run command on a fresh clone"
tests/run/fresh-clone-run.sh

step "All tests passed in $(((SECONDS - started) / 60)) min $(((SECONDS - started) % 60)) s"
echo "$summary"
