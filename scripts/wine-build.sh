#!/usr/bin/env bash
# Which Windows build the Wine tests, the run command and the benchmark use, found out by
# trying: a tiny 32-bit Windows program is built and started in a fresh 64-bit Wine
# prefix. If it prints what it should, this machine runs 32-bit programs (Debian's wine32
# starts) and the i686 build, the one users get, is used; otherwise the x86_64 build of
# the same sources. `wine --version` proves nothing: the loader answers it before it
# loads anything.
#
#   scripts/wine-build.sh           probes; prints i686 or x86_64, the reason on stderr;
#                                   remembers the answer in build/wine-build
#   scripts/wine-build.sh --cached  the remembered answer; probes only when there is none
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
answer=$root/build/wine-build
probe_seconds=300  # a 32-bit loader that starts at all starts in seconds

if [ "${1:-}" = --cached ] && [ -s "$answer" ]; then
  head -1 "$answer"
  exit 0
fi

source "$root/scripts/wine-env.sh"
dir=$root/build/wine-probe
rm -rf "$dir"
mkdir -p "$dir"
cat > "$dir/probe.c" <<'EOF'
#include <stdio.h>
int main(void)
{
    printf("probe: %d-bit pointers\n", (int)(sizeof(void*) * 8));
    return 0;
}
EOF

reason=""
if ! i686-w64-mingw32-gcc -O2 -o "$dir/probe32.exe" "$dir/probe.c" 2> "$dir/compile.log"; then
  reason="the 32-bit probe program does not build: $(head -1 "$dir/compile.log")"
else
  export WINEPREFIX=$dir/pfx
  timeout "$probe_seconds" "$WINELOADER" wineboot -i > "$dir/wineboot.log" 2>&1 || true
  output=$(timeout "$probe_seconds" "$WINELOADER" "$dir/probe32.exe" 2> "$dir/run.log" < /dev/null | tr -d '\r') || true
  "$WINESERVER" -k > /dev/null 2>&1 || true
  if [ "$output" != "probe: 32-bit pointers" ]; then
    said=$(printf '%s %s' "$output" "$(cat "$dir/run.log")" | tr -s '\n\t ' ' ' | sed 's/^ *//; s/ *$//' | cut -c1-160)
    reason="a 32-bit Windows program does not run under this machine's Wine (it said: ${said:-nothing})"
  fi
fi
rm -rf "$dir/pfx"

if [ -z "$reason" ]; then
  printf 'i686\n' > "$answer"
  echo "wine-build: a 32-bit Windows program runs here: the Wine tests use the i686 build" >&2
else
  printf 'x86_64\n%s\n' "$reason" > "$answer"
  echo "wine-build: $reason: the Wine tests use the x86_64 build" >&2
fi
head -1 "$answer"
