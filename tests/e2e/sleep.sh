#!/usr/bin/env bash
# A run that the computer's sleep interrupts: 10 s into a one-minute run the
# computer is about to sleep. The picture so far must be saved before the
# sleep may go ahead, the port rests while the computer sleeps, the run goes on
# after the wake with a short check of the module and ends by itself, status
# 0, with a note of the gap in its data file.
# On Linux the logger runs without a window and hears of the sleep from a
# stand-in for logind on a private system bus, whose delay lock it must hold
# until the picture is saved. With LOGGER_EXE and POWER_EXE set (inside
# tests/wine/sandbox.sh) logger.exe runs in its window and gets Windows' power
# messages, which it answers once the picture is saved.
#   sleep.sh LINUX_BUILD_DIR
BUILD_DIR=$1
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/headless.sh"
source "$(dirname "$0")/../support/private_bus.sh"

LOG=$E2E_TMP/modsim.log
PICTURE=$E2E_TMP/run/BMP001.BMP
requests_made() { grep -c ' request ' "$LOG" || true; }
requests_since() { [ "$(requests_made)" -ge $(($1 + $2)) ]; }

start_modsim 3 --log "$LOG"
if [ -n "${LOGGER_EXE:-}" ]; then
  [ -n "${POWER_EXE:-}" ] || skip "POWER_EXE is not set"
  ERR=$E2E_TMP/logger.err
  start_xvfb
  start_logger
  type_line 3
  sleep 3.5  # the link test's fifty exchanges
  type_line 1
  type_line V
  computer() {
    wine "$POWER_EXE" "$1" >>"$E2E_TMP/power.out" 2>&1 || fail "the window did not take the $1: $(cat "$E2E_TMP/power.out")"
  }
else
  ERR=$E2E_TMP/run.err
  start_mock_logind
  start_headless run
  answer_one_minute_run
  holds_lock() { [ "$(logind inhibitors)" = "Serial Data Logger: sleep delay (Saving the chart)" ]; }
  wait_for 10 holds_lock || fail "no delay lock taken: $(logind inhibitors)"
  # The sleep goes ahead once the lock is released; by then the picture must be there.
  computer() {
    if [ "$1" = resume ]; then
      logind wake
      return
    fi
    logind sleep
    local deadline=$((SECONDS + 6))
    until [ -z "$(logind inhibitors)" ]; do
      [ $SECONDS -lt $deadline ] || fail "the delay lock was kept past logind's wait"
    done
    [ -e "$PICTURE" ] || fail "the lock was released before the picture was saved"
  }
fi
wait_sampling "$LOG" "$LOGGER_PID" || fail "the run did not start sampling: $(cat "$ERR")"
sleep 10
computer suspend
[ "$(stat -c %s "$PICTURE" 2>/dev/null)" = 481078 ] || fail "no picture of the run so far before the sleep"
asleep_from=$(requests_made)
sleep 3
[ "$(requests_made)" = "$asleep_from" ] || fail "requests were sent while the computer slept"
computer resume
wait_for 5 requests_since "$asleep_from" 3 || fail "no check of the module soon after the wake"
wait_exit "$LOGGER_PID" 70
[ "$EXIT_STATUS" = 0 ] || fail "the run ended with status $EXIT_STATUS: $(cat "$ERR")"
grep -aqE '^"No data from [0-9]{2}:[0-9]{2}:[0-9]{2} to [0-9]{2}:[0-9]{2}:[0-9]{2}: the computer was asleep\. "' \
  "$E2E_TMP/run/DATA001.CSV" || fail "no note of the gap in the data file"
grep -q 'about to sleep' "$ERR" && grep -q 'the computer woke' "$ERR" || fail "no notes of the sleep: $(cat "$ERR")"
echo "a sleep 10 s into the run: the picture saved before it, the run went on after the wake with its gap noted"
