#!/usr/bin/env bash
# Runs of the logger against the module simulator, typed in as a user would:
#   escape, minute - a one-minute run ended with ESC after 9 s, or run to its last column
#   silent       - the module stops answering mid-run
#   kill         - SIGKILL mid-run
#   term         - SIGTERM and SIGHUP at once mid-run, standard error's reader gone: taken like ESC
#   display_lost - started with nohup, SIGHUP then the X server killed mid-run: taken like ESC
#   interrupt    - SIGINT at the port prompt: the start-up picture is kept
#   launcher     - the demo launcher, its simulator slow to start, gets SIGTERM mid-run: passed on, nothing left
#   endsession   - logger.exe under Wine: the Windows session ends mid-run
#   terminal     - no window, on a pseudo-terminal; the port gone for a while; ended with ESC
#   vanish       - the module's port goes away for 3 s and comes back: the run goes on after its gap
#   sleep_lock   - logind (a stand-in) sees the logger's delay lock, let go at a sleep, taken again after it
#   sleep        - the computer sleeps 10 s into a run: the picture first, then a gap (logind, or Wine)
BUILD_DIR=$1
MODE=$2
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/headless.sh"
source "$(dirname "$0")/../support/private_bus.sh"

[ "$MODE" = terminal ] || start_xvfb "$([ "$MODE" = silent ] && echo 2560x1440)"  # silent at scale 2: the picture is the frame still

begin_run() {
  start_modsim 3 --log "$E2E_TMP/modsim.log" "$@"
  start_logger
  answer_run 3
}

# check_rows HOW [OPTIONS...]: the data file holds complete rows with the
# simulator's replies and times (see check_rows.py); sets SAMPLES.
check_rows() {
  SAMPLES=$(python3 "$(dirname "$0")/check_rows.py" --times "$E2E_TMP/run/DATA001.CSV" "$E2E_TMP/modsim.log" "${@:2}") ||
    fail "the rows after $1 are incomplete or differ from the simulator's replies"
}

# check_run_kept MIN HOW [OPTIONS...]: a run ended early keeps at least MIN rows
# and its picture; a signal may take the reply in hand (--ending killed).
check_run_kept() {
  check_rows "${@:2}"
  [ "$SAMPLES" -ge "$1" ] || fail "only $SAMPLES rows before $2"
  expect_picture "$E2E_TMP/run/BMP001.BMP"
}

