#!/usr/bin/env bash
# Keys piped into the logger without a window before it has even started are
# all read: four runs at once, each given "3" and Enter on standard input at
# once, must each find COM3 missing and end with BMP000.BMP within seconds.
BUILD_DIR=$1
source "$(dirname "$0")/lib.sh"

mkdir -p "$E2E_TMP/ports"
pids=()
for n in 1 2 3 4; do
  mkdir -p "$E2E_TMP/run$n"
  (cd "$E2E_TMP/run$n" && printf '3\n' | LOGGER_PORTS="$E2E_TMP/ports" LOGGER_WINDOW=headless \
    timeout 15 "$BUILD_DIR/logger" >/dev/null 2>&1) &
  pids+=($!)
done
for n in 1 2 3 4; do
  status=0
  wait "${pids[$((n - 1))]}" || status=$?
  [ "$status" = 0 ] || fail "run $n ended with status $status (124: it still waited for its keys)"
  [ -f "$E2E_TMP/run$n/BMP000.BMP" ] || fail "run $n saved no BMP000.BMP"
done
echo "keys piped before the window opened: all four runs read them"
