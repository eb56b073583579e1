#!/usr/bin/env bash
# The run command: installs what is missing, builds, and starts the setup assistant under
# Wine on virtual COM3, with the bundled digitizer simulator on the far end of the line or
# a real serial device.
#
#   scripts/run.sh                      simulator on COM3
#   scripts/run.sh --device /dev/ttyUSB0  a real digitizer on COM3
#   scripts/run.sh --behaviour silence  the simulator stays silent (reply, silence, badsum, ...)
#   scripts/run.sh --software 9         the CAD program row a headless run configures (default 33)
#   scripts/run.sh --cli ARGS...        the console program vr7.exe with ARGS instead, e.g.
#                                       --cli configure --port COM3 --software 33
#   scripts/run.sh --native ARGS...     the Linux vr7 with ARGS, no Wine: the simulator's pty
#                                       (or the --device) is linked at build/run/digitizer, e.g.
#                                       --native configure --port build/run/digitizer --software 33
#
# With a display (DISPLAY set) the window opens for use. Without one, the command runs a
# configuration on a virtual display, prints what was sent and answered and the final
# status, and saves a screenshot to build/run/screenshot.png. With --cli, standard output
# is vr7's alone (the command's own messages go to standard error), and the command exits
# with vr7's status.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

device="" behaviour=reply software=33 cli=0 cli_args=()
while [ $# -gt 0 ]; do
  case $1 in
    --device) device=$2; shift 2 ;;
    --behaviour) behaviour=$2; shift 2 ;;
    --software) software=$2; shift 2 ;;
    --cli) shift; cli=1; cli_args=("$@"); break ;;
    --native) shift; cli=2; cli_args=("$@"); break ;;
    -h|--help) sed -n '2,20p' "$0"; exit 0 ;;
    *) echo "unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
# With --cli or --native, standard output is kept for vr7 (descriptor 3); the rest goes to
# stderr. Processes that outlive a command get no descriptor 3, so that a pipe reading
# vr7's output ends with vr7.
if [ "$cli" != 0 ]; then exec 3>&1 1>&2; fi

if [ "$cli" = 2 ]; then
  scripts/deps.sh --native
  source scripts/build-trees.sh
  echo "Building the Linux vr7..."
  build_host vr7 digisim
  run=$root/build/run
  mkdir -p "$run"
  target=$run/digitizer
  rm -f "$target" "$target.port"
  if [ -n "$device" ]; then
    [ -e "$device" ] || { echo "no such device: $device" >&2; exit 1; }
    ln -s "$(realpath "$device")" "$target"
    echo "build/run/digitizer is $device"
  else
    build/host/tools/digisim/digisim --link "$target" --behaviour "$behaviour" > "$run/digitizer.log" 2>&1 3>&- &
    sim_pid=$!
    trap 'kill "$sim_pid" 2>/dev/null || true' EXIT
    for _ in $(seq 100); do [ -s "$target.port" ] && break; sleep 0.05; done
    [ -s "$target.port" ] || { cat "$run/digitizer.log"; exit 1; }
    echo "build/run/digitizer is the digitizer simulator (behaviour: $behaviour)"
  fi
  status=0
  build/host/cli/vr7 "${cli_args[@]}" >&3 || status=$?
  exit "$status"
fi

scripts/deps.sh
source scripts/build-trees.sh
arch=$(scripts/wine-build.sh --cached)
echo "Building (the $arch build)..."
build_host digisim
if [ "$cli" = 1 ]; then build_windows "$arch" vr7; else build_windows "$arch" quillane_vr7 winauto; fi

source scripts/wine-env.sh
run=$root/build/run
export WINEPREFIX=$run/pfx
app=$root/build/win-$arch/app/quillane\ VR7.exe
vr7=$root/build/win-$arch/cli/vr7.exe
winauto=$root/build/win-$arch/tools/winauto/winauto.exe
caption="Quillane Software Setup Assistant  V3.2"
mkdir -p "$run"

sim_pid="" xvfb_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  wineserver -k > /dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

if [ ! -d "$WINEPREFIX" ]; then
  echo "Creating the Wine prefix in $WINEPREFIX..."
  wine wineboot -i > "$run/wineboot.log" 2>&1 3>&-
fi
wineserver -k > /dev/null 2>&1 || true