case "$MODE" in
  escape)
    begin_run
    sleep 9
    press_key Escape
    wait_logger_exit 3 || fail "the logger ended with status $?"
    check_run_kept 40 ESC
    echo "escape after 9 s: $SAMPLES rows"
    ;;
  silent)
    begin_run --silent-after 80
    wait_for 30 grep -q "no data was received" "$E2E_TMP/run/DATA001.CSV" || fail "no no-reply note"
    sleep 0.5
    screenshot_rgb "$E2E_TMP/silent.rgb"
    wait_logger_exit 15 || fail "the logger ended with status $?"
    check_rows "the silence" --ending no-reply --rows 30
    [ "$(pixels_off "$E2E_TMP/silent.rgb" "$E2E_TMP/run/BMP001.BMP")" = 0 ] || fail "BMP001.BMP differs from the screen"
    echo "silent module: ok"
    ;;
  kill)
    begin_run
    sleep 8
    kill -9 "$LOGGER_PID"
    wait "$LOGGER_PID" 2>/dev/null || true
    check_rows "kill -9" --ending killed
    [ "$SAMPLES" -ge 30 ] || fail "only $SAMPLES rows survived"
    echo "kill -9: $SAMPLES complete rows"
    ;;
  term)
    # Standard error goes to a reader that is already gone, as a pipe into tee after an SSH hang-up.
    printf '#!/bin/bash\nexec "$@" 2> >(exec true)\n' >"$E2E_TMP/gone_reader" && chmod +x "$E2E_TMP/gone_reader"
    LOGGER_LAUNCH=$E2E_TMP/gone_reader begin_run
    sleep 8
    screenshot_rgb "$E2E_TMP/term.rgb"
    kill -TERM "$LOGGER_PID"
    kill -HUP "$LOGGER_PID"
    wait_logger_exit 3 || fail "the logger ended with status $? after SIGTERM and SIGHUP"
    check_run_kept 40 SIGTERM --ending killed
    # Only the newest columns and the readouts may differ from the picture taken a moment later.
    [ "$(pixels_off "$E2E_TMP/term.rgb" "$E2E_TMP/run/BMP001.BMP")" -lt 20000 ] || fail "BMP001.BMP is not the screen"
    echo "SIGTERM after 8 s: $SAMPLES rows and the picture"
    ;;
  display_lost)
    LOGGER_LAUNCH=nohup begin_run
    sleep 4
    kill -HUP "$LOGGER_PID"
    sleep 4
    kill -0 "$LOGGER_PID" || fail "the logger started with nohup ended on SIGHUP"
    kill -9 "$XVFB_PID"
    wait_logger_exit 5 || fail "the logger ended with status $? when its display went away"
    check_run_kept 40 "the display went away" --ending killed
    echo "SIGHUP ignored, then the display lost after 8 s: $SAMPLES rows and the picture"
    ;;
  interrupt)
    start_modsim 3
    start_logger
    sleep 0.5
    kill -INT "$LOGGER_PID"
    wait_logger_exit 3 || fail "the logger ended with status $? after SIGINT"
    expect_picture "$E2E_TMP/run/BMP000.BMP"
    [ ! -e "$E2E_TMP/run/DATA001.CSV" ] || fail "a data file was made"
    echo "SIGINT at the port prompt: BMP000.BMP"
    ;;
  launcher)
    # A simulator that takes 11 s to make COM1, as on a machine with both cores busy.
    printf '#!/bin/sh\nsleep 11\nexec "%s" "$@" --log "%s"\n' "$BUILD_DIR/modsim" "$E2E_TMP/modsim.log" \
      >"$E2E_TMP/slow-modsim"
    chmod +x "$E2E_TMP/slow-modsim"
    sed -e "s|^program_dir=.*|program_dir=$BUILD_DIR|" -e "s|^simulator=.*|simulator=$E2E_TMP/slow-modsim|" \
      "$(dirname "$0")/../../packaging/linux/serial-logger" >"$E2E_TMP/serial-logger"
    mkdir -p "$E2E_TMP/home"
    ln -s "$E2E_TMP/home/Data Logger" "$E2E_TMP/run"
    HOME=$E2E_TMP/home XDG_CONFIG_HOME=$E2E_TMP/home TMPDIR=$E2E_TMP bash "$E2E_TMP/serial-logger" --demo &
    LOGGER_PID=$!
    E2E_PIDS+=($LOGGER_PID)
    wait_for 30 xdotool search --name '^logger$' || fail "the demo's logger window did not appear"
    LOGGER_WINDOW=$(xdotool search --name '^logger$' | head -1)
    answer_run 1
    sleep 6
    kill -TERM "$LOGGER_PID"
    wait_logger_exit 5 || fail "the launcher ended with status $? after SIGTERM"
    check_run_kept 10 "SIGTERM to the launcher" --ending killed
    ! pgrep -f -- "--ports-dir $E2E_TMP/serial-logger-demo" >/dev/null || fail "the simulator was left running"
    ! ls -d "$E2E_TMP"/serial-logger-demo.* 2>/dev/null || fail "the ports folder was left"
    echo "SIGTERM to the demo launcher: $SAMPLES rows and the picture, status 0"
    ;;
  endsession)
    [ -n "${LOGGER_EXE:-}" ] && [ -n "${END_SESSION_EXE:-}" ] || skip "only for logger.exe under Wine"
    begin_run
    sleep 8
    wine "$END_SESSION_EXE" logger >"$E2E_TMP/end_session.out" 2>&1 ||
      fail "the session's end was refused or not taken: $(cat "$E2E_TMP/end_session.out")"
    wait_logger_exit 5 || fail "the logger ended with status $? after the session's end"
    check_run_kept 40 "the session's end" --ending killed
    # The reason the session waits is stated first and withdrawn after the picture.
    sed -n '/the session is ending; saving the chart/,$p' "$E2E_TMP/logger.err" | grep -q 'the chart is saved' ||
      fail "no block reason stated and withdrawn: $(cat "$E2E_TMP/logger.err")"
    echo "end of session after 8 s: $SAMPLES rows and the picture"
    ;;
  vanish)
    # Wine maps COM3 to the simulator's link, so that a reopen finds its new pty.
    WINE_PORTS_AS_LINKS=1 begin_run --vanish-at 70 --vanish-for 3000
    wait_for 40 grep -q "COM3 was disconnected. " "$E2E_TMP/run/DATA001.CSV" || fail "no gap note row"
    sleep 2
    press_key Escape
    wait_logger_exit 3 || fail "the logger ended with status $?"
    check_run_kept 40 "ESC after the gap"
    python3 - "$E2E_TMP/run/DATA001.CSV" <<'PY' || fail "the gap is not in the data file as it should be"
