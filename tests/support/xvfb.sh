# A private Xvfb for a process test. Sourced by the test scripts.
#
#   start_private_xvfb WORK_DIR [WIDTHxHEIGHT, default 1024x768]
#
# Starts Xvfb on a free display, waits until it answers, then sets DISPLAY and
# XVFB_PID; on failure says why on standard error and returns 1. Xvfb picks the
# display number itself (-displayfd), but two servers that start at the same
# moment can race for one number and the loser removes the winner's socket, so
# every test's server starts under one lock, held until the server answers.
# -noreset: by default the server starts afresh each time its last client
# leaves, and a program connecting during that restart is refused; the tests'
# own xdpyinfo and xdotool calls come and go all the time.
start_private_xvfb() {
  local work=$1 size=${2:-1024x768} lock display_file="$1/xvfb.display" deadline=$((SECONDS + 15)) ready=0
  exec {lock}>/tmp/logger_xvfb_start.lock
  flock "$lock"
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset \
    3>"$display_file" >/dev/null 2>"$work/xvfb.log" </dev/null {lock}>&- &
  XVFB_PID=$!
  while [ $SECONDS -lt $deadline ] && kill -0 "$XVFB_PID" 2>/dev/null; do
    if [ -s "$display_file" ]; then
      # Without xdpyinfo the display number alone has to do.
      if ! command -v xdpyinfo >/dev/null ||
        DISPLAY=":$(head -n 1 "$display_file")" xdpyinfo >/dev/null 2>&1; then
        ready=1
        break
      fi
    fi
    sleep 0.05
  done
  exec {lock}>&-
  if [ $ready = 0 ]; then
    echo "Xvfb did not start: $(cat "$work/xvfb.log")" >&2
    return 1
  fi
  export DISPLAY=":$(head -n 1 "$display_file")"
}
