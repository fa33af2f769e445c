# A private system bus with a stand-in for logind, for the tests of the sleep
# watch. Sourced after tests/e2e/lib.sh (E2E_TMP, E2E_PIDS, wait_for, skip, fail).
#
#   start_mock_logind    starts both, exports DBUS_SYSTEM_BUS_ADDRESS; skips
#                        the test where dbus-daemon or python3-dbusmock is missing
#   logind inhibitors    prints the sleep locks held, one "who" a line
#   logind sleep|wake    sends PrepareForSleep(true|false)

# Debian's python3, which has the dbus module; a python3 of the user's own may not.
BUS_PYTHON=/usr/bin/python3

start_mock_logind() {
  command -v dbus-daemon >/dev/null 2>&1 || skip "dbus-daemon is not installed (package dbus)"
  "$BUS_PYTHON" -c 'import dbusmock' 2>/dev/null || skip "python3-dbusmock is not installed"
  local socket="$E2E_TMP/system_bus"
  dbus-daemon --session --nofork --nopidfile --address="unix:path=$socket" >/dev/null 2>"$E2E_TMP/bus.err" &
  E2E_PIDS+=($!)
  wait_for 10 test -S "$socket" || fail "the private bus did not start: $(cat "$E2E_TMP/bus.err")"
  export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$socket"
  "$BUS_PYTHON" -m dbusmock --template logind >"$E2E_TMP/logind.out" 2>&1 &
  E2E_PIDS+=($!)
  wait_for 10 logind inhibitors || fail "the stand-in for logind did not start: $(cat "$E2E_TMP/logind.out")"
}

logind() {
  "$BUS_PYTHON" - "$1" <<'PY'
import os, sys
import dbus
bus = dbus.bus.BusConnection(os.environ['DBUS_SYSTEM_BUS_ADDRESS'])
login = bus.get_object('org.freedesktop.login1', '/org/freedesktop/login1')
if sys.argv[1] == 'inhibitors':
    for what, who, why, mode, uid, pid in login.ListInhibitors(dbus_interface='org.freedesktop.login1.Manager'):
        print(f'{who}: {what} {mode} ({why})')
else:
    login.EmitSignal('org.freedesktop.login1.Manager', 'PrepareForSleep', 'b', [sys.argv[1] == 'sleep'],
                     dbus_interface='org.freedesktop.DBus.Mock')
PY
}