import sys
rows = open(sys.argv[1], 'rb').read().decode('latin-1').split('\r\n')[1:-1]
gap = [i for i, r in enumerate(rows) if r.startswith('"No data from ')]
assert len(gap) == 1 and gap[0] == 20, gap  # requests 51-70 answered, then the pty went
seconds = [float(r.split(',')[1]) for r in rows if r.count(',') == 13]
missed = (seconds[20] - seconds[19]) * 12 - 1
assert 30 < missed < 60, missed  # about 3 s away and the look twice a second
# A burst would crowd the missed columns in after the gap; a column late under load only moves itself.
after = seconds[20:]
assert len(after) <= (after[-1] - after[0]) * 12 + 2, ('a burst of columns', len(after), after[-1] - after[0])
PY
    echo "port away for 3 s: $SAMPLES rows, the gap noted once and no burst"
    ;;
  terminal)
    start_modsim 3 --log "$E2E_TMP/modsim.log" --vanish-at 70 --vanish-for 1500
    in_terminal run 'Number \(1-10\):' '3\n' 'minutes\):' '1\n' 'Temperature:' 'V\n' \
      'plug it back in to carry on' '' 'COM3 was disconnected from \d\d:\d\d:\d\d to \d\d:\d\d:\d\d' '\033\n' ||
      fail "the run in a terminal failed"
    check_run_kept 20 "ESC in the terminal"
    # The prompts and messages in order, then one line per row of the data file, with its values.
    python3 - "$E2E_TMP/run.out" "$E2E_TMP/run/DATA001.CSV" <<'PY' || fail "the terminal showed the run wrongly"
import re, sys
shown = open(sys.argv[1], encoding='ascii').read()
wanted = ['COM Port Number (1-10): 3', 'Serial Port Speed is OK', '1440 minutes): 1', 'Temperature: V',
          'now starting', 'Data File: DATA001.CSV']
assert all(0 <= shown.find(w) < shown.find(n) for w, n in zip(wanted, wanted[1:])), shown[:2000]
lines = re.findall(r'^Column (\d+)/721 +Elapsed Time: +([\d.]+) Seconds +V1= ([\d.]+) +V2= ([\d.]+) +V3= ([\d.]+)$',
                   shown, re.M)
rows = [r.split(',') for r in open(sys.argv[2]).read().splitlines() if r.count(',') == 13][1:]
assert len(lines) == len(rows) and all(int(a[0]) < int(b[0]) for a, b in zip(lines, lines[1:])), (len(lines), len(rows))
for line, row in zip(lines, rows):
    assert all(abs(float(a) - float(b)) < 0.0011 for a, b in zip(line[1:], [row[1]] + row[8:11])), (line, row)
PY
    echo "in a terminal: the prompts and $SAMPLES progress lines, one per row"
    ;;
  sleep_lock)
    start_mock_logind
    start_logger
    wait_for 10 logind_holds_lock || fail "no delay lock at the start: $(logind inhibitors)"
    logind suspend
    wait_for 5 logind_lock_free || fail "the lock was kept at a sleep with no run to save"
    logind resume
    wait_for 5 logind_holds_lock || fail "no new lock after the wake: $(logind inhibitors)"
    kill -TERM "$LOGGER_PID"
    wait_logger_exit 5 || fail "the logger ended with status $? after SIGTERM"
    echo "a delay lock held, released at the sleep, taken again after the wake"
    ;;
  sleep)
    if [ -n "${LOGGER_EXE:-}" ]; then
      computer() { wine "$END_SESSION_EXE" "--$1" >>"$E2E_TMP/power.out" 2>&1 || fail "the $1 was not taken"; }
      begin_run
      wait_sampling "$E2E_TMP/modsim.log" "$LOGGER_PID" || fail "the run did not sample"
    else
      # The computer sleeps once logind's lock is let go: the picture must be there by then.
      computer() { logind "$1" && { [ "$1" = resume ] || wait_for 6 logind_lock_free; } || fail "the lock was kept"; }
      start_mock_logind
      start_sampling_run
    fi
    sleep 10
    computer suspend
    expect_picture "$E2E_TMP/run/BMP001.BMP"
    asleep_from=$(requests_made)
    sleep 3
    [ "$(requests_made)" = "$asleep_from" ] || fail "requests were sent while asleep"
    computer resume
    checked() { [ "$(requests_made)" -ge $((asleep_from + 3)) ]; }
    wait_for 5 checked || fail "no check of the module soon after the wake"
    wait_logger_exit 70 || fail "the logger ended with status $? after the sleep"
    grep -aqE '^"No data from [0-9:]{8} to [0-9:]{8}: the computer was asleep\. "' "$E2E_TMP/run/DATA001.CSV" ||
      fail "no note of the gap in the data file"
    echo "a sleep 10 s into the run: the picture before it, the run went on after the wake with its gap noted"
    ;;
  minute)
    begin_run
    sleep 55
    wait_logger_exit 20 || fail "the logger ended with status $?"
    check_run_kept 721 "the run's end"
    echo "one-minute run: 721 rows"
    ;;
  *)
    fail "unknown mode $MODE"
    ;;
esac
