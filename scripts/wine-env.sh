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

# Starts a virtual display for the Wine programs to come and exports DISPLAY; its process id
# in xvfb_pid. Call it before the first Wine program: that program starts the desktop's
# manager with its own environment, and a desktop lives on for a second after its last user
# leaves, so a window opened within it would get no display driver. Xvfb picks a free display
# number itself and writes it once it accepts clients (a number of our own choosing can be
# another server's). $1: a folder for its number and log.
start_virtual_display() {
  local dir=$1
  : > "$dir/xvfb.display"
  Xvfb -displayfd 4 -screen 0 1024x768x24 4> "$dir/xvfb.display" > "$dir/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 600); do
    [ -s "$dir/xvfb.display" ] || ! kill -0 "$xvfb_pid" 2> /dev/null && break
    sleep 0.05
  done
  [ -s "$dir/xvfb.display" ] || { echo "the virtual display did not start:" >&2; cat "$dir/xvfb.log" >&2; return 1; }
  DISPLAY=:$(cat "$dir/xvfb.display")
  export DISPLAY
}
