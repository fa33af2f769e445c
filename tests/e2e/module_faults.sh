#!/usr/bin/env bash
# The logger, without a window, against a simulated module that misbehaves.
# Each run must end as the logger's rules say (or go on), within a bounded
# time, with every complete row in the data file:
#   silent_start - no reply at all: the link test fails, BMP000.BMP, no data file
#   late         - every reply 60 ms late, after the 50 ms window: the same
#   silent_mid   - silence after 30 samples: the no-reply ending and its note
#   short        - a reply cut to 16 bytes: the short-reply ending and its note
#   hangup       - the line is hung up mid-run for good (adapter pulled out): the
#                  run goes on to its end, the gap's note row last
#   spoiled      - wrong checksums, wrong markers, binary junk, NUL bytes and a
#                  5000-byte reply without a separator: the run goes on
#   unasked      - a reply-like line sent unasked after every reply: drained, never stored
BUILD_DIR=$1
FAULT=$2
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/headless.sh"
need python3

CHECK_ROWS="$(dirname "$0")/check_rows.py"
DATA="$E2E_TMP/run/DATA001.CSV"
LOG="$E2E_TMP/modsim.log"

serve_module() {
  start_modsim 3 --log "$LOG" "$@"
  prioritise "$MODSIM_PID"
}

# Starts a one-minute run in volts against a module with the given faults and
# waits until it samples. On a busy machine the link test may miss its 50 ms
# window and end the program first: then the run is started again (twice at most).
begin_run() {
  local attempt
  for attempt in 1 2 3; do
    serve_module "$@"
    start_headless run
    answer_one_minute_run
    wait_sampling "$LOG" "$LOGGER_PID" && return 0
    wait_exit "$LOGGER_PID" 10
    [ "$EXIT_STATUS" = 0 ] || fail "the logger ended with status $EXIT_STATUS before sampling"
    echo "the link test failed on a busy machine; starting again" >&2
    kill "$MODSIM_PID" 2>/dev/null || true
    wait_for 5 test ! -e "$E2E_TMP/ports/COM3" || rm -f "$E2E_TMP/ports/COM3"
    rm -rf "$E2E_TMP/run" "$LOG"
  done
  fail "the link test failed three times"
}

check_rows() {
  python3 "$CHECK_ROWS" "$DATA" "$LOG" "$@" || fail "the data file does not hold what the module sent"
}

requests_made() {
  grep -c ' request ' "$LOG" || true
}

expect_picture() {
  [ "$(stat -c %s "$E2E_TMP/run/$1" 2>/dev/null)" = 481078 ] || fail "no 481078-byte $1"
}

# The palette index of a pixel of a saved picture (bottom-up rows after a 1078-byte head).
picture_pixel() {
  python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); print(d[1078 + (599 - int(sys.argv[3])) * 800 + int(sys.argv[2])])' \
    "$E2E_TMP/run/$1" "$2" "$3"
}

# A start-up ending: the link test fails on its first exchange.
expect_link_failure() {
  keys '3\n'
  local started
  started=$(now)
  wait_exit "$LOGGER_PID" 15
  [ "$EXIT_STATUS" = 0 ] || fail "the logger ended with status $EXIT_STATUS"
  expect_picture BMP000.BMP
  ls "$E2E_TMP/run" | grep -q CSV && fail "a data file was written"
  [ "$(requests_made)" = 1 ] || fail "$(requests_made) requests, expected 1 (no retry)"
  echo "$FAULT: link test failed at its first exchange; BMP000.BMP; ended $(since "$started") s after the port answer"
}

# Waits for an ending raised by the loop and checks the rows and the picture.
expect_loop_ending() {
  local ending=$1 rows=$2
  local started
  started=$(now)
  wait_exit "$LOGGER_PID" 30
  [ "$EXIT_STATUS" = 0 ] || fail "the logger ended with status $EXIT_STATUS"
  local stored
  stored=$(check_rows --ending "$ending" --rows "$rows")
  expect_picture BMP001.BMP
  echo "$FAULT: $ending ending after $stored rows, note row last; BMP001.BMP; ended $(since "$started") s after the first sample"
}

escape_after_rows() {
  wait_rows "$DATA" "$1" 30
  keys '\033'
  local started
  started=$(now)
  wait_exit "$LOGGER_PID" 3
  [ "$EXIT_STATUS" = 0 ] || fail "the logger ended with status $EXIT_STATUS"
  ESCAPE_TOOK=$(since "$started")
  expect_picture BMP001.BMP
}

case "$FAULT" in
  silent_start)
    serve_module --silent-after 0
    start_headless run
    expect_link_failure
    ;;
  late)
    serve_module --delay-ms 60
    start_headless run
    expect_link_failure
    ;;
  silent_mid)
    begin_run --silent-after 80
    expect_loop_ending no-reply 30
    ;;
  short)
    begin_run --short-at 60
    expect_loop_ending short 9
    ;;
  hangup)
    begin_run --hangup-at 60
    started=$(now)
    wait_exit "$LOGGER_PID" 75
    [ "$EXIT_STATUS" = 0 ] || fail "the logger ended with status $EXIT_STATUS"
    took=$(since "$started")
    python3 -c 'import sys; sys.exit(not float(sys.argv[1]) > 50)' "$took" || fail "the run ended $took s after its start, before its end"
    stored=$(check_rows --ending run-end --rows 9)
    expect_picture BMP001.BMP
    python3 -c 'import sys; d = open(sys.argv[1], "rb").read()  # row 7, columns 30-85: red text on white only
sys.exit({d[1078 + (599 - y) * 800 + x] for y in range(96, 112) for x in range(232, 680)} != {4, 15})' \
      "$E2E_TMP/run/BMP001.BMP" || fail "no disconnected line on row 7 of the picture"
    [ "$(picture_pixel BMP001.BMP 200 585)" = 8 ] || fail "no missed-column mark in the switch strip"
    echo "hangup: the run went on to its end ($took s), $stored rows and the gap's note last; BMP001.BMP"
    ;;
  spoiled)
    begin_run --bad-checksum-at 53,56,59 --bad-marker-at 54,59 --garbage-at 61 --nul-at 63 --long-reply-at 65
    escape_after_rows 20
    # The junk, the NUL reply and the long reply (and whatever of it is still
    # arriving with the next reply) are stored as the rules read them.
    stored=$(check_rows --ending escape --spoiled 61,63,65,66)
    for request in 53 56 59; do
      [ "$(picture_pixel BMP001.BMP $((request - 11)) 60)" = 14 ] || fail "no yellow line for request $request"
    done
    [ "$(picture_pixel BMP001.BMP 46 60)" != 14 ] || fail "a yellow line where the checksum held"
    grep -a -q '^"[0-9:]*",[0-9.e+-]*,"X.",' "$DATA" || fail "the NUL reply was not stored with its marker"
    echo "spoiled replies: the run went on, $stored rows, checksum notes and yellow lines where they failed; ended $ESCAPE_TOOK s after ESC"
    ;;
  unasked)
    begin_run --unasked 'X,0,1,2,3,4,10\r\n' --unasked-delay-ms 30
    escape_after_rows 20
    stored=$(check_rows --ending escape)
    grep -a -q ',"X",1,2,3,4,10,' "$DATA" && fail "an unasked line was stored as a sample"
    echo "unasked lines: all drained, $stored rows match the replies; ended $ESCAPE_TOOK s after ESC"
    ;;
  *)
    fail "unknown fault $FAULT"
    ;;
esac
