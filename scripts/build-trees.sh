# Sourced by the scripts: configures and builds the trees under build/, each step's output
# in build/logs/ and shown only when the step fails.
#   build_host [TARGET...]                 build/host: portable code, simulator, host tests
#   build_windows ARCH [TARGET...]         build/win-ARCH (i686 or x86_64) with MinGW-w64
#   build_windows_for_wine ARCH [TARGET...]  the same, with the Wine tests and the benchmark
#   configure_windows_for_wine ARCH        only its configuration (compile_commands.json)
#   build_linux [TARGET...]                build/linux: the Linux vr7 as it is packaged (Release)
# No TARGET builds everything.

logged() {
  local log=$1; shift
  mkdir -p "$root/build/logs"
  if ! "$@" > "$root/build/logs/$log" 2>&1; then
    tail -n 60 "$root/build/logs/$log" >&2
    echo "failed: $* (whole log: build/logs/$log)" >&2
    return 1
  fi
}

build_tree() {
  local dir=$1; shift
  local configure=() targets=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do configure+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  targets=("$@")
  logged "$dir-configure.log" cmake -S "$root" -B "$root/build/$dir" "${configure[@]}"
  if [ ${#targets[@]} -eq 0 ]; then
    logged "$dir-build.log" cmake --build "$root/build/$dir" -j"$(nproc)"
  else
    logged "$dir-build.log" cmake --build "$root/build/$dir" -j"$(nproc)" --target "${targets[@]}"
  fi
}

build_host() {
  build_tree host -DCMAKE_BUILD_TYPE=Debug -- "$@"
}

build_windows() {
  local arch=$1; shift
  build_tree "win-$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" -DCMAKE_BUILD_TYPE=Release \
    -- "$@"
}

# The Wine tests' tree; the 64-bit one is also the warning-free (-Werror) build that the
# checks require, and the compile commands that clang-tidy reads.
wine_tree_options() {
  local arch=$1
  wine_options=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" -DCMAKE_BUILD_TYPE=Release
    -DQUILLANE_WINE_TESTS=ON -DQUILLANE_DIGISIM="$root/build/host/tools/digisim/digisim"
    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON)
  [ "$arch" = x86_64 ] && wine_options+=(-DCMAKE_C_FLAGS=-Werror -DCMAKE_CXX_FLAGS=-Werror)
  return 0
}

configure_windows_for_wine() {
  wine_tree_options "$1"
  logged "win-$1-configure.log" cmake -S "$root" -B "$root/build/win-$1" "${wine_options[@]}"
}

build_windows_for_wine() {
  local arch=$1; shift
  build_host digisim
  wine_tree_options "$arch"
  build_tree "win-$arch" "${wine_options[@]}" -- "$@"
}

build_linux() {
  build_tree linux -DCMAKE_BUILD_TYPE=Release -- "$@"
}
