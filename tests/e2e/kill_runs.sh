#!/usr/bin/env bash
# kill -9 at random moments of sampling runs, the logger without a window: each
# data file must hold exactly the complete rows written before the kill, never
# a part of a row. Three runs at a time, on COM3 to COM5. A run that a busy
# machine made miss the 50 ms reply window ends by itself: its files are
# checked for that ending, and the kill is tried again on a fresh run.
#   kill_runs.sh BUILD_DIR [KILLS] [SEED]
BUILD_DIR=$1
KILLS=${2:-20}
SEED=${3:-$$}
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/headless.sh"
need python3

RANDOM=$SEED
SLOTS=3
MAX_RETRIES=10
CHECK_ROWS="$(dirname "$0")/check_rows.py"

# slot_state: idle, starting (waiting for request 51), sampling (until its moment).
declare -a run_pid run_modsim run_log run_dir run_delay slot_due slot_state=(idle idle idle)
kills_done=0 started_kills=0 retries=0 runs=0 summary=()

start_run() {
  local slot=$1
  runs=$((runs + 1))
  local port=$((3 + slot)) name="run$runs"
  rm -f "$E2E_TMP/ports/COM$port"
  run_log[$slot]="$E2E_TMP/$name.modsim.log"
  start_modsim "$port" --log "${run_log[$slot]}"
  prioritise "$MODSIM_PID"
  run_modsim[$slot]=$MODSIM_PID
  start_headless "$name"
  run_pid[$slot]=$LOGGER_PID
  run_dir[$slot]="$E2E_TMP/$name"
  keys "$port\n1\nV\n"
  exec {KEYS_FD}>&-
  # A moment from the first sample to about three seconds (36 columns) into the run.
  run_delay[$slot]=$(awk -v r=$RANDOM 'BEGIN { printf "%.2f", r / 32767 * 3 }')
}

# own_ending SLOT: the ending a run took by itself, if any (it may still be in the wait before its end).
own_ending() {
  grep -a -q 'no data was received' "${run_dir[$1]}/DATA001.CSV" 2>/dev/null && echo no-reply
  grep -a -q 'incomplete data string' "${run_dir[$1]}/DATA001.CSV" 2>/dev/null && echo short
  true
}

# A run that ended before its moment is checked for its own ending and replaced.
finish_unkilled() {
  local slot=$1 status=0
  wait "${run_pid[$slot]}" 2>/dev/null || status=$?
  # Every ending of its own goes through the closing stage and exits 0; 137 is our kill.
  [ "$status" = 0 ] || [ "$status" = 137 ] || fail "a run ended by itself with status $status (${run_dir[$slot]}.err)"
  local ending
  ending=$(own_ending "$slot")
  # A failed link test leaves no data file, as the rules say.
  [ ! -f "${run_dir[$slot]}/DATA001.CSV" ] ||
    python3 "$CHECK_ROWS" "${run_dir[$slot]}/DATA001.CSV" "${run_log[$slot]}" --ending "${ending:-escape}" >/dev/null ||
    fail "a run that ended by itself (${ending:-escape}) left a damaged data file"
  kill "${run_modsim[$slot]}" 2>/dev/null || true
  retries=$((retries + 1))
  [ "$retries" -le "$MAX_RETRIES" ] || fail "more than $MAX_RETRIES runs ended by themselves; the machine is too busy"
  started_kills=$((started_kills - 1))
  slot_state[$slot]=idle
}

# A pool of runs: each slot starts a fresh run as soon as its last one is done.
deadline=$((SECONDS + 60 + KILLS * 15))
while [ "$kills_done" -lt "$KILLS" ]; do
  [ $SECONDS -lt $deadline ] || fail "the runs took too long"
  for ((slot = 0; slot < SLOTS; ++slot)); do
    case "${slot_state[$slot]}" in
      idle)
        if [ $((kills_done + started_kills)) -lt "$KILLS" ]; then
          start_run "$slot"
          slot_state[$slot]=starting
          started_kills=$((started_kills + 1))
        fi
        ;;
      starting)
        if grep -q ' request 51 ' "${run_log[$slot]}" 2>/dev/null; then
          slot_due[$slot]=$(awk -v t="$EPOCHREALTIME" -v d="${run_delay[$slot]}" 'BEGIN { printf "%.3f", t + d }')
          slot_state[$slot]=sampling
        elif ! kill -0 "${run_pid[$slot]}" 2>/dev/null; then
          finish_unkilled "$slot"
        fi
        ;;
      sampling)
        if awk -v d="${slot_due[$slot]}" -v t="$EPOCHREALTIME" 'BEGIN { exit !(t >= d) }'; then
          if kill -9 "${run_pid[$slot]}" 2>/dev/null && [ -z "$(own_ending "$slot")" ]; then
            wait "${run_pid[$slot]}" 2>/dev/null || true
            rows=$(python3 "$CHECK_ROWS" "${run_dir[$slot]}/DATA001.CSV" "${run_log[$slot]}" --ending killed) ||
              fail "seed $SEED, run in ${run_dir[$slot]}, killed ${run_delay[$slot]} s into sampling: damaged data file"
            kills_done=$((kills_done + 1))
            started_kills=$((started_kills - 1))
            summary+=("${run_delay[$slot]}s:$rows")
            kill "${run_modsim[$slot]}" 2>/dev/null || true
            slot_state[$slot]=idle
          else
            finish_unkilled "$slot"
          fi
        fi
        ;;
    esac
  done
  sleep 0.02
done
echo "kill -9 at $KILLS moments (seed $SEED; $retries runs ended by themselves first and were run again)"
echo "seconds into sampling:rows kept, every file complete and matching the simulator: ${summary[*]}"
