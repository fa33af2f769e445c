#!/usr/bin/env bash
# comscan.exe under Wine over three pseudo-terminals mapped as COM1, COM3 and
# COM10: the exact bytes of the listing, the end of input from /dev/null as the
# key, the wait for a byte through a pipe, nothing sent to any port, and a
# machine without ports. Runs only inside tests/wine/sandbox.sh (77 outside).
#
#   tests/scan/comscan_wine.sh BUILD_DIR
set -uo pipefail
if [ -z "${WINE_SANDBOX:-}" ]; then
  echo "comscan_wine: needs tests/wine/sandbox.sh; skipped" >&2
  exit 77
fi
program=$(realpath "$1/comscan.exe")
map_ports=$(dirname "$(realpath "$0")")/../wine/map_ports.sh
work=$(mktemp -d /tmp/comscan_wine.XXXXXX)
holder=
scanner=

# Maps exactly the given ports (the mapping's own first Wine start takes
# Wine's background services away from any captured output; a failing
# mapping says why on standard error).
map_only() {
  "$map_ports" "$@" </dev/null >/dev/null
}

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cleanup() {
  [ -n "$scanner" ] && kill "$scanner" 2>/dev/null
  exec 4>&-
  # Unmap before the terminals go, so no port is left on a hung-up terminal.
  map_only
  [ -n "$holder" ] && kill "$holder" 2>/dev/null && wait "$holder" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Waits up to 5 s for a file to hold the given text.
wait_for_text() {
  for _ in $(seq 100); do
    grep -q "$2" "$1" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}

# Three pseudo-terminals held open for the whole test. On SIGUSR1 the holder
# writes whether any terminal was sent a byte; SIGTERM ends it. (Signals, not a
# pipe: Wine and its server inherit every descriptor of this shell.)
python3 -c '
import os, pty, select, signal
signals = {signal.SIGUSR1, signal.SIGTERM}
signal.pthread_sigmask(signal.SIG_BLOCK, signals)
masters, names = [], []
for _ in range(3):
    master, slave = pty.openpty()
    masters.append(master)
    names.append(os.ttyname(slave))
print(" ".join(names), flush=True)
while signal.sigwait(signals) == signal.SIGUSR1:
    sent = select.select(masters, [], [], 0)[0]
    print("sent" if sent else "quiet", flush=True)
' >"$work/holder_out" &
holder=$!
wait_for_text "$work/holder_out" pts || fail "no pseudo-terminals"
read -r com1 com3 com10 <"$work/holder_out"
map_only COM1="$com1" COM3="$com3" COM10="$com10" || fail "cannot map the ports"

expected="$work/expected"
printf 'COM1\r\nCOM3\r\nCOM10\r\n\r\nSleeping to Exit\r\n' >"$expected"

# End of input is the key: the listing, then the end at once.
timeout 10 wine "$program" </dev/null >"$work/null_run"
status=$?
[ $status -eq 0 ] || fail "with /dev/null as input: exit status $status"
cmp "$expected" "$work/null_run" || fail "listing: $(od -c "$work/null_run")"

# A pipe: still waiting while it stays empty, ended by one byte.
mkfifo "$work/keys"
exec 4<>"$work/keys"
wine "$program" <"$work/keys" >"$work/pipe_run" &
scanner=$!
wait_for_text "$work/pipe_run" "Sleeping to Exit" || fail "no listing with a pipe as input"
sleep 0.5
kill -0 "$scanner" 2>/dev/null || fail "ended before the key"
printf k >&4
for _ in $(seq 100); do
  kill -0 "$scanner" 2>/dev/null || break
  sleep 0.05
done
kill -0 "$scanner" 2>/dev/null && fail "still running 5 s after the key"
wait "$scanner"
status=$?
scanner=
[ $status -eq 0 ] || fail "with a pipe as input: exit status $status"
cmp "$expected" "$work/pipe_run" || fail "listing: $(od -c "$work/pipe_run")"

kill -USR1 "$holder"
wait_for_text "$work/holder_out" 'quiet\|sent' || fail "the terminal holder did not answer"
grep -q quiet "$work/holder_out" || fail "a byte was sent to a port"

# No ports at all: only the closing lines.
map_only || fail "cannot unmap the ports"
timeout 10 wine "$program" </dev/null >"$work/no_ports"
printf '\r\nSleeping to Exit\r\n' >"$expected"
cmp "$expected" "$work/no_ports" || fail "listing without ports: $(od -c "$work/no_ports")"
echo "comscan.exe: COM1, COM3 and COM10 listed byte for byte, the key waited for, no ports listed when none exist"
