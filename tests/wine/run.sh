#!/usr/bin/env bash
# The emulator ctest runs the Windows test programs with. It refuses to start
# Wine outside tests/wine/sandbox.sh, where a COM port could be the console.
if [ -z "${WINE_SANDBOX:-}" ]; then
  echo "tests/wine/run.sh: Windows tests run only inside tests/wine/sandbox.sh" >&2
  exit 1
fi
case " $* " in
  *" --gtest_filter="*) ;;
  *) exec wine "$@" ;;
esac
# A test program prints its first line before any test runs. On a rare start
# Wine ends it with a failure before that line (seen once on a fresh prefix,
# with nothing printed at all); such a start is not the test's result, so it is
# said and tried once more. Any output at all, or success, is the result.
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
for attempt in 1 2; do
  status=0
  wine "$@" >"$out" 2>"$err" || status=$?
  cat "$out"
  cat "$err" >&2
  if [ "$status" -eq 0 ] || [ -s "$out" ] || [ -s "$err" ] || [ "$attempt" -eq 2 ]; then
    exit "$status"
  fi
  echo "tests/wine/run.sh: wine ended with status $status before the program printed anything; starting it once more" >&2
done
