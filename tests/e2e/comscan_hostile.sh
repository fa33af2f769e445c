#!/usr/bin/env bash
# comscan over a ports folder full of hostile entries: links to /dev/null,
# /dev/zero, a folder, a fifo (with and without a writer), a socket, a regular
# file, a loop of links and a dangling link, beside one real terminal from the
# simulator. Only the terminal is listed, and the scan ends at once.
BUILD_DIR=$1
source "$(dirname "$0")/lib.sh"
need python3

PORTS="$E2E_TMP/ports"
mkdir -p "$PORTS" "$E2E_TMP/folder"
start_modsim 9 --log "$E2E_TMP/modsim.log"

ln -s /dev/null "$PORTS/COM1"
ln -s /dev/zero "$PORTS/COM2"
ln -s "$E2E_TMP/folder" "$PORTS/COM3"
mkfifo "$E2E_TMP/fifo" "$E2E_TMP/fed_fifo"
ln -s "$E2E_TMP/fifo" "$PORTS/COM4"
ln -s "$E2E_TMP/fed_fifo" "$PORTS/COM5"
sleep 30 >"$E2E_TMP/fed_fifo" &  # a writer that never writes
E2E_PIDS+=($!)
python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' "$E2E_TMP/socket"
ln -s "$E2E_TMP/socket" "$PORTS/COM6"
echo "not a port" >"$PORTS/COM7"
ln -s COM8b "$PORTS/COM8"
ln -s COM8 "$PORTS/COM8b"
ln -s "$E2E_TMP/nothing" "$PORTS/COM10"
mkfifo "$PORTS/COM11"
# Every other number is a loop of links too.
for n in $(seq 12 255); do ln -s "COM$n" "$PORTS/COM$n"; done

started=$(date +%s.%N)
output=$(LOGGER_PORTS="$PORTS" timeout 10 "$BUILD_DIR/comscan" </dev/null) || fail "comscan ended with status $?"
took=$(awk -v s="$started" -v e="$(date +%s.%N)" 'BEGIN { printf "%.2f", e - s }')
expected=$(printf 'COM9\r\n\r\nSleeping to Exit\r')
[ "$output" = "$expected" ] || fail "comscan listed: $(printf '%q' "$output")"
[ -p "$E2E_TMP/fifo" ] && [ -d "$E2E_TMP/folder" ] && [ "$(cat "$PORTS/COM7")" = "not a port" ] ||
  fail "an entry was changed"
echo "comscan over 254 hostile entries and one terminal: listed only COM9, ended in $took s"