# COM3 leads to the simulator, or to a relay that passes the bytes to the real device
# with the line setting the program sets, and logs what crosses the line either way.
target=$run/sim-com3
rm -f "$target" "$target.port"
if [ -n "$device" ]; then
  [ -e "$device" ] || { echo "no such device: $device" >&2; exit 1; }
  build/host/tools/digisim/digisim --link "$target" --relay "$device" > "$run/digitizer.log" 2>&1 3>&- &
  sim_pid=$!
  for _ in $(seq 100); do [ -L "$target" ] && break; sleep 0.05; done
  [ -L "$target" ] || { cat "$run/digitizer.log"; exit 1; }
  echo "COM3 is $device"
else
  build/host/tools/digisim/digisim --link "$target" --behaviour "$behaviour" --verbose > "$run/digitizer.log" 2>&1 3>&- &
  sim_pid=$!
  for _ in $(seq 100); do [ -s "$target.port" ] && break; sleep 0.05; done
  [ -s "$target.port" ] || { cat "$run/digitizer.log"; exit 1; }
  echo "COM3 is the digitizer simulator (behaviour: $behaviour)"
fi

# Without a display (and not --cli), a virtual one, before the first Wine program.
virtual=0
if [ "$cli" = 0 ] && [ -z "${DISPLAY:-}" ]; then
  virtual=1
  start_virtual_display "$run" || exit 1
fi

# COM3, CJK fonts for the Chinese texts, no window-manager waits; then a fresh server maps
# the port, and COM3 is made the only entry of the port list.
{
  printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n"COM3"="%s"\r\n\r\n' "$target"
  printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
  printf '"宋体"="WenQuanYi Micro Hei"\r\n"SimSun"="WenQuanYi Micro Hei"\r\n\r\n'
  printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n\r\n'
} | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } > "$run/setup.reg"
wine regedit /S "$(winpath "$run/setup.reg")" > /dev/null 2>&1 3>&-
wineserver -w
wineserver -p > /dev/null 2>&1 < /dev/null 3>&-
wine reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' > "$run/serialcomm.txt" 2>&1 || true
while read -r name _ data; do
  [ "$data" = COM3 ] || wine reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v "$name" /f > /dev/null 2>&1
done < <(grep -E 'REG_SZ' "$run/serialcomm.txt" | tr -d '\r')

if [ "$cli" = 1 ]; then
  # Wine reads the arguments and writes to a terminal in the locale's encoding.
  [ "$(locale charmap 2> /dev/null)" = UTF-8 ] || export LC_ALL=C.UTF-8
  status=0
  wine "$vr7" "${cli_args[@]}" >&3 || status=$?
  exit "$status"
fi

if [ "$virtual" = 0 ]; then
  echo "Starting the setup assistant; close its window to end."
  wine "$app" > "$run/app.log" 2>&1
  echo "On the line:"
  sed 's/^/  /' "$run/digitizer.log"
  exit 0
fi

# No display: one configuration on the virtual one.
display=$DISPLAY
: > "$run/winauto.log"
wine "$app" > "$run/app.log" 2>&1 &
# Each window command's own complaint goes to a log, and a step that fails says which it was.
auto() { wine "$winauto" "$@" 2>> "$run/winauto.log" | tr -d '\r'; }
trap 'echo "the headless run failed at: $BASH_COMMAND; the window commands said:" >&2; tail -n 5 "$run/winauto.log" >&2' ERR
auto wait-window "$caption" 20000 > /dev/null ||
  { echo "the window did not appear on $display; the program's output:" >&2; tail -n 20 "$run/app.log" >&2; exit 1; }
auto select "$caption" 1002 "$software" > /dev/null
echo "Port: $(auto combo "$caption" 1000 | sed -n 's/^\* //p')   CAD software: $(auto combo "$caption" 1002 | sed -n 's/^\* //p')"
auto click "$caption" 1003 > /dev/null
status=""
for _ in $(seq 300); do
  sleep 0.1
  status=$(auto text "$caption" 1005)
  case $status in Status:*) [ "$(auto enabled "$caption" 1003)" = 1 ] && break ;; esac
done
sleep 0.5
import -display "$display" -window root -crop 567x377+0+0 +repage "$run/screenshot.png" 2> /dev/null || true
echo "On the line:"
sed 's/^/  /' "$run/digitizer.log"
instructions=$(auto text "$caption" 1004)
echo "Instructions shown: ${instructions:-(none for this CAD program)}" | sed '2,$s/^/  /'
echo "Final status: $status"
echo "Screenshot: $run/screenshot.png"
auto key "$caption" escape > /dev/null || true
sleep 1
