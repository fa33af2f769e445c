#!/usr/bin/env bash
# The emulator ctest runs the Windows test programs with. It refuses to start
# Wine outside tests/wine/sandbox.sh, where a COM port could be the console.
if [ -z "${WINE_SANDBOX:-}" ]; then
  echo "tests/wine/run.sh: Windows tests run only inside tests/wine/sandbox.sh" >&2
  exit 1
fi
exec wine "$@"
