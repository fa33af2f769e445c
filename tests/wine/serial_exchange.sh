#!/usr/bin/env bash
# Inside tests/wine/sandbox.sh: the Windows serial device against the module
# simulator on a pseudo-terminal mapped as COM3. The simulator is killed when
# the test prints its cue, so the test also sees the module's hang-up.
#
#   tests/wine/serial_exchange.sh MODSIM IO_TESTS_EXE
# Exits 77 (skipped) outside the sandbox or without the Linux modsim.
set -euo pipefail
if [ -z "${WINE_SANDBOX:-}" ]; then
  echo "serial_exchange: run me inside tests/wine/sandbox.sh; skipped" >&2
  exit 77
fi
modsim=$1
test_exe=$2
if [ ! -x "$modsim" ]; then
  echo "serial_exchange: no module simulator at $modsim; skipped" >&2
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
set +e
wait "$test_pid"
status=$?
set -e
tr -d '\r' <"$out"
exit "$status"
