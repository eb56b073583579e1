#!/usr/bin/env bash
# Checks beyond the tests: every script stored with its run bit, the host tests under
# AddressSanitizer and UBSan, fuzzing of the frame, reply and port-name parsers, cppcheck,
# clang-tidy, and a warning-free (-Werror) 64-bit Windows build of every target.
#
#   scripts/checks.sh                 all checks
#   scripts/checks.sh fuzz tidy       only the named ones: modes sanitize fuzz cppcheck werror tidy
#
# QUILLANE_FUZZ_SECONDS sets how long each fuzz target runs (default 20). Builds go to
# build-chk-sanitize and build-chk-fuzz (the -Werror build is build/win-x86_64), logs to
# build-chk-logs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)
fuzz_seconds=${QUILLANE_FUZZ_SECONDS:-20}
logs=$root/build-chk-logs
all_checks=(modes sanitize fuzz cppcheck werror tidy)
mkdir -p "$logs"

sanitize_flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

# The project's own code, for the static checks.
own_code="^$root/(app|core|cli|portlib|tools)/"

# Every tracked file that begins with #! is stored with mode 100755: a script called by
# path fails with "Permission denied" only on the machine that reaches that step.
check_modes() {
  local bad=0 mode path
  while read -r mode _ _ path; do
    if [ "$(head -c 2 "$path")" = '#!' ] && [ "$mode" != 100755 ]; then
      echo "error: $path begins with #! but is stored with mode $mode (git update-index --chmod=+x $path)"
      bad=1
    fi
  done < <(git ls-files -s)
  return "$bad"
}

check_sanitize() {
  CC=clang CXX=clang++ cmake -S . -B build-chk-sanitize -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_FLAGS="$sanitize_flags" -DCMAKE_CXX_FLAGS="$sanitize_flags" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
  cmake --build build-chk-sanitize -j"$jobs"
  (cd build-chk-sanitize && ctest --output-on-failure -j"$jobs" -LE qemu)  # QEMU's guest: test.sh runs it
}

# Builds a fuzz target from its source and the product source it exercises.
build_fuzzer() {
  local name=$1 include=$2 source=$3
  clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I"$include" "tests/fuzz/$name.cpp" "$source" -o "build-chk-fuzz/$name"
}

# Runs a fuzz target from the committed seeds; new inputs go to a work corpus in the
# build folder, a crashing input to build-chk-fuzz/crash-*.
run_fuzzer() {
  local name=$1 seeds=$2
  mkdir -p "build-chk-fuzz/work-$name"
  "build-chk-fuzz/$name" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix=build-chk-fuzz/ \
    "build-chk-fuzz/work-$name" "tests/fuzz/corpus/$seeds" > "$logs/fuzz-$name.log" 2>&1
}

check_fuzz() {
  mkdir -p build-chk-fuzz
  build_fuzzer reply_fuzz core/protocol core/protocol/Frame.cpp
  build_fuzzer portname_fuzz portlib portlib/PortName.cpp
  # The two targets run side by side; each must end without a finding.
  run_fuzzer reply_fuzz reply & local reply=$!
  run_fuzzer portname_fuzz portname & local portname=$!
  local failed=0
  wait "$reply" || failed=1
  wait "$portname" || failed=1
  for name in reply_fuzz portname_fuzz; do
    echo "--- $name"
    grep -E 'stat::number_of_executed_units|ERROR|SUMMARY|_fuzz: |Test unit written' "$logs/fuzz-$name.log" || true
  done
  return "$failed"
}

