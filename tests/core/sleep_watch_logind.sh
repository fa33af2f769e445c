#!/usr/bin/env bash
# The sleep watch against a stand-in for logind on a private system bus: quiet
# without a bus; with one it holds a delay lock, lets the program prepare
# before it lets the lock go when the computer is about to sleep, takes a new
# lock after the wake, and ends when the program stops it.
#   sleep_watch_logind.sh PROBE
PROBE=$1
BUILD_DIR=$(dirname "$PROBE")
source "$(dirname "$0")/../e2e/lib.sh"
source "$(dirname "$0")/../support/private_bus.sh"

# run_probe NAME: starts the probe in $E2E_TMP/NAME; stop_probe NAME ends it.
run_probe() {
  mkdir -p "$E2E_TMP/$1"
  "$PROBE" "$E2E_TMP/$1" 2>"$E2E_TMP/$1.err" &
  PROBE_PID=$!
  E2E_PIDS+=($PROBE_PID)
}
probe_ended() { ! kill -0 "$PROBE_PID" 2>/dev/null; }
stop_probe() {
  touch "$E2E_TMP/$1/end"
  wait_for 5 probe_ended || fail "$1: the watch did not end when stopped"
  wait "$PROBE_PID" || fail "$1: the probe ended with status $?"
}

DBUS_SYSTEM_BUS_ADDRESS="unix:path=$E2E_TMP/no_bus" run_probe no_bus
sleep 0.3
stop_probe no_bus
[ ! -s "$E2E_TMP/no_bus.err" ] || fail "without a system bus: $(cat "$E2E_TMP/no_bus.err")"

start_mock_logind
holds_lock() { [ "$(logind inhibitors)" = "Serial Data Logger: sleep delay (Saving the chart)" ]; }
lock_released() { [ -z "$(logind inhibitors)" ]; }
run_probe watch
wait_for 10 holds_lock || fail "no delay lock taken: $(logind inhibitors) $(cat "$E2E_TMP/watch.err")"
logind sleep
wait_for 5 test -e "$E2E_TMP/watch/sleep" || fail "the program was not told of the sleep"
holds_lock || fail "the lock went before the program had prepared"
touch "$E2E_TMP/watch/prepared"
wait_for 5 lock_released || fail "the lock was kept after the program had prepared"
logind wake
wait_for 5 test -e "$E2E_TMP/watch/resumed" || fail "the program was not told of the wake"
wait_for 5 holds_lock || fail "no new lock after the wake: $(logind inhibitors)"
stop_probe watch
grep -q 'about to sleep' "$E2E_TMP/watch.err" && grep -q 'data is safe' "$E2E_TMP/watch.err" &&
  grep -q 'woke' "$E2E_TMP/watch.err" || fail "notes on standard error: $(cat "$E2E_TMP/watch.err")"
echo "sleep watch: lock held, the program told before its release, a new lock after the wake"
