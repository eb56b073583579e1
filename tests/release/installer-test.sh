#!/usr/bin/env bash
# The installer as users use it, in a fresh 64-bit Wine prefix (as on 64-bit Windows, where most users
# are): a silent install, the installed programs run, a silent uninstall. The uninstaller returns at once
# and goes on from a copy of itself, so its work is polled for, with a time limit. Needs the 32-bit build
# and a machine whose Wine runs 32-bit programs (scripts/wine-build.sh).
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
source scripts/wine-env.sh
source scripts/pe-version.sh
build=build/win-i686
exe=$build/app/quillane\ VR7.exe
cli=$build/cli/vr7.exe
winauto=$root/$build/tools/winauto/winauto.exe
caption="Quillane Software Setup Assistant  V3.2"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\quillane VR7'
work=$(mktemp -d)
export WINEPREFIX=$work/pfx
xvfb_pid=""
passed=0 failed=0
cleanup() {
  wineserver -k > /dev/null 2>&1
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2> /dev/null
  rm -rf "$work"
}
trap cleanup EXIT
ok() { echo "ok    $*"; passed=$((passed + 1)); }
bad() { echo "FAIL  $*"; failed=$((failed + 1)); }
check() { local what=$1; shift; if "$@"; then ok "$what"; else bad "$what"; fi; }
finish() { echo "installer: $passed passed, $failed failed"; [ "$failed" -eq 0 ]; exit; }
# Waits up to $1 seconds for a command to succeed.
within() { local limit=$1; shift; for _ in $(seq $((limit * 10))); do "$@" && return 0; sleep 0.1; done; "$@"; }
auto() { wine "$winauto" "$@" 2> /dev/null | tr -d '\r'; }

version=$(exe_version "$exe") || { bad "no version in $exe"; finish; }
setup=dist/quillane-VR7-$version-setup.exe
[ -f "$setup" ] || { bad "$setup does not exist (run scripts/release.sh)"; finish; }
folder=$WINEPREFIX/drive_c/Program\ Files\ \(x86\)/quillane\ VR7
menu=$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/quillane\ VR7

start_virtual_display "$work" || { bad "the virtual display did not start"; finish; }
wine wineboot -i > "$work/wineboot.log" 2>&1 || { bad "wineboot of a fresh prefix"; finish; }
# No window manager under Xvfb: without this Wine waits about 2 s whenever a window hides.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f > /dev/null 2>&1
wineserver -p > /dev/null 2>&1 < /dev/null

check "silent install of $setup" wine "$setup" /S
check "the program is installed in Program Files (x86), byte for byte the built one" \
  cmp -s "$folder/quillane VR7.exe" "$exe"
check "vr7.exe is installed beside it, byte for byte the built one" cmp -s "$folder/vr7.exe" "$cli"
check "the installed vr7.exe lists the 50 CAD programs" \
  test "$(wine "C:\\Program Files (x86)\\quillane VR7\\vr7.exe" software --json 2> /dev/null | grep -c '"row"')" -eq 50
check "the user guide, the licence and the uninstaller are installed beside it" \
  test -f "$folder/USER-GUIDE.txt" -a -f "$folder/LICENSE.txt" -a -f "$folder/uninstall.exe"
check "a Start-menu entry for the program" test -f "$menu/quillane VR7.lnk"
values=$(wine reg query "$key" /reg:32 2> /dev/null | tr -d '\r')
check "registered for Add/Remove programs in the 32-bit view, version $version" \
  grep -q "DisplayVersion *REG_SZ *$version" <<< "$values"
check "the registered uninstaller is the installed one" \
  grep -q 'UninstallString *REG_SZ *"C:\\Program Files (x86)\\quillane VR7\\uninstall.exe"$' <<< "$values"

wine "C:\\Program Files (x86)\\quillane VR7\\quillane VR7.exe" > "$work/app.log" 2>&1 &
pid=$(auto wait-window "$caption" 30000)
check "the installed program shows its window" test -n "$pid"
rows=$(auto combo "$caption" 1002 | wc -l)
check "its software list holds the 50 labels (it holds $rows)" test "$rows" -eq 50
auto key "$caption" escape > /dev/null
check "Escape closes it" auto wait-exit "$pid" 10000

wine "C:\\Program Files (x86)\\quillane VR7\\uninstall.exe" /S
check "the silent uninstall removes the program's folder" within 60 test ! -e "$folder"
check "and the Start-menu entry" test ! -e "$menu"
check "and the registration" within 10 sh -c "! $WINELOADER reg query '$key' /reg:32 > /dev/null 2>&1"
finish
