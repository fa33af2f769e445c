#!/usr/bin/env bash
# Inside tests/wine/sandbox.sh: makes exactly the given COM ports exist, each
# on a device path (a pseudo-terminal or a link to one), and no others.
#
#   tests/wine/map_ports.sh [COM<n>=PATH ...]
set -euo pipefail
if [ -z "${WINE_SANDBOX:-}" ]; then
  echo "map_ports: run me inside tests/wine/sandbox.sh" >&2
  exit 2
fi
reg_file=$(mktemp /tmp/wine-ports.XXXXXX.reg)
trap 'rm -f "$reg_file"' EXIT
{
  printf 'REGEDIT4\r\n\r\n'
  printf '[-HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
  for mapping in "$@"; do
    name=${mapping%%=*}
    path=${mapping#*=}
    case $name in
      COM[0-9]*) ;;
      *) echo "map_ports: not a COM port: $name" >&2; exit 2 ;;
    esac
    printf '"%s"="%s"\r\n' "$name" "${path//\\/\\\\}"
  done
} >"$reg_file"
wine regedit /S "$(winepath -w "$reg_file")" </dev/null >/dev/null 2>&1
wineserver -k >/dev/null 2>&1 || true
rm -f "$WINEPREFIX"/dosdevices/com*
wineserver -p >/dev/null 2>&1 </dev/null
# Wine's background programs start now, away from any caller's output pipe,
# and on the sandbox's display, which outlives the caller's.
DISPLAY=${WINE_SANDBOX_DISPLAY:-${DISPLAY:-}} wine cmd /c exit 0 >/dev/null 2>&1 </dev/null
