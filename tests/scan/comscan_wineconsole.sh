#!/usr/bin/env bash
# comscan.exe in a Wine console window on a private Xvfb: Shift and Ctrl
# pressed alone leave it waiting, an ordinary key ends it with status 0.
# Runs only inside tests/wine/sandbox.sh (77 outside it, or without Xvfb/xdotool).
#
#   tests/scan/comscan_wineconsole.sh BUILD_DIR
set -uo pipefail
if [ -z "${WINE_SANDBOX:-}" ]; then
  echo "comscan_wineconsole: needs tests/wine/sandbox.sh; skipped" >&2
  exit 77
fi
for tool in Xvfb xdotool wineconsole; do
  command -v "$tool" >/dev/null || { echo "comscan_wineconsole: no $tool; skipped" >&2; exit 77; }
done
program=$(realpath "$1/comscan.exe")
work=$(mktemp -d /tmp/comscan_wineconsole.XXXXXX)
xvfb=
console=

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cleanup() {
  [ -n "$console" ] && kill "$console" 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Waits up to 5 s for a command to succeed.
wait_for() {
  for _ in $(seq 100); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.05
  done
  return 1
}

source "$(dirname "$(realpath "$0")")/../support/xvfb.sh"
start_private_xvfb "$work" || { xvfb=$XVFB_PID; fail "no display"; }
xvfb=$XVFB_PID

wineconsole "$program" >"$work/console.log" 2>&1 &
console=$!
# The console window is an X window named after the program's Windows path.
wait_for xdotool search --name 'comscan\.exe$' || fail "no console window"
window=$(xdotool search --name 'comscan\.exe$' | head -1)
xdotool windowfocus --sync "$window" || fail "cannot focus the console window"

xdotool key shift ctrl
sleep 0.5
kill -0 "$console" 2>/dev/null || fail "ended before a key (or on Shift or Ctrl alone)"
xdotool key k
wait_for sh -c "! kill -0 $console" || fail "still running 5 s after a key"
wait "$console"
status=$?
console=
[ $status -eq 0 ] || fail "exit status $status: $(cat "$work/console.log")"
echo "comscan.exe in a Wine console: waited through Shift and Ctrl, ended on a key"
