#!/usr/bin/env bash
# A whole one-minute run of logger.exe under Wine beside the same run of the
# Linux logger, each against its own simulator giving the same replies: the
# same files (see compare_runs.py), and the Windows picture equal to its screen.
# With --scales, logger.exe on a 2560x1440 screen at 150 % and 200 % display
# scale and maximised, each screenshot against the saved picture.
#   logger_run.sh [--scales] WINDOWS_BUILD_DIR LINUX_BUILD_DIR   (inside tests/wine/sandbox.sh)
if [ "${1:-}" = "--scales" ]; then
  BUILD_DIR=$3
  source "$(dirname "$0")/../e2e/lib.sh"
  [ -n "${WINE_SANDBOX:-}" ] || skip "runs only inside tests/wine/sandbox.sh"
  export LOGGER_EXE=$2/logger.exe
  sandbox_display=$WINE_SANDBOX_DISPLAY
  # The scale and the management go, and Wine's desktop returns to the sandbox's display.
  trap 'wine reg delete "HKCU\Control Panel\Desktop" /v LogPixels /f >/dev/null 2>&1 || true
        wine reg delete "HKCU\Software\Wine\X11 Driver" /v Managed /f >/dev/null 2>&1 || true
        WINE_SANDBOX_DISPLAY=$sandbox_display "$(dirname "$0")/map_ports.sh"; e2e_cleanup' EXIT
  start_xvfb 2560x1440
  # Wine's desktop takes its screen size from this display as start_logger restarts the server.
  export WINE_SANDBOX_DISPLAY=$DISPLAY
  # shown_at DPI WINDOW_SIZE MOST_RMSE [CLIENT_CROP START...]: while a missing
  # port ends the run, the X window is WINDOW_SIZE and its client area (or
  # CLIENT_CROP of the screen) shows BMP000.BMP fitted to it: exactly at whole
  # scales, with filtered stroke edges at others (a chart left in a corner is 0.7 off).
  shown_at() {
    local dpi=$1 size=$2 most=$3 crop=${4:-} geometry error shot="$E2E_TMP/shot-$1.png"
    shift 4 || shift 3
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    LOGGER_WINE_START="$*" start_logger
    # Maximised by Wine itself, the window is mapped anew: find it again.
    local tries=0
    until xdotool windowfocus --sync "$LOGGER_WINDOW" 2>/dev/null; do
      [ $((tries += 1)) -lt 20 ] || fail "cannot focus the window"
      sleep 0.2
      LOGGER_WINDOW=$(xdotool search --onlyvisible --name '^logger$' | head -1)
    done
    xdotool type 9 && xdotool key Return
    sleep 1.5
    geometry=$(xdotool getwindowgeometry "$LOGGER_WINDOW" | sed -n 's/^ *Geometry: //p')
    [ "$geometry" = "$size" ] || fail "at $dpi DPI $* the window is $geometry, not $size"
    if [ -n "$crop" ]; then
      import -window root -crop "$crop" +repage "$shot"
      geometry=${crop%%+*}
    else
      import -window "$LOGGER_WINDOW" "$shot"
    fi
    wait_logger_exit 15 || true
    convert "$E2E_TMP/run/BMP000.BMP" -filter box -resize "$geometry" -background black -gravity center \
      -extent "$geometry" "$E2E_TMP/expected.png"
    error=$(compare -metric RMSE "$shot" "$E2E_TMP/expected.png" null: 2>&1 | sed 's/.*(\(.*\))/\1/') || true
    awk -v e="$error" -v most="$most" 'BEGIN { exit !(e != "" && e <= most) }' ||
      fail "at $dpi DPI $* the window differs from the picture by $error"
    rm -rf "$E2E_TMP/run"
  }
  shown_at 144 1200x900 0.15
  shown_at 192 1600x1200 0
  # Without a window manager only Wine's own management (Managed=N) gives a
  # maximised window the screen; the X window then holds the frame and the
  # caption, drawn by Wine, and the client is the screen below the 19-row caption.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  shown_at 96 2568x1448 0.15 2560x1421+0+19 start /wait /max /d . /unix
  echo "logger.exe opens at 150 % and 200 % display scale and shows its chart maximised"
  exit 0
fi
if [ "${1:-}" = "--side" ]; then
  side=$2
  BUILD_DIR=$3
  out=$4
  source "$(dirname "$0")/../e2e/lib.sh"
  [ "$side" = windows ] && export LOGGER_EXE=$5
  start_xvfb
  # The same replies on both sides; one checksum and one marker failure draw their marks.
  start_modsim 3 --values 300,600,900 --switch 1 --bad-checksum-at 120 --bad-marker-at 300
  start_logger
  answer_run 3
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

# One side's run, run once more when a busy machine made it miss its start.
run_side() {  # side, extra arguments
  local side=$1
  shift
  mkdir -p "$E2E_TMP/$side"
  bash "$0" --side "$side" "$BUILD_DIR" "$E2E_TMP/$side" "$@" >"$E2E_TMP/$side.log" 2>&1 ||
    bash "$0" --side "$side" "$BUILD_DIR" "$E2E_TMP/$side" "$@" >"$E2E_TMP/$side.log" 2>&1
}
run_side linux &
linux_pid=$!
run_side windows "$WINDOWS_BUILD/logger.exe" &
windows_pid=$!
E2E_PIDS+=($linux_pid $windows_pid)
wait "$linux_pid" || fail "Linux run: $(cat "$E2E_TMP/linux.log")"
wait "$windows_pid" || fail "Windows run: $(cat "$E2E_TMP/windows.log")"

[ "$(pixels_off "$E2E_TMP/windows/screen.rgb" "$E2E_TMP/windows/BMP001.BMP")" = 0 ] ||
  fail "the Windows BMP001.BMP differs from its screen"
python3 "$(dirname "$0")/../e2e/compare_runs.py" "$E2E_TMP/linux" "$E2E_TMP/windows" Linux Windows ||
  fail "the two runs differ"
echo "Windows and Linux runs agree"
