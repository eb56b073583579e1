#!/usr/bin/env bash
# Checks the zip, the installer and the Debian package that scripts/release.sh left in dist/
# against the builds in QUILLANE_RELEASE_BUILD (default build/win-i686) and build/linux;
# tests/release/installer-test.sh runs the installer.
# The texts must have CRLF line ends: Notepad on older Windows shows LF-only text as one line.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
build=${QUILLANE_RELEASE_BUILD:-build/win-i686}
program="quillane VR7.exe"
console=vr7.exe
exe=$build/app/$program
cli=$build/cli/$console
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

for file in "$exe" "$cli"; do
  [ -f "$file" ] || { bad "the program $file does not exist: build it and run scripts/release.sh first"; finish; }
done
version=$(exe_version "$exe") || { bad "no single version block in $exe"; finish; }
zip=dist/quillane-VR7-$version-win32.zip
setup=dist/quillane-VR7-$version-setup.exe
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# --- the zip
if [ -f "$zip" ]; then
  listing=$(cmake -E tar tf "$zip" | sort)
  expected=$(printf '%s\n' "$program" "$console" "${texts[@]}" | sort)
  check "$zip holds exactly: $program, $console, ${texts[*]}" [ "$listing" = "$expected" ]
  (cd "$work" && cmake -E tar xf "$root/$zip")
  check "the zip's program is byte-identical to $exe" cmp -s "$work/$program" "$exe"
  check "the zip's $console is byte-identical to $cli" cmp -s "$work/$console" "$cli"
  check "$console is a 32-bit (i386) PE program with version $version" \
    [ "$(pe_machine "$cli")" = 014c -a "$(exe_version "$cli")" = "$version" ]
  for text in "${texts[@]}"; do
    check "the zip's $text is packaging/$text" cmp -s "$work/$text" "packaging/$text"
    check "$text has CRLF line ends only" crlf_only "$work/$text"
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

# --- the Debian package: unpacked as dpkg would install it, and run from there
deb=dist/vr7_${version}_$(dpkg --print-architecture).deb
if [ -f "$deb" ]; then
  dpkg -x "$deb" "$work/deb"
  unpacked=$work/deb/usr/bin/vr7
  check "$deb installs /usr/bin/vr7 and its manual page" [ -x "$unpacked" -a -s "$work/deb/usr/share/man/man1/vr7.1.gz" ]
  check "the packaged vr7 says its version $version" [ "$("$unpacked" --version)" = "vr7 (quillane VR7) $version" ]
  check "the packaged vr7 lists the 50 CAD programs" [ "$("$unpacked" software | wc -l)" = 51 ]
  depends=$(dpkg-deb -f "$deb" Depends)
  check "its Depends names the C library alone ($depends)" \
    bash -c 'grep -qxE "libc6 \(>= [0-9.]+\)" <<<"$1"' _ "$depends"
  needed=$(objdump -p "$unpacked" | awk '/NEEDED/ {print $2}' | sort | tr '\n' ' ')
  check "it needs only the C library's own files ($needed)" \
    bash -c "! printf '%s\n' $needed | grep -qvE '^(libc|libm|ld-linux-x86-64|libpthread)\.so'"
else
  bad "$deb does not exist (run scripts/release.sh)"
fi

finish
