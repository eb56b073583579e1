#!/usr/bin/env bash
# The benchmark: builds what it needs, sets up a Wine prefix with simulated digitizers
# (the test rig's fixture) and prints a table of the configuration run's timings, the
# CPU time of a run without a digitizer, and the start-up time against a bare dialog;
# then vr7 detect over one port and over eight, side by side; then the same for the Linux
# vr7, natively on pseudo-terminals (no Wine).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/deps.sh
source scripts/build-trees.sh
arch=$(scripts/wine-build.sh --cached)  # the build the tests use
build_windows_for_wine "$arch" run_bench detect_bench
build_linux vr7

run=$root/build/bench-run
bin=$root/build/win-$arch
# The virtual display comes first: Wine's desktop process, started with the prefix's
# services, must see it for windows to appear.
source scripts/wine-env.sh
mkdir -p "$root/build/bench-display"
start_virtual_display "$root/build/bench-display"
trap 'tests/win/fixture.sh cleanup "$run"; kill $xvfb_pid' EXIT
QUILLANE_EXTRA_SIM_PORTS="2 4 8 10" tests/win/fixture.sh setup "$run" "$root/build/host/tools/digisim/digisim" > /dev/null
echo "quillane VR7 benchmark, $(date -u +%Y-%m-%d), $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1)"
echo "$(/usr/lib/wine/wine64 --version 2>/dev/null), the $arch build"
WINEPREFIX=$run/pfx QUILLANE_RUN_DIR=$run QUILLANE_LINKPORT=$bin/portlib/linkport.dll \
QUILLANE_APP="$bin/app/quillane VR7.exe" QUILLANE_BARE_DIALOG=$bin/bench/bare_dialog.exe \
  scripts/wine "$bin/bench/run_bench.exe" > "$run/table.txt" 2> "$run/bench.err" < /dev/null
tr -d '\r' < "$run/table.txt"
echo
WINEPREFIX=$run/pfx QUILLANE_RUN_DIR=$run QUILLANE_VR7=$bin/cli/vr7.exe \
  scripts/wine "$bin/bench/detect_bench.exe" > "$run/detect.txt" 2> "$run/detect.err" < /dev/null
tr -d '\r' < "$run/detect.txt"
echo
python3 bench/native_bench.py "$root/build/linux/cli/vr7" "$root/build/host/tools/digisim/digisim"
