#!/usr/bin/env bash
# Inside tests/wine/sandbox.sh: the Windows serial device against the module
# simulator on a pseudo-terminal mapped as COM3, killed at the test's cue so
# that the test also sees the module's hang-up. Skipped (77) outside the sandbox.
#   tests/wine/serial_exchange.sh MODSIM IO_TESTS_EXE
set -euo pipefail
modsim=$1
test_exe=$2
if [ -z "${WINE_SANDBOX:-}" ] || [ ! -x "$modsim" ]; then
  echo "serial_exchange: needs tests/wine/sandbox.sh and the module simulator at $modsim; skipped" >&2
  exit 77
fi
here=$(dirname "$0")
ports=$(mktemp -d /tmp/serial-exchange.XXXXXX)
"$modsim" --port 3 --ports-dir "$ports" >"$ports/modsim.out" 2>&1 &
modsim_pid=$!
trap 'kill "$modsim_pid" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$ports"' EXIT
for _ in $(seq 100); do
  [ -L "$ports/COM3" ] && break
  sleep 0.02
done
if [ ! -L "$ports/COM3" ]; then
  echo "serial_exchange: the simulator made no port" >&2
  cat "$ports/modsim.out" >&2
  exit 1
fi
"$here/map_ports.sh" COM3="$(readlink -f "$ports/COM3")"
# Output goes to a file, not a pipe: Wine's helper processes inherit the
# pipe and would keep it open after the test has ended.
out="$ports/test.out"
LOGGER_TEST_COM_PORT=3 timeout 20 wine "$test_exe" --gtest_filter='LiveModuleTest.*' >"$out" 2>&1 &
test_pid=$!
while kill -0 "$test_pid" 2>/dev/null; do
  if grep -q "cue: hang up the module" "$out"; then
    kill "$modsim_pid" 2>/dev/null || true
  fi
  sleep 0.01
done
status=0
wait "$test_pid" || status=$?
tr -d '\r' <"$out"
exit "$status"
