# Helpers for process tests of the logger without a window: keys go to its
# standard input through a fifo, one byte per key. Sourced after lib.sh.

# start_headless NAME [COMMAND...]: starts build/logger (or the command given)
# in $E2E_TMP/NAME with the ports folder; sets LOGGER_PID, and KEYS_FD for its keys.
start_headless() {
  local name=$1
  shift
  local dir="$E2E_TMP/$name" command=("$@")
  [ ${#command[@]} -gt 0 ] || command=("$BUILD_DIR/logger")
  mkdir -p "$dir" "$E2E_TMP/ports"
  rm -f "$E2E_TMP/$name.keys"
  mkfifo "$E2E_TMP/$name.keys"
  (cd "$dir" && LOGGER_PORTS="$E2E_TMP/ports" LOGGER_WINDOW=headless exec "${command[@]}" \
    <"$E2E_TMP/$name.keys" >"$E2E_TMP/$name.out" 2>"$E2E_TMP/$name.err") &
  LOGGER_PID=$!
  E2E_PIDS+=($LOGGER_PID)
  prioritise "$LOGGER_PID"
  # Opening the writing end waits until the logger has opened the reading end.
  exec {KEYS_FD}>"$E2E_TMP/$name.keys"
}

# Seconds since a moment given by EPOCHREALTIME, to a tenth.
since() {
  awk -v from="$1" -v to="$EPOCHREALTIME" 'BEGIN { printf "%.1f", to - from }'
}

# keys TEXT: types the text (printf escapes: \n is Enter, \033 is ESC).
keys() {
  printf "$1" >&"$KEYS_FD"
}

# The answers of a one-minute run in volts: COM3, 1 minute, mode V.
answer_one_minute_run() {
  keys '3\n1\nV\n'
}

# start_sampling_run [MODSIM OPTIONS...]: a one-minute run on COM3 logged to
# $E2E_TMP/modsim.log, once it samples. A link test that missed its 50 ms window
# on a busy machine ends the program first: the run is started again (twice at most).
start_sampling_run() {
  local attempt
  for attempt in 1 2 3; do
    start_modsim 3 --log "$E2E_TMP/modsim.log" "$@"
    prioritise "$MODSIM_PID"
    start_headless run
    answer_one_minute_run
    wait_sampling "$E2E_TMP/modsim.log" "$LOGGER_PID" && return 0
    wait_exit "$LOGGER_PID" 10
    [ "$EXIT_STATUS" = 0 ] || fail "the logger ended with status $EXIT_STATUS before sampling"
    echo "the link test failed on a busy machine; starting again" >&2
    kill "$MODSIM_PID" 2>/dev/null || true
    wait_for 5 test ! -e "$E2E_TMP/ports/COM3" || rm -f "$E2E_TMP/ports/COM3"
    rm -f "$E2E_TMP/modsim.log" "$E2E_TMP/run/BMP000.BMP"
  done
  fail "the link test failed three times"
}

requests_made() {
  echo $(($(grep -c ' request ' "$E2E_TMP/modsim.log" 2>/dev/null) + 0))
}

# has_rows FILE N: the file has at least N complete data rows (those that start with the time).
has_rows() {
  [ "$(grep -a -c '^"[0-9][0-9]:[0-9][0-9]:[0-9][0-9]",' "$1" 2>/dev/null)" -ge "$2" ]
}

# wait_rows FILE N SECONDS: waits until the file has at least N data rows.
wait_rows() {
  wait_for "$3" has_rows "$1" "$2" || fail "$1 did not reach $2 data rows within $3 s"
}

sampling_or_ended() {
  grep -q ' request 51 ' "$1" 2>/dev/null || ended "$2"
}

# wait_sampling LOG PID: true once the simulator logged the run's first request
# (request 51, after the link test); false when the logger ended before it.
wait_sampling() {
  wait_for 30 sampling_or_ended "$1" "$2" || fail "the logger neither sampled nor ended within 30 s"
  grep -q ' request 51 ' "$1"
}

# in_terminal NAME [EXPECT TYPED]...: runs build/logger's terminal view in
# $E2E_TMP/NAME on a pseudo-terminal, as over SSH: for each EXPECT (a regular
# expression) seen within 30 s types TYPED, then waits for the end. The output
# goes to $E2E_TMP/NAME.out.
in_terminal() {
  local name=$1
  shift
  mkdir -p "$E2E_TMP/$name" "$E2E_TMP/ports"
  (cd "$E2E_TMP/$name" && LOGGER_PORTS="$E2E_TMP/ports" LOGGER_WINDOW=terminal python3 - \
    "$BUILD_DIR/logger" "$E2E_TMP/$name.out" "$@" <<'PY'
import os, pty, re, select, sys, time
program, transcript, steps = sys.argv[1], sys.argv[2], sys.argv[3:]
pid, terminal = pty.fork()
if pid == 0:
    os.execv(program, [program])
seen, ended = b'', False
def read_until(done):
    global seen, ended
    deadline = time.time() + 30
    while not done() and not ended and time.time() < deadline:
        if select.select([terminal], [], [], 0.2)[0]:
            try:
                chunk = os.read(terminal, 4096)
            except OSError:
                chunk = b''
            ended = not chunk
            seen += chunk.replace(b'\r', b'')
for expect, typed in zip(steps[::2], steps[1::2]):
    read_until(lambda: re.search(expect.encode(), seen))
    if not re.search(expect.encode(), seen):
        sys.exit(f'{expect} did not come: {seen[-300:]!r}')
    os.write(terminal, typed.encode().decode('unicode_escape').encode('latin-1'))
read_until(lambda: False)
open(transcript, 'wb').write(seen)
sys.exit(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]) if ended else 'the logger did not end')
PY
  )
}
