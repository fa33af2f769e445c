# Shared helpers for the process tests: a private Xvfb, the module simulator,
# the logger in a temporary folder, typing into its window, and clean-up.
# Sourced by the test scripts; BUILD_DIR must be set.

set -Eeuo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/xvfb.sh"
# A step that fails outside the tests' own checks says which step it was.
trap 'e2e_status=$?; echo "FAIL: ${BASH_SOURCE[0]##*/}:$LINENO: $BASH_COMMAND (status $e2e_status)" >&2' ERR

if [ -n "${LOGGER_EXE:-}" ] && [ -z "${WINE_SANDBOX:-}" ]; then
  echo "SKIP: the Windows logger runs only inside tests/wine/sandbox.sh"
  exit 77
fi

E2E_PIDS=()
E2E_TMP=$(mktemp -d /tmp/logger_e2e.XXXXXX)

e2e_cleanup() {
  local pid
  for pid in "${E2E_PIDS[@]:-}"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  done
  sleep 0.2
  for pid in "${E2E_PIDS[@]:-}"; do
    [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null || true
  done
  if [ "${E2E_KEEP:-0}" = 1 ]; then
    echo "kept $E2E_TMP"
  else
    rm -rf "$E2E_TMP"
  fi
}
trap e2e_cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }

need() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
  done
}

# Waits until a command succeeds, at most the given whole seconds.
wait_for() {
  local deadline=$((${EPOCHREALTIME/./} + $1 * 1000000))
  shift
  until "$@" >/dev/null 2>&1; do
    [ "${EPOCHREALTIME/./}" -lt $deadline ] || return 1
    sleep 0.05
  done
}

# The 50 ms reply window is real time: where allowed, the programs under test
# go before background work on a busy machine (no effect otherwise).
prioritise() {
  renice -n -10 -p "$1" >/dev/null 2>&1 || true
}

start_xvfb() {  # [WIDTHxHEIGHT]
  need Xvfb xdotool import convert xdpyinfo
  start_private_xvfb "$E2E_TMP" "${1:-}" || { E2E_PIDS+=("$XVFB_PID"); fail "no display"; }
  E2E_PIDS+=("$XVFB_PID")
  unset SDL_VIDEODRIVER
}

# start_modsim PORT [options...]: serves COM<PORT> in $E2E_TMP/ports.
start_modsim() {
  local port=$1
  shift
  mkdir -p "$E2E_TMP/ports"
  "$BUILD_DIR/modsim" --ports-dir "$E2E_TMP/ports" --port "$port" "$@" >"$E2E_TMP/modsim$port.out" 2>&1 &
  MODSIM_PID=$!
  E2E_PIDS+=($MODSIM_PID)
  wait_for 10 test -e "$E2E_TMP/ports/COM$port" || fail "modsim did not create COM$port"
}

# Starts build/logger in $E2E_TMP/run with the ports folder, and waits for its
# window. With LOGGER_EXE set (inside tests/wine/sandbox.sh) it starts that
# Windows program under Wine instead, with the folder's ports mapped, through
# LOGGER_WINE_START if set (such as "start /wait /max /unix").
start_logger() {
  mkdir -p "$E2E_TMP/run" "$E2E_TMP/ports"
  if [ -n "${LOGGER_EXE:-}" ]; then
    map_wine_ports
    (cd "$E2E_TMP/run" && exec wine ${LOGGER_WINE_START:-} "$LOGGER_EXE") >"$E2E_TMP/logger.out" 2>"$E2E_TMP/logger.err" &
  else
    (cd "$E2E_TMP/run" && LOGGER_PORTS="$E2E_TMP/ports" exec ${LOGGER_LAUNCH:-} "$BUILD_DIR/logger") \
      >"$E2E_TMP/logger.out" 2>"$E2E_TMP/logger.err" &
  fi
  LOGGER_PID=$!
  E2E_PIDS+=($LOGGER_PID)
  window_or_end() { xdotool search --onlyvisible --name '^logger$' || ended "$LOGGER_PID"; }
  wait_for 30 window_or_end || fail "the logger window did not appear: $(cat "$E2E_TMP/logger.err")"
  ended "$LOGGER_PID" && fail "the logger ended before its window appeared: $(cat "$E2E_TMP/logger.err")"
  LOGGER_WINDOW=$(xdotool search --onlyvisible --name '^logger$' | head -1)
  xdotool windowfocus --sync "$LOGGER_WINDOW"
}

# Makes Wine's COM ports exactly the links in $E2E_TMP/ports: each on the
# device it leads to now, or with WINE_PORTS_AS_LINKS=1 on the link itself.
map_wine_ports() {
  local link target mappings=()
  for link in "$E2E_TMP"/ports/COM*; do
    [ -e "$link" ] || continue
    [ "${WINE_PORTS_AS_LINKS:-0}" = 1 ] && target=$link || target=$(readlink -f "$link")
    mappings+=("$(basename "$link")=$target")
  done
  "$(dirname "${BASH_SOURCE[0]}")/../wine/map_ports.sh" "${mappings[@]}"
}

# Types a line and Enter into the logger window.
type_line() {
  xdotool windowfocus --sync "$LOGGER_WINDOW"
  xdotool type --delay 30 "$1"
  xdotool key Return
}

# answer_run PORT: answers the port prompt, waits out the link test (fifty
# exchanges of at least 50 ms each), then asks for a one-minute run in volts.
answer_run() {
  type_line "$1"
  sleep 4
  type_line 1
  type_line V
}

press_key() {
  xdotool windowfocus --sync "$LOGGER_WINDOW"
  xdotool key "$1"
}

ended() { ! kill -0 "$1" 2>/dev/null; }

# wait_exit PID SECONDS: waits at most that long for the process to end, else
# fails the test, and sets EXIT_STATUS.
wait_exit() {
  wait_for "$2" ended "$1" || fail "process $1 did not end within $2 s"
  EXIT_STATUS=0
  wait "$1" || EXIT_STATUS=$?
}

# Waits for the logger to exit (at most the given seconds) and returns its status.
wait_logger_exit() {
  wait_exit "$LOGGER_PID" "$1"
  return $EXIT_STATUS
}

# expect_picture FILE: a saved picture of 800x600 pixels of 8 bits.
expect_picture() {
  [ "$(stat -c %s "$1" 2>/dev/null)" = 481078 ] || fail "no 481078-byte ${1##*/}"
}

# Writes the window's 800x600 client area as raw RGB to a file.
screenshot_rgb() {
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$LOGGER_WINDOW")"
  import -window root -crop "${WIDTH}x${HEIGHT}+$X+$Y" miff:- | convert - -sample '800x600!' -depth 8 "rgb:$1"
}

# pixels_off SCREEN BMP: how many pixels of a raw RGB screenshot differ from the picture.
pixels_off() {
  convert "$2" -depth 8 "rgb:$E2E_TMP/picture.rgb"
  python3 - "$1" "$E2E_TMP/picture.rgb" <<'PY'
import sys
a = open(sys.argv[1], 'rb').read()
b = open(sys.argv[2], 'rb').read()
print(800 * 600 if len(a) != len(b) else sum(1 for i in range(0, len(a), 3) if a[i:i + 3] != b[i:i + 3]))
PY
}
