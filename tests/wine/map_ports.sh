#!/usr/bin/env bash
# Inside tests/wine/sandbox.sh: makes exactly the given COM ports exist, each
# on a device path (a pseudo-terminal or a link to one), and no others.
#
#   tests/wine/map_ports.sh [COM<n>=PATH ...]
#
# Wine reads the mapping as its server starts, so the server stops, the
# mapping is written into the stopped prefix, and a new server starts.
set -euo pipefail
if [ -z "${WINE_SANDBOX:-}" ]; then
  echo "map_ports: run me inside tests/wine/sandbox.sh" >&2
  exit 2
fi
here=$(dirname "$(realpath "$0")")
log=$(mktemp /tmp/wine-ports.XXXXXX.log)
trap 'status=$?; [ $status = 0 ] || { echo "map_ports: failed (status $status)" >&2; cat "$log" >&2; }; rm -f "$log"' EXIT

# The server saves the registry as it stops; -w waits until it has gone.
wineserver -k >>"$log" 2>&1 || true
wineserver -w >>"$log" 2>&1
python3 "$here/set_ports.py" "$WINEPREFIX/system.reg" "$@"
# Links made from an earlier mapping survive a restart.
rm -f "$WINEPREFIX"/dosdevices/com*
wineserver -p >>"$log" 2>&1 </dev/null
# Wine's background programs start now, away from any caller's output pipe,
# and on the sandbox's display, which outlives the caller's.
DISPLAY=${WINE_SANDBOX_DISPLAY:-${DISPLAY:-}} wine cmd /c exit 0 >>"$log" 2>&1 </dev/null
