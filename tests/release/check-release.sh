#!/usr/bin/env bash
# Checks the release files that scripts/release.sh left in dist/ against the build:
#  - the zip holds exactly the program, the user guide and the licence;
#  - its program is byte-identical to the built one, its texts to packaging/, and the
#    texts have CRLF line ends (Notepad on older Windows shows LF-only text as one line);
#  - the installer exists, is a 32-bit (i386) PE program made by NSIS, with the version.
#
#   tests/release/check-release.sh           the checks above
#   tests/release/check-release.sh --wine    and a silent install and uninstall under Wine
#
# QUILLANE_RELEASE_BUILD names the build folder (default build/win-i686).
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
build=${QUILLANE_RELEASE_BUILD:-build/win-i686}
program="quillane VR7.exe"
exe=$build/app/$program
texts=(USER-GUIDE.txt LICENSE.txt)
passed=0 failed=0

ok() { echo "ok    $*"; passed=$((passed + 1)); }
bad() { echo "FAIL  $*"; failed=$((failed + 1)); }
check() { local what=$1; shift; if "$@"; then ok "$what"; else bad "$what"; fi; }
finish() { echo "release: $passed passed, $failed failed"; [ "$failed" -eq 0 ]; exit; }

source "$root/scripts/pe-version.sh"

# The machine field of a PE image ("014c" for i386), or failure when it is not one.
pe_machine() {
  local offset
  [ "$(head -c 2 "$1")" = MZ ] || return 1
  offset=$(od -An -tu4 -j 60 -N 4 "$1" | tr -d ' ')
  [ "$(od -An -c -j "$offset" -N 4 "$1" | tr -d ' ')" = 'PE\0\0' ] || return 1
  od -An -tx2 -j $((offset + 4)) -N 2 "$1" | tr -d ' '
}

crlf_only() { [ -s "$1" ] && ! grep -q $'[^\r]$\|^$' "$1"; }

if [ ! -f "$exe" ]; then
  bad "the program $exe does not exist: build it and run scripts/release.sh first"
  finish
fi
version=$(exe_version "$exe") || { bad "no single version block in $exe"; finish; }
zip=dist/quillane-VR7-$version-win32.zip
setup=dist/quillane-VR7-$version-setup.exe
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# --- the zip
if [ -f "$zip" ]; then
  listing=$(cmake -E tar tf "$zip" | sort)
  expected=$(printf '%s\n' "$program" "${texts[@]}" | sort)
  check "$zip holds exactly: $program, ${texts[*]}" [ "$listing" = "$expected" ]
  mkdir "$work/zip"
  (cd "$work/zip" && cmake -E tar xf "$root/$zip")
  check "the zip's program is byte-identical to $exe" cmp -s "$work/zip/$program" "$exe"
  for text in "${texts[@]}"; do
    check "the zip's $text is packaging/$text" cmp -s "$work/zip/$text" "packaging/$text"
    check "$text has CRLF line ends only" crlf_only "$work/zip/$text"
  done
else
  bad "$zip does not exist (run scripts/release.sh)"
fi

# --- the installer
if [ -f "$setup" ]; then
  check "$setup is a 32-bit (i386) PE program" [ "$(pe_machine "$setup")" = 014c ]
  check "$setup is an NSIS installer" grep -q NullsoftInst "$setup"
  check "$setup carries version $version" [ "$(exe_version "$setup")" = "$version" ]
else
  bad "$setup does not exist (run scripts/release.sh)"
fi

[ "${1:-}" = --wine ] || finish

# --- a silent install and uninstall under Wine, in a prefix of its own
# shellcheck source=../../scripts/wine-env.sh
. scripts/wine-env.sh
export WINEPREFIX=$work/pfx
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\quillane VR7'
wineboot -i > /dev/null 2>&1 || { bad "wineboot of a fresh prefix"; finish; }

# Installs with /S, checks files, shortcut and registration, uninstalls, checks that
# they are gone. $2 is the folder under drive_c where the program goes, $3 the
# registry view (32 or 64).
try_installer() {
  local installer=$1 folder=$WINEPREFIX/drive_c/$2/quillane\ VR7 view=$3
  local menu=$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/quillane\ VR7
  check "silent install of $(basename "$installer")" wine "$installer" /S
  check "the installed program is the built one" cmp -s "$folder/$program" "$exe"
  check "the user guide, the licence and the uninstaller are installed" \
    test -f "$folder/USER-GUIDE.txt" -a -f "$folder/LICENSE.txt" -a -f "$folder/uninstall.exe"
  check "a Start-menu shortcut to the program" test -f "$menu/quillane VR7.lnk"
  local values
  values=$(wine reg query "$key" /reg:"$view" 2>/dev/null | tr -d '\r')
  check "registered in Add/Remove programs, version $version" \
    grep -q "DisplayVersion *REG_SZ *$version" <<<"$values"
  check "the registered uninstaller is the installed one" \
    grep -q 'UninstallString *REG_SZ *"C:\\.*\\quillane VR7\\uninstall.exe"$' <<<"$values"

  wine "C:\\$2\\quillane VR7\\uninstall.exe" /S
  wineserver -w  # the uninstaller goes on from a copy of itself in the temporary folder
  check "uninstall removes the program folder and the shortcuts" test ! -e "$folder" -a ! -e "$menu"
  check "uninstall removes the registration" unregistered "$view"
}

unregistered() { ! wine reg query "$key" /reg:"$1" > /dev/null 2>&1; }

if [ ! -f "$setup" ]; then
  bad "no installer to try"
elif ! /usr/lib/wine/wine --version > /dev/null 2>&1; then
  echo "SKIP  $setup: this machine's Wine cannot start 32-bit programs, so the shipped"
  echo "      installer is not run. The same script built as a 64-bit installer is tried instead."
  makensis -V1 -DTARGET=amd64-unicode -DVERSION="$version" -DEXE="$root/$exe" \
    -DOUTFILE="$work/setup64.exe" packaging/installer.nsi
  try_installer "$work/setup64.exe" "Program Files" 64
else
  try_installer "$root/$setup" "Program Files (x86)" 32
fi
wineserver -k 2> /dev/null
finish
