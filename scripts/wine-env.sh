# Sourced by the scripts: the Wine we run the Windows builds under.
#
# Prefixes are 64-bit and are started through the 64-bit loader: a 32-bit program in
# them runs the way it does on 64-bit Windows, where the machine can run Wine's 32-bit
# loader at all (scripts/wine-build.sh finds out which build the tests use).
export WINELOADER=/usr/lib/wine/wine64
export WINESERVER=/usr/lib/wine/wineserver64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="

wine() { "$WINELOADER" "$@"; }
wineserver() { "$WINESERVER" "$@"; }

# The Windows form of a Linux path (Wine's drive Z: is the Linux root).
winpath() { printf 'Z:%s' "${1//\//\\}"; }
