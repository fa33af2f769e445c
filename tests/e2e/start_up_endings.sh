#!/usr/bin/env bash
# The two start-up endings as a user meets them: a port that is not there, and
# a module that stops answering during the link test. Both leave BMP000.BMP,
# equal to the screen during the final wait, and no data file.
BUILD_DIR=$1
source "$(dirname "$0")/lib.sh"

start_xvfb

# A missing port: the prompt refuses 0 and 11 first, then COM4 is not there.
start_logger
type_line 0
type_line 11
type_line 4
sleep 1.5
screenshot_rgb "$E2E_TMP/missing.rgb"
wait_logger_exit 10 || fail "the logger ended with status $?"
[ "$(stat -c %s "$E2E_TMP/run/BMP000.BMP")" = 481078 ] || fail "BMP000.BMP is not 481078 bytes"
bmp_rgb "$E2E_TMP/run/BMP000.BMP" "$E2E_TMP/missing_bmp.rgb"
[ "$(differing_pixels "$E2E_TMP/missing.rgb" "$E2E_TMP/missing_bmp.rgb")" = 0 ] ||
  fail "BMP000.BMP differs from the screen of the missing-port ending"
ls "$E2E_TMP/run" | grep -q CSV && fail "a data file was written"
grep -q "COM4" "$E2E_TMP/logger.err" || fail "no reason on standard error for COM4"
echo "missing port: ok"

# A module that answers 49 times and then stays silent fails the link test.
rm -rf "$E2E_TMP/run"
start_modsim 3 --silent-after 49
start_logger
type_line 3
sleep 5
screenshot_rgb "$E2E_TMP/link.rgb"
wait_logger_exit 15 || fail "the logger ended with status $?"
bmp_rgb "$E2E_TMP/run/BMP000.BMP" "$E2E_TMP/link_bmp.rgb"
[ "$(differing_pixels "$E2E_TMP/link.rgb" "$E2E_TMP/link_bmp.rgb")" = 0 ] ||
  fail "BMP000.BMP differs from the screen of the link failure"
ls "$E2E_TMP/run" | grep -q CSV && fail "a data file was written"
echo "link failure: ok"