check_cppcheck() {
  # Suppressed, each for a reason:
  #  - knownConditionTrueFalse in PortEntryPoints.h: cppcheck takes the seven members,
  #    all initialised to nullptr, for one value.
  #  - useStlAlgorithm: a style preference; loops over small tables read as well.
  cppcheck --enable=warning,style,performance,portability --error-exitcode=1 --inline-suppr \
    --std=c++17 --library=windows -D_WIN32 -DWIN32_LEAN_AND_MEAN \
    -I app -I core/protocol -I core/run -I app/framework -I portlib -I tools/digisim -I cli -I cli/win -I cli/linux -I core/ports \
    --suppress=missingIncludeSystem \
    --suppress='knownConditionTrueFalse:*/PortEntryPoints.h' \
    --suppress=useStlAlgorithm \
    -j"$jobs" -q --template='{file}:{line}: {severity}: {message} [{id}]' \
    app core cli portlib tools
}

# The 64-bit Wine tests' tree is built with -Werror (scripts/build-trees.sh): where the test
# command has built it already, this finds nothing left to do.
check_werror() {
  build_windows_for_wine x86_64
}

# The project's own sources listed in a compile_commands.json.
own_sources() {
  sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$1/compile_commands.json" | grep -E "$own_code" | sort -u
}

check_tidy() {
  # Host sources with the sanitizer build's commands. Configured again each time (the
  # cache keeps its compiler and flags), so that the commands name today's sources.
  CC=clang CXX=clang++ cmake -S . -B build-chk-sanitize -DCMAKE_EXPORT_COMPILE_COMMANDS=ON > /dev/null
  local failed=0
  own_sources build-chk-sanitize | xargs -r -P"$jobs" -n4 clang-tidy -p build-chk-sanitize --quiet || failed=1

  # The Windows sources not checked above, with the 64-bit cross build's commands; clang
  # needs MinGW's C++ headers named, as it does not find the -posix compiler's folder.
  configure_windows_for_wine x86_64
  local extra=(--extra-arg=--target=x86_64-w64-mingw32)
  local dir
  for dir in $(x86_64-w64-mingw32-g++-posix -xc++ -E -v /dev/null 2>&1 | grep -E '^ /.*/include/c\+\+'); do
    extra+=(--extra-arg=-isystem"$dir")
  done
  comm -23 <(own_sources build/win-x86_64) <(own_sources build-chk-sanitize) |
    xargs -r -P"$jobs" -n3 clang-tidy -p build/win-x86_64 --quiet "${extra[@]}" || failed=1
  return "$failed"
}

requested=("$@")
[ ${#requested[@]} -gt 0 ] || requested=("${all_checks[@]}")
for name in "${requested[@]}"; do
  [[ " ${all_checks[*]} " == *" $name "* ]] || { echo "unknown check: $name (one of: ${all_checks[*]})" >&2; exit 2; }
done

scripts/deps.sh
source scripts/build-trees.sh

summary=()
passed=0
failed=0
for name in "${requested[@]}"; do
  printf '\n=== check: %s\n' "$name"
  start=$SECONDS
  # A subshell of its own, so that set -e stops the check at its first failing step.
  set +e
  (set -e; "check_$name") > "$logs/$name.log" 2>&1
  status=$?
  set -e
  took=$((SECONDS - start))
  if [ "$status" -eq 0 ]; then
    passed=$((passed + 1))
    summary+=("$(printf '  PASS  %-9s %4d s' "$name" "$took")")
    [ "$name" = fuzz ] && cat "$logs/$name.log"
  else
    failed=$((failed + 1))
    summary+=("$(printf '  FAIL  %-9s %4d s   (log: %s)' "$name" "$took" "${logs#"$root"/}/$name.log")")
    # The findings, without the compiler's and analyzer's long notes.
    grep -E 'error|warning|FAILED|Failed|ERROR|SUMMARY|_fuzz: | style: | performance: | portability: ' \
      "$logs/$name.log" | grep -v -E 'warnings generated|^ *[0-9]+ warnings? ' | head -n 60 || true
  fi
  echo "$name: took ${took} s, exit status $status"
done

printf '\n=== checks summary\n'
printf '%s\n' "${summary[@]}"
echo "checks: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
