#!/usr/bin/env bash
# Checks a built Windows binary: `check-pe.sh FILE ARCH [exports]`, ARCH i686 or x86_64.
# Its imports must all be Windows system DLLs; with `exports`, its export table must be
# exactly the seven port functions, undecorated, at ordinals 1 to 7.
set -euo pipefail
file=$1 arch=$2 what=${3:-}
dump=$("$arch-w64-mingw32-objdump" -p "$file")
status=0

expected_magic=$([ "$arch" = i686 ] && echo 'PE32)' || echo 'PE32+)')
grep -q "^Magic.*($expected_magic" <<<"$dump" || { echo "$file: not a $expected_magic image"; status=1; }

system_dlls='^(kernel32|user32|gdi32|advapi32|comctl32|comdlg32|shell32|ole32|oleaut32|version|msvcrt|ws2_32|ntdll|uxtheme|shlwapi|setupapi)\.dll$'
while read -r dll; do
  if ! grep -qiE "$system_dlls" <<<"$dll"; then echo "$file imports $dll, not a Windows system DLL"; status=1; fi
done < <(sed -n 's/^\s*DLL Name: //p' <<<"$dump")

if [ "$what" = exports ]; then
  expected=$'1 TestPort\n2 OpenPort\n3 ClosePort\n4 senddata\n5 ListSerialComm\n6 recvdata\n7 WaitRecvdata'
  # "[   0] TestPort" under the name pointer table: index + ordinal base 1.
  actual=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p;/\[Name Pointer\/Ordinal\] Table/,/^$/p' <<<"$dump" |
           sed -n 's/^\s*\[\s*\([0-9]*\)\] \(.*\)$/\1 \2/p' | awk '{print $1+1, $2}' | sort -n)
  base=$(sed -n 's/^Ordinal Base\s*//p' <<<"$dump" | head -1 | tr -d ' \t')
  [ "$base" = 1 ] || { echo "$file: ordinal base $base, not 1"; status=1; }
  if [ "$actual" != "$expected" ]; then
    echo "$file: exports differ from the seven port functions at ordinals 1 to 7:"; echo "$actual"; status=1
  fi
fi
[ $status -eq 0 ] && echo "$file: ok"
exit $status
