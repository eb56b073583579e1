# Sourced by the scripts: the Wine we run the Windows builds under.
#
# Wine runs the 64-bit build (x86_64) of the program and library. This machine's kernel
# cannot execute 32-bit Linux binaries, so Wine's 32-bit loader cannot start here; the
# shipped 32-bit build is built from the same sources and checked with objdump.
export WINELOADER=/usr/lib/wine/wine64
export WINESERVER=/usr/lib/wine/wineserver64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="

wine() { "$WINELOADER" "$@"; }
wineserver() { "$WINESERVER" "$@"; }

# The Windows form of a Linux path (Wine's drive Z: is the Linux root).
winpath() { printf 'Z:%s' "${1//\//\\}"; }
