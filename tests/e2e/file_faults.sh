#!/usr/bin/env bash
# The logger, without a window, in a folder that will not take its files; each
# run ends with ESC once sampling (tmpfs tests skip where mounting is not allowed):
#   read_only   - no data file, the run goes on, no picture
#   disk_full   - the disk fills up mid-run: the data file keeps complete rows only
#   all_taken   - DATA001.CSV to DATA999.CSV exist: nothing stored, no picture
#   two_at_once - two loggers in one folder, their creates delayed 3 s: DATA001.CSV and DATA002.CSV
#   odd_entries - a fifo, a folder and a dangling link as DATA001-003.CSV: left alone, DATA004.CSV written
BUILD_DIR=$1
FAULT=$2
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/headless.sh"
need python3

RUN="$E2E_TMP/run"
MOUNTED=""
trap '[ -n "$MOUNTED" ] && umount -l "$MOUNTED" 2>/dev/null; e2e_cleanup' EXIT

# mount_tmpfs OPTIONS: a tmpfs over the run's folder, or the test is skipped.
mount_tmpfs() {
  mkdir -p "$RUN"
  mount -t tmpfs -o "$1" tmpfs "$RUN" 2>/dev/null || skip "mounting a tmpfs is not permitted here"
  MOUNTED=$RUN
}

enough_requests() {
  [ "$(requests_made)" -ge "$1" ]
}

# Starts a one-minute run and presses ESC once it has made `samples` requests.
run_until_samples() {
  start_sampling_run
  wait_for 30 enough_requests $((50 + $1)) || fail "the run did not reach $1 samples"
  keys '\033'
  local started=$EPOCHREALTIME
  wait_exit "$LOGGER_PID" 5
  [ "$EXIT_STATUS" = 0 ] || fail "the logger ended with status $EXIT_STATUS"
  ESCAPE_TOOK=$(since "$started")
}

case "$FAULT" in
  read_only)
    mount_tmpfs ro,size=64k
    run_until_samples 20
    [ -z "$(ls -A "$RUN")" ] || fail "something was written into the read-only folder"
    grep -q "cannot create DATA001.CSV" "$E2E_TMP/run.err" || fail "no reason on standard error"
    echo "read-only folder: no data file, the run went on for $(($(requests_made) - 50)) samples, no picture; ended $ESCAPE_TOOK s after ESC"
    ;;
  disk_full)
    mount_tmpfs size=64k
    # Leave about one page free, so that the disk fills up after a few dozen rows.
    head -c $((60 * 1024)) /dev/zero >"$RUN/filler" 2>/dev/null || true
    run_until_samples 80
    stored=$(python3 "$(dirname "$0")/check_rows.py" "$RUN/DATA001.CSV" "$E2E_TMP/modsim.log" --disk-full) ||
      fail "the data file is damaged"
    [ "$stored" -lt 80 ] || fail "the disk never filled up ($stored rows)"
    [ "$stored" -gt 10 ] || fail "only $stored rows before the disk filled up"
    echo "disk full: $stored complete rows of $(($(requests_made) - 50)) samples kept, no part of a row, the run went on; ended $ESCAPE_TOOK s after ESC"
    ;;
  all_taken)
    mkdir -p "$RUN"
    for n in $(seq -f '%03g' 1 999); do echo "$n" >"$RUN/DATA$n.CSV"; done
    run_until_samples 10
    [ "$(ls "$RUN" | wc -l)" = 999 ] || fail "a file was written"
    [ "$(cat "$RUN/DATA001.CSV")" = 001 ] && [ "$(cat "$RUN/DATA100.CSV")" = 100 ] || fail "an old data file changed"
    grep -q "no picture saved" "$E2E_TMP/run.err" || fail "no reason on standard error"
    echo "all 999 names taken: nothing stored, no picture; ended $ESCAPE_TOOK s after ESC"
    ;;
  two_at_once)
    ln -s run "$E2E_TMP/second" && start_modsim 3 --log "$E2E_TMP/modsim.log" && start_modsim 4 --log "$E2E_TMP/modsim4.log"
    delayed=(env LD_PRELOAD="$BUILD_DIR/tests/e2e/libcreate_delay.so" LOGGER_TEST_CREATE_DELAY_S=3
      ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" "$BUILD_DIR/logger")
    start_headless run "${delayed[@]}" && FIRST_PID=$LOGGER_PID FIRST_KEYS=$KEYS_FD
    start_headless second "${delayed[@]}" && keys '4\n1\nV\n' && printf '3\n1\nV\n' >&"$FIRST_KEYS"
    wait_sampling "$E2E_TMP/modsim.log" "$FIRST_PID" && wait_sampling "$E2E_TMP/modsim4.log" "$LOGGER_PID" ||
      skip "a link test missed its 50 ms window on a busy machine"
    wait_rows "$RUN/DATA001.CSV" 5 30 && wait_rows "$RUN/DATA002.CSV" 5 30
    keys '\033' && printf '\033' >&"$FIRST_KEYS" && wait_exit "$FIRST_PID" 5 && wait_exit "$LOGGER_PID" 5
    echo "two loggers started together in one folder: DATA001.CSV and DATA002.CSV, one each"
    ;;
  odd_entries)
    mkdir -p "$RUN/DATA002.CSV"
    mkfifo "$RUN/DATA001.CSV"
    ln -s nowhere "$RUN/DATA003.CSV"
    run_until_samples 10
    [ -p "$RUN/DATA001.CSV" ] && [ -d "$RUN/DATA002.CSV" ] && [ -L "$RUN/DATA003.CSV" ] ||
      fail "an existing entry was replaced"
    [ ! -e "$RUN/nowhere" ] || fail "the dangling link was written through"
    stored=$(python3 "$(dirname "$0")/check_rows.py" "$RUN/DATA004.CSV" "$E2E_TMP/modsim.log") || fail "DATA004.CSV is damaged"
    expect_picture "$RUN/BMP004.BMP"
    echo "fifo, folder and dangling link named DATA001-003.CSV: left alone, $stored rows in DATA004.CSV; ended $ESCAPE_TOOK s after ESC"
    ;;
  *)
    fail "unknown fault $FAULT"
    ;;
esac
