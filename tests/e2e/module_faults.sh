#!/usr/bin/env bash
# The logger, without a window, against a simulated module that misbehaves; each
# run ends as the rules say (or goes on) in bounded time, its rows complete:
#   silent_start, late - no reply, or every reply 60 ms late: the link test fails, BMP000.BMP only
#   silent_mid, short  - silence after 30 samples, or a reply cut short: that ending's note last
#   hangup             - the line hung up for good mid-run: the run goes on to its end, the gap's note last
#   spoiled            - bad checksums and markers, junk, NUL bytes, a 5000-byte reply: the run goes on
#   unasked            - a reply-like line sent unasked after every reply: drained, never stored
BUILD_DIR=$1
FAULT=$2
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/headless.sh"
need python3

DATA="$E2E_TMP/run/DATA001.CSV"

check_rows() {
  python3 "$(dirname "$0")/check_rows.py" "$DATA" "$E2E_TMP/modsim.log" "$@" ||
    fail "the data file does not hold what the module sent"
}

# The palette index of a pixel of a saved picture (bottom-up rows after a 1078-byte head).
picture_pixel() {
  python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); print(d[1078 + (599 - int(sys.argv[3])) * 800 + int(sys.argv[2])])' \
    "$E2E_TMP/run/$1" "$2" "$3"
}

# ended_within SECONDS: the logger ends in time, with status 0; sets TOOK.
ended_within() {
  local started=$EPOCHREALTIME
  wait_exit "$LOGGER_PID" "$1"
  [ "$EXIT_STATUS" = 0 ] || fail "the logger ended with status $EXIT_STATUS"
  TOOK=$(since "$started")
}

# A start-up ending: the link test fails on its first exchange.
expect_link_failure() {
  start_modsim 3 --log "$E2E_TMP/modsim.log" "$@"
  prioritise "$MODSIM_PID"
  start_headless run
  keys '3\n'
  ended_within 15
  expect_picture "$E2E_TMP/run/BMP000.BMP"
  ls "$E2E_TMP/run" | grep -q CSV && fail "a data file was written"
  [ "$(requests_made)" = 1 ] || fail "$(requests_made) requests, expected 1 (no retry)"
  echo "$FAULT: link test failed at its first exchange; BMP000.BMP; ended $TOOK s after the port answer"
}

# Waits for an ending raised by the loop and checks the rows and the picture.
expect_loop_ending() {
  local ending=$1 rows=$2 stored
  ended_within 30
  stored=$(check_rows --ending "$ending" --rows "$rows")
  expect_picture "$E2E_TMP/run/BMP001.BMP"
  echo "$FAULT: $ending ending after $stored rows, note row last; BMP001.BMP; ended $TOOK s after the first sample"
}

escape_after_rows() {
  wait_rows "$DATA" "$1" 30
  keys '\033'
  ended_within 3
  expect_picture "$E2E_TMP/run/BMP001.BMP"
}

case "$FAULT" in
  silent_start)
    expect_link_failure --silent-after 0
    ;;
  late)
    expect_link_failure --delay-ms 60
    ;;
  silent_mid)
    start_sampling_run --silent-after 80
    expect_loop_ending no-reply 30
    ;;
  short)
    start_sampling_run --short-at 60
    expect_loop_ending short 9
    ;;
  hangup)
    start_sampling_run --hangup-at 60
    ended_within 75
    python3 -c 'import sys; sys.exit(not float(sys.argv[1]) > 50)' "$TOOK" || fail "the run ended $TOOK s after its start, before its end"
    stored=$(check_rows --ending run-end --rows 9)
    expect_picture "$E2E_TMP/run/BMP001.BMP"
    python3 -c 'import sys; d = open(sys.argv[1], "rb").read()  # row 7, columns 30-85: red text on white only
sys.exit({d[1078 + (599 - y) * 800 + x] for y in range(96, 112) for x in range(232, 680)} != {4, 15})' \
      "$E2E_TMP/run/BMP001.BMP" || fail "no disconnected line on row 7 of the picture"
    [ "$(picture_pixel BMP001.BMP 200 585)" = 8 ] || fail "no missed-column mark in the switch strip"
    echo "hangup: the run went on to its end ($TOOK s), $stored rows and the gap's note last; BMP001.BMP"
    ;;
  spoiled)
    start_sampling_run --bad-checksum-at 53,56,59 --bad-marker-at 54,59 --garbage-at 61 --nul-at 63 --long-reply-at 65
    escape_after_rows 20
    # The junk, the NUL reply and the long reply (and whatever of it is still
    # arriving with the next reply) are stored as the rules read them.
    stored=$(check_rows --ending escape --spoiled 61,63,65,66)
    for request in 53 56 59; do
      [ "$(picture_pixel BMP001.BMP $((request - 11)) 60)" = 14 ] || fail "no yellow line for request $request"
    done
    [ "$(picture_pixel BMP001.BMP 46 60)" != 14 ] || fail "a yellow line where the checksum held"
    grep -a -q '^"[0-9:]*",[0-9.e+-]*,"X.",' "$DATA" || fail "the NUL reply was not stored with its marker"
    echo "spoiled replies: the run went on, $stored rows, checksum notes and yellow lines where they failed; ended $TOOK s after ESC"
    ;;
  unasked)
    start_sampling_run --unasked 'X,0,1,2,3,4,10\r\n' --unasked-delay-ms 30
    escape_after_rows 20
    stored=$(check_rows --ending escape)
    grep -a -q ',"X",1,2,3,4,10,' "$DATA" && fail "an unasked line was stored as a sample"
    echo "unasked lines: all drained, $stored rows match the replies; ended $TOOK s after ESC"
    ;;
  *)
    fail "unknown fault $FAULT"
    ;;
esac
