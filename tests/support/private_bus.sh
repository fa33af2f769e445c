# A private system bus with a stand-in for logind, for the tests of the
# logger's sleep watch. Sourced after tests/e2e/lib.sh; start_mock_logind
# skips the test without dbus-daemon or python3-dbusmock. They run with
# Debian's python3, which has the dbus module (one of the user's own may not).

start_mock_logind() {
  command -v dbus-daemon >/dev/null 2>&1 || skip "dbus-daemon is not installed (package dbus)"
  /usr/bin/python3 -c 'import dbusmock' 2>/dev/null || skip "python3-dbusmock is not installed"
  export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$E2E_TMP/system_bus"
  dbus-daemon --session --nofork --nopidfile --address="$DBUS_SYSTEM_BUS_ADDRESS" >/dev/null 2>&1 &
  E2E_PIDS+=($!)
  wait_for 10 test -S "$E2E_TMP/system_bus" || fail "the private bus did not start"
  /usr/bin/python3 -m dbusmock --template logind >"$E2E_TMP/logind.out" 2>&1 &
  E2E_PIDS+=($!)
  wait_for 10 logind inhibitors || fail "the stand-in for logind did not start: $(cat "$E2E_TMP/logind.out")"
}

# logind inhibitors: the sleep locks held, "who: what mode (why)" a line;
# logind suspend|resume: sends PrepareForSleep(true|false).
logind() {
  /usr/bin/python3 - "$1" <<'PY'
import os, sys, dbus
login = dbus.bus.BusConnection(os.environ['DBUS_SYSTEM_BUS_ADDRESS']).get_object(
    'org.freedesktop.login1', '/org/freedesktop/login1')
if sys.argv[1] == 'inhibitors':
    for what, who, why, mode, _, _ in login.ListInhibitors(dbus_interface='org.freedesktop.login1.Manager'):
        print(f'{who}: {what} {mode} ({why})')
else:
    login.EmitSignal('org.freedesktop.login1.Manager', 'PrepareForSleep', 'b', [sys.argv[1] == 'suspend'],
                     dbus_interface='org.freedesktop.DBus.Mock')
PY
}
logind_holds_lock() { [ "$(logind inhibitors)" = "Serial Data Logger: sleep delay (Saving the chart)" ]; }
logind_lock_free() { [ -z "$(logind inhibitors)" ]; }
