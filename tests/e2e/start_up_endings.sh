#!/usr/bin/env bash
# The start-up endings as a user meets them: a port missing or that cannot be
# opened, and a module silent in the link test, each with BMP000.BMP equal to the
# screen and no data file. Under Wine, logger.exe run from the temporary folder
# (a zip opened in Explorer) refuses to start.
BUILD_DIR=$1
source "$(dirname "$0")/lib.sh"

# Non-white pixels of text row 13 (pixel lines 192-207) in a raw RGB screen.
row_13_ink() {
  python3 -c 'import sys; d = open(sys.argv[1], "rb").read()[192 * 2400:208 * 2400]
print(sum(1 for i in range(0, len(d), 3) if d[i:i + 3] != b"\xff\xff\xff"))' "$1"
}

# start_up_ending NAME SECONDS TYPED...: the logger, given those lines, ends at
# start-up with BMP000.BMP equal to its screen SECONDS later, and no data file.
start_up_ending() {
  local name=$1 seconds=$2 line
  rm -rf "$E2E_TMP/run"
  start_logger
  for line in "${@:3}"; do type_line "$line"; done
  sleep "$seconds"
  screenshot_rgb "$E2E_TMP/$name.rgb"
  wait_logger_exit 15 || fail "$name: the logger ended with status $?"
  expect_picture "$E2E_TMP/run/BMP000.BMP"
  [ "$(pixels_off "$E2E_TMP/$name.rgb" "$E2E_TMP/run/BMP000.BMP")" = 0 ] || fail "$name: BMP000.BMP differs from the screen"
  ls "$E2E_TMP/run" | grep -q CSV && fail "$name: a data file was written"
  echo "$name: ok"
}

# refused_port NAME PORT REASON: the logger refuses COM<PORT>, with a line on
# row 13 of the screen and the full reason on standard error.
refused_port() {
  start_up_ending "$1" 1.5 "$2"
  [ "$(row_13_ink "$E2E_TMP/$1.rgb")" -gt 0 ] || fail "$1: no reason on row 13"
  grep -q "COM$2.*$3" "$E2E_TMP/logger.err" || fail "$1: no reason on standard error: $(cat "$E2E_TMP/logger.err")"
}

start_xvfb

if [ -n "${LOGGER_EXE:-}" ]; then
  # A copy in Wine's temporary folder, as Explorer runs a program inside a zip.
  temp=$(wine cmd /c 'echo %TEMP%' 2>/dev/null | tr -d '\r')
  zip_copy=$(winepath -u "$temp" 2>/dev/null)/Temp1_serial-logger-windows-x86_64.zip
  mkdir -p "$zip_copy" "$E2E_TMP/run" && cp "$LOGGER_EXE" "$zip_copy/logger.exe"
  (cd "$E2E_TMP/run" && exec wine "$zip_copy/logger.exe") >"$E2E_TMP/logger.out" 2>"$E2E_TMP/logger.err" &
  LOGGER_PID=$!
  E2E_PIDS+=($LOGGER_PID)
  wait_for 30 xdotool search --name '^logger$' || fail "no message box: $(cat "$E2E_TMP/logger.err")"
  LOGGER_WINDOW=$(xdotool search --name '^logger$' | head -1)
  press_key Return
  status=0
  wait_logger_exit 10 || status=$?
  rm -rf "$zip_copy"
  [ "$status" = 1 ] && [ -z "$(ls "$E2E_TMP/run")" ] && grep -q "Extract All" "$E2E_TMP/logger.err" ||
    fail "run from the temporary folder: status $status, files $(ls "$E2E_TMP/run"), $(cat "$E2E_TMP/logger.err")"
  echo "run from the temporary folder: ok"
fi

# A missing port: the prompt refuses 0 and 11 first, then COM4 is not there.
start_up_ending missing_port 1.5 0 11 4
grep -q "COM4" "$E2E_TMP/logger.err" || fail "no reason on standard error for COM4"
[ "$(row_13_ink "$E2E_TMP/missing_port.rgb")" = 0 ] || fail "the missing port has more than its warning"

if [ -z "${LOGGER_EXE:-}" ]; then
  # A port that another program holds through its lock.
  start_modsim 5
  python3 -c 'import fcntl, os, sys, time
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
fcntl.flock(fd, fcntl.LOCK_EX)
open(sys.argv[2], "w").close()
time.sleep(60)' "$E2E_TMP/ports/COM5" "$E2E_TMP/held" &
  E2E_PIDS+=($!)
  wait_for 10 test -e "$E2E_TMP/held" || fail "COM5 could not be held"
  refused_port held 5 "in use"
  # A device node the user may not open (root may open anything).
  if [ "$(id -u)" != 0 ]; then
    start_modsim 6
    chmod 000 "$(readlink -f "$E2E_TMP/ports/COM6")"
    refused_port no_permission 6 "dialout"
  fi
fi

# A module that answers 49 times and then stays silent fails the link test.
start_modsim 3 --silent-after 49
start_up_ending link_failure 5 3
