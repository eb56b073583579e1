#!/usr/bin/env bash
# The README's run command as a new user meets it: on a fresh copy of the tree, with no build/ folder,
# headless (no DISPLAY): first the Linux vr7 (--native, which builds only what it needs); then with
# the bundled simulator; with --device naming a pseudo-terminal that a simulator of this test holds,
# the way a real digitizer is named; with --cli, the console program.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
clone=$work/clone
device_pid=""
passed=0 failed=0
cleanup() {
  [ -n "$device_pid" ] && kill "$device_pid" 2> /dev/null
  rm -rf "$work"
}
trap cleanup EXIT
ok() { echo "ok    $*"; passed=$((passed + 1)); }
bad() { echo "FAIL  $*"; failed=$((failed + 1)); }
expect() {  # expect LOG WHAT PATTERN; vr7's lines end in CR LF
  if tr -d '\r' < "$1" | grep -qE "$3"; then ok "$2"; else bad "$2 (no line matching '$3' in the output)"; fi
}
# in_clone LOG WHAT ARGS...: scripts/run.sh ARGS on the clone, headless; its standard output in LOG,
# its standard error in LOG.err; WHAT passes if it exits with 0.
in_clone() {
  local log=$1 what=$2 start=$SECONDS status
  shift 2
  echo "--- scripts/run.sh $*"
  (cd "$clone" && env -u DISPLAY scripts/run.sh "$@") > "$log" 2> "$log.err"
  status=$?
  echo "    (took $((SECONDS - start)) s, exit status $status)"
  if [ $status -eq 0 ]; then ok "$what"; else bad "$what: it exited with $status:"; tail -n 30 "$log.err" "$log"; fi
}

# The tree as it stands, committed or not (tracked files): a clone checked out at a
# commit made of the work tree.
rev=$(git -C "$root" stash create)
git clone -q "$root" "$clone" && git -C "$clone" checkout -q "${rev:-HEAD}" ||
  { echo "FAIL  cannot clone $root"; exit 1; }
[ ! -e "$clone/build" ] || { echo "FAIL  the clone has a build folder"; exit 1; }

checks() {  # checks LOG FORM
  expect "$1" "$2: the frame for Lectra is shown" '^  frame DB 01 0E 71 80 DD at 9600 N 1$'
  expect "$1" "$2: the reply is shown" '^  reply EA( [0-9A-F]{2}){3} DD$'
  expect "$1" "$2: the final status is Status:OK!" '^Final status: Status:OK!$'
  local shot=$clone/build/run/screenshot.png
  if [ "$(head -c 4 "$shot" 2> /dev/null | od -An -tx1 | tr -d ' ')" = 89504e47 ]; then
    ok "$2: the screenshot is written"
  else
    bad "$2: no screenshot in $shot"
  fi
  rm -f "$shot"
}

in_clone "$work/native.log" "the run command with --native exits with vr7's status, 0" \
  --native configure --port build/run/digitizer --software 33 --json
expect "$work/native.log" "native: the configuration succeeds" '^  "status": "ok",$'

in_clone "$work/run.log" "the run command succeeds"
checks "$work/run.log" "simulator"

"$clone/build/host/tools/digisim/digisim" --link "$work/digitizer" --verbose > "$work/device.log" 2>&1 &
device_pid=$!
for _ in $(seq 100); do [ -s "$work/digitizer.port" ] && break; sleep 0.05; done
in_clone "$work/device-run.log" "the run command with --device succeeds" --device "$work/digitizer"
checks "$work/device-run.log" "device"
expect "$work/device.log" "device: the frame reached the device" '^frame DB 01 0E 71 80 DD at 9600 N 1$'

in_clone "$work/cli.log" "the run command with --cli exits with vr7's status, 0" --cli configure --port COM3 --software 33
expect "$work/cli.log" "cli: the final status is Status:OK!" '^Status:OK!$'

echo "fresh-clone run: $passed passed, $failed failed"
[ $failed -eq 0 ]
