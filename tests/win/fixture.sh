#!/usr/bin/env bash
# The Wine side of a test run: `fixture.sh setup RUN_DIR DIGISIM` creates an isolated
# Wine prefix in RUN_DIR/pfx, maps virtual COM ports onto pseudo-terminals held by
# digitizer simulators, and leaves one wineserver running for the whole run;
# `fixture.sh cleanup RUN_DIR` stops the simulators and the wineserver.
#
# Ports: COM3, COM5, COM6, COM12 and COM17 lead to simulators (link RUN_DIR/sim-comN, the
# control port in RUN_DIR/sim-comN.port; never "comN.port", which Windows opens as the
# device COMn). COM7 is defined but its device is missing, so it opens and then fails at
# the first configuration call, like a port that cannot be used. COM11's target is a
# regular file: Wine enforces share mode 0 on it, so a program holding it makes it busy.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/wine-env.sh"

action=$1
run=$(realpath -m "$2")
export WINEPREFIX=$run/pfx
simulated_ports="3 5 6 12 17 ${QUILLANE_EXTRA_SIM_PORTS:-}"
missing_port=7
file_port=11

stop_all() {
  for pidfile in "$run"/sim*.pid; do
    if [ -e "$pidfile" ]; then kill "$(cat "$pidfile")" 2>/dev/null || true; rm -f "$pidfile"; fi
  done
  if [ -d "$WINEPREFIX" ]; then wineserver -k >/dev/null 2>&1 || true; fi
}

write_registry() {
  local reg=$run/setup.reg
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
    for n in $simulated_ports; do printf '"COM%s"="%s"\r\n' "$n" "$run/sim-com$n"; done
    printf '"COM%s"="%s"\r\n' "$missing_port" "$run/absent$missing_port"
    printf '"COM%s"="%s"\r\n\r\n' "$file_port" "$run/file-com$file_port"
    # Chinese text on screen: a CJK font behind the dialog font and the message-box font.
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
    printf '"宋体"="WenQuanYi Micro Hei"\r\n"SimSun"="WenQuanYi Micro Hei"\r\n\r\n'
    printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\r\n'
    printf '"Tahoma"=hex(7):%s\r\n\r\n' "$(printf 'wqy-microhei.ttc,WenQuanYi Micro Hei\0\0' | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//;s/,$//')"
    # No window manager under Xvfb: without this Wine waits about 2 s whenever a window hides.
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n\r\n'
  } | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } > "$reg"
  wine regedit /S "$(winpath "$reg")"
}

start_simulators() {
  for n in $simulated_ports; do
    setsid "$1" --link "$run/sim-com$n" > "$run/sim$n.log" 2>&1 < /dev/null &
    echo $! > "$run/sim$n.pid"
  done
  for n in $simulated_ports; do
    for _ in $(seq 100); do [ -s "$run/sim-com$n.port" ] && break; sleep 0.05; done
    [ -s "$run/sim-com$n.port" ] || { echo "simulator for COM$n did not start" >&2; cat "$run/sim$n.log" >&2; exit 1; }
  done
}

case $action in
setup)
  stop_all
  rm -rf "$run" && mkdir -p "$run"
  touch "$run/file-com$file_port"
  wine wineboot -i > "$run/wineboot.log" 2>&1
  write_registry
  wineserver -w
  start_simulators "$3"
  # A fresh server maps the Ports values (SERIALCOMM is rebuilt at each server start);
  # it then stays for the whole run, its standard streams away from any pipe.
  wineserver -p > /dev/null 2>&1 < /dev/null
  wine reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' > "$run/serialcomm.txt" 2>&1
  for n in $simulated_ports $missing_port $file_port; do
    grep -q "COM$n\b" "$run/serialcomm.txt" || { echo "COM$n was not mapped:" >&2; cat "$run/serialcomm.txt" >&2; exit 1; }
  done
  echo "Wine prefix ready in $WINEPREFIX"
  ;;
cleanup) stop_all ;;
*) echo "usage: $0 setup RUN_DIR DIGISIM | cleanup RUN_DIR" >&2; exit 2 ;;
esac
