#!/usr/bin/env bash
# A whole one-minute run of the cross-built logger under its emulator, without a
# window, beside the same run of the host's logger, each against its own
# simulator giving the same replies: each data file holds its replies, and the
# two runs write the same files (see compare_runs.py), whatever char signedness,
# type sizes and number formatting.
#   minute_run.sh CROSS_BUILD_DIR HOST_BUILD_DIR EMULATOR
CROSS_BUILD=$1
BUILD_DIR=$2
EMULATOR=$3
e2e_dir="$(dirname "$0")/../e2e"
source "$e2e_dir/lib.sh"
source "$e2e_dir/headless.sh"
[ -x "$BUILD_DIR/logger" ] && [ -x "$BUILD_DIR/modsim" ] || skip "the host build is missing in $BUILD_DIR"
command -v "$EMULATOR" >/dev/null || skip "$EMULATOR is not installed"

declare -A port=([host]=3 [cross]=4) logger_pid modsim_pid

# start_side host|cross: a one-minute run in volts with fixed readings and
# switch, one checksum and one marker failure.
start_side() {
  local name=$1
  rm -rf "${E2E_TMP:?}/$name" "$E2E_TMP/$name.log"
  start_modsim "${port[$name]}" --values 300,600,900 --switch 1 --bad-checksum-at 120 --bad-marker-at 300 \
    --log "$E2E_TMP/$name.log"
  modsim_pid[$name]=$MODSIM_PID
  prioritise "$MODSIM_PID"
  case $name in
    host) start_headless host "$BUILD_DIR/logger" ;;
    cross) start_headless cross "$EMULATOR" "$CROSS_BUILD/logger" ;;
  esac
  keys "${port[$name]}\n1\nV\n"
  logger_pid[$name]=$LOGGER_PID
}

# finish_side host|cross: waits for the run's end and checks its rows; a run
# that a stall of the machine ended early is run once more.
finish_side() {
  local name=$1
  wait_exit "${logger_pid[$name]}" 120
  if ! grep -q ' request 51 ' "$E2E_TMP/$name.log" || grep -q 'no data was received' "$E2E_TMP/$name/DATA001.CSV"; then
    echo "$name: the run ended early, trying once more: $(cat "$E2E_TMP/$name.err")"
    kill "${modsim_pid[$name]}"
    wait "${modsim_pid[$name]}" 2>/dev/null || true
    start_side "$name"
    wait_exit "${logger_pid[$name]}" 120
  fi
  [ "$EXIT_STATUS" = 0 ] || fail "$name: the logger ended with status $EXIT_STATUS: $(cat "$E2E_TMP/$name.err")"
  python3 "$e2e_dir/check_rows.py" "$E2E_TMP/$name/DATA001.CSV" "$E2E_TMP/$name.log" --rows 721 >/dev/null ||
    fail "$name: the data file differs from the simulator's replies"
}

start_side host
start_side cross
finish_side host
finish_side cross
python3 "$e2e_dir/compare_runs.py" "$E2E_TMP/host" "$E2E_TMP/cross" host "$(basename "$CROSS_BUILD")" ||
  fail "the two runs differ"
echo "the cross-built logger's one-minute run matches the host's"
