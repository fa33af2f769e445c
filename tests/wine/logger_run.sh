#!/usr/bin/env bash
# A whole one-minute run of logger.exe under Wine, typed in as a user would,
# beside the same run of the Linux logger, each against its own module
# simulator giving the same replies. Both must write the same data file (the
# time of day and the seconds aside) and the same picture (the elapsed-time
# readout aside), and the Windows picture must equal its screen.
#   logger_run.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR
# Runs inside tests/wine/sandbox.sh; exits 77 (skipped) outside it.
if [ "${1:-}" = "--side" ]; then
  side=$2
  BUILD_DIR=$3
  out=$4
  source "$(dirname "$0")/../e2e/lib.sh"
  [ "$side" = windows ] && export LOGGER_EXE=$5
  start_xvfb
  # Fixed readings and switch, so both runs get the same replies; one checksum
  # and one marker failure draw their marks.
  start_modsim 3 --values 300,600,900 --switch 1 --bad-checksum-at 120 --bad-marker-at 300
  start_logger
  type_line 3
  sleep 4  # the link test: fifty exchanges of at least 50 ms each
  type_line 1
  type_line V
  # The last row is written before the final second's wait: the screen then
  # stays as the picture will show it.
  count_rows() { [ "$(grep -c $'\r$' "$E2E_TMP/run/DATA001.CSV" 2>/dev/null)" -ge 723 ]; }
  wait_for 90 count_rows || fail "$side: the run did not reach its last column"
  sleep 0.3
  screenshot_rgb "$out/screen.rgb"
  wait_logger_exit 15 || fail "$side: the logger ended with status $?"
  cp "$E2E_TMP/run/DATA001.CSV" "$E2E_TMP/run/BMP001.BMP" "$out/"
  exit 0
fi

WINDOWS_BUILD=$1
BUILD_DIR=$2
source "$(dirname "$0")/../e2e/lib.sh"
[ -n "${WINE_SANDBOX:-}" ] || skip "runs only inside tests/wine/sandbox.sh"
[ -x "$BUILD_DIR/logger" ] && [ -x "$BUILD_DIR/modsim" ] || skip "the Linux build is missing in $BUILD_DIR"

# One side's run; on a busy machine a run may miss its start (the link test's
# 50 ms window, a display that does not answer): such a side is run once more.
run_side() {  # side, extra arguments
  local side=$1
  shift
  mkdir -p "$E2E_TMP/$side"
  bash "$0" --side "$side" "$BUILD_DIR" "$E2E_TMP/$side" "$@" >"$E2E_TMP/$side.log" 2>&1 && return 0
  echo "$side run failed once, trying again: $(tail -n 3 "$E2E_TMP/$side.log")"
  bash "$0" --side "$side" "$BUILD_DIR" "$E2E_TMP/$side" "$@" >"$E2E_TMP/$side.log" 2>&1
}
run_side linux &
linux_pid=$!
E2E_PIDS+=($linux_pid)
run_side windows "$WINDOWS_BUILD/logger.exe" &
windows_pid=$!
E2E_PIDS+=($windows_pid)
wait "$linux_pid" || fail "Linux run: $(cat "$E2E_TMP/linux.log")"
wait "$windows_pid" || fail "Windows run: $(cat "$E2E_TMP/windows.log")"

bmp_rgb "$E2E_TMP/windows/BMP001.BMP" "$E2E_TMP/windows/bmp.rgb"
[ "$(differing_pixels "$E2E_TMP/windows/screen.rgb" "$E2E_TMP/windows/bmp.rgb")" = 0 ] ||
  fail "the Windows BMP001.BMP differs from its screen"
python3 "$(dirname "$0")/../e2e/compare_runs.py" "$E2E_TMP/linux" "$E2E_TMP/windows" Linux Windows ||
  fail "the two runs differ"
echo "Windows and Linux runs agree"
