#!/usr/bin/env python3
"""The logger on a real kernel's USB serial driver, in two QEMU guests:
  run  - the link test and a one-minute run on COM5 (/dev/ttyUSB0) with the
         driver's settings read back, comscan, a second logger refused, the
         cable pulled at 20 s and plugged back, and a sleep to RAM at 40 s
  pull - the cable pulled mid-run and left out
Usage: cases.py BUILD_DIR [CASE...]. Prints SKIP and exits 0 where the guest
cannot be built (no QEMU, no Debian kernel package to download)."""
import os
import re
import statistics
import sys
import time

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import guest  # noqa: E402

GAP_NOTE = r'"No data from (\d\d:\d\d:\d\d) to (\d\d:\d\d:\d\d): %s\. "'
DISCONNECTED = 'COM5 was disconnected'
ASLEEP = 'the computer was asleep'
PICTURE_BYTES = 481078
COLUMN_S = 60.0 / 720

# The guest's side: the programs at their build paths, answers on standard input.
# On a busy machine the link test may miss its 50 ms window and end the program:
# then the run is started again (twice at most), a second after saying so.
CASE_HEAD = r'''
logger=%(logger)s
started_at() { date +%%s; }
sampled() { grep -q '^"[0-9]' run/DATA001.CSV 2>/dev/null; }
for attempt in 1 2 3; do
  rm -rf run && mkdir run
  echo "@@ attempt $attempt"
  [ $attempt = 1 ] || sleep 1
  (cd run && printf '5\n1\nV\n' | LOGGER_WINDOW=headless $logger >logger.out 2>logger.err
   status=$?; echo "@@ logger ended $status"; echo $status >status) &
  until sampled || [ -e run/status ]; do sleep 0.1; done
  sampled && break
  cat run/logger.err
done
sampled && echo "@@ sampling" || echo "@@ the link test failed three times"
sampling=$(started_at)
'''
CASE_RUN = CASE_HEAD + r'''
%(comscan)s </dev/null >comscan.out 2>&1
stty -F /dev/ttyUSB0 -a >stty.out 2>&1
mkdir refused
(cd refused && printf '5\n' | LOGGER_WINDOW=terminal $logger >logger.out 2>logger.err; echo $? >status)
while [ $(($(started_at) - sampling)) -lt 40 ]; do sleep 0.2; done
echo "@@ suspending"
echo mem >/sys/power/state
echo "@@ awake $(ls /dev/ttyUSB*)"
wait
# After the run, the adapter that came back still carries requests and replies.
for device in /dev/ttyUSB*; do
  (stty -F $device raw -echo 38400 && exec 3<>$device && printf 'X\r' >&3 && timeout 3 head -n 1 <&3) >>answered.out
done
'''
CASE_PULL = CASE_HEAD + 'wait\n'


def fail(why):
    raise AssertionError(why)


def seconds_of(clock):
    hours, minutes, seconds = (int(part) for part in clock.split(':'))
    return hours * 3600 + minutes * 60 + seconds


def module_replies(log_text):
    """Request number -> (time of day in seconds, the reply line) from modsim's log."""
    replies = {}
    for match in re.finditer(r'^\S+ \S+ (\d\d:\d\d:\d\d)\S* request (\d+) \S+ "(.*)"$', log_text, re.M):
        replies[int(match.group(2))] = (seconds_of(match.group(1)), match.group(3).replace('\\r\\n', ''))
    return replies


def rows_of(data):
    """The data file's rows after the header: (kind, fields or the note text)."""
    text = data.decode('latin-1')
    if not text.endswith('\r\n'):
        fail('the data file ends in half a row')
    rows = []
    for row in text[:-2].split('\r\n')[1:]:
        rows.append(('data', row.split(',')) if row.count(',') == 13 else ('note', row))
    return rows


def await_sampling(machine):
    """Waits for the run's first column; returns the console's line number then and
    the module's request number of that first column."""
    since, first_request = 0, 51
    while True:
        since, match = machine.wait_line(r'^@@ (sampling|attempt (\d+)|the link test failed three times)$', 90, since)
        since += 1
        if match.group(1) == 'sampling':
            return since, first_request
        if not match.group(2):
            fail('the link test failed three times on a busy machine')
        if match.group(2) != '1':
            first_request = machine.requests_logged() + 51


def check_rows_are_replies(rows, replies, first_request, gaps_allowed):
    """Each data row carries a reply of the module, in order, sampled within 2 s of
    its request: the first one first_request (after the fifty of the link test) and,
    without gaps, each next row the next request."""
    request = first_request - 1
    for index, (kind, fields) in enumerate(rows):
        if kind != 'data':
            continue
        while True:
            request += 1
            if request not in replies:
                fail('row %d: no reply of the module matches %s' % (index + 1, fields))
            when, reply = replies[request]
            marker, _spare, switch, ad1, ad2, ad3, checksum = reply.split(',')
            clamp = [str(min(max(int(value), 1), 1023)) for value in (ad1, ad2, ad3)]
            if fields[2:8] == ['"%s"' % marker, switch] + clamp + [checksum]:
                break
            if not gaps_allowed or request == first_request:
                fail('row %d: %s, but the module sent %s' % (index + 1, fields[2:8], reply))
        # The guest's clock is set from the emulated RTC at boot: it may be a second or so behind or ahead.
        if abs((seconds_of(fields[0].strip('"')) - when + 43200) % 86400 - 43200) > 2:
            fail('row %d: time %s is not that of request %d' % (index + 1, fields[0], request))


def median_column_ms(rows):
    seconds = [float(fields[1]) for kind, fields in rows if kind == 'data']
    steps = [b - a for a, b in zip(seconds, seconds[1:]) if b - a < 2 * COLUMN_S]
    return 1000 * statistics.median(steps)


def picture_row_ink(picture, first_line):
    """Pixels that are not white on one 16-line text row of an 8-bit BMP."""
    white = [index for index in range(256) if picture[54 + 4 * index:57 + 4 * index] == b'\xff\xff\xff']
    ink = 0
    for line in range(first_line, first_line + 16):
        start = 1078 + (599 - line) * 800
        ink += sum(1 for pixel in picture[start:start + 800] if pixel not in white)
    return ink


def check_run_files(files, status_line, case):
    """What every run leaves: exit status 0, its picture, whole rows."""
    if status_line.group(1) != '0':
        fail('the logger ended with status %s: %s' % (status_line.group(1), files.get('run/logger.err')))
    if len(files.get('run/BMP001.BMP', b'')) != PICTURE_BYTES:
        fail('no picture BMP001.BMP of %d bytes after the %s case' % (PICTURE_BYTES, case))


def gap_notes(rows, reason):
    pattern = re.compile(GAP_NOTE % reason)
    return [index for index, (kind, text) in enumerate(rows) if kind == 'note' and pattern.fullmatch(text)]


def check_gap_note(rows, reason, last):
    """Exactly one note row for the gap, before the next data row (or the last row)."""
    found = gap_notes(rows, reason)
    if len(found) != 1:
        fail('%d note rows for "%s", expected one: %s' % (len(found), reason, [t for k, t in rows if k == 'note']))
    if last and found[0] != len(rows) - 1:
        fail('the "%s" note is not the last row' % reason)
    if not last and (found[0] == len(rows) - 1 or rows[found[0] + 1][0] != 'data'):
        fail('no data row follows the "%s" note' % reason)
    start, end = re.fullmatch(GAP_NOTE % reason, rows[found[0]][1]).groups()
    if (seconds_of(end) - seconds_of(start)) % 86400 > 600:
        fail('the gap runs from %s to %s' % (start, end))


def run_case(build_dir):
    """The link test and a one-minute run, the cable pulled and plugged back, a sleep."""
    paths = {'logger': guest.PROGRAMS_DIR + '/logger', 'comscan': guest.PROGRAMS_DIR + '/comscan'}
    with guest.Guest(build_dir, 'run', CASE_RUN % paths) as machine:
        since, first_request = await_sampling(machine)
        sampling = time.monotonic()
        time.sleep(20)
        machine.pull()
        time.sleep(4)
        machine.plug()
        machine.wake_after(10)
        ended = machine.wait_line(r'^@@ logger ended (\d+)', 120, since)[1]
        status, files = machine.finish()
    if status != 0:
        fail('the case script ended with status %d' % status)

    if 'COM5' not in files['comscan.out'].decode('latin-1').split():
        fail('comscan did not list COM5: %s' % files['comscan.out'])
    settings = files['stty.out'].decode('latin-1')
    wanted = ['speed 38400 baud', 'cs8', '-parenb', '-cstopb', '-crtscts', '-ixon', '-ixoff', '-icanon', '-echo',
              '-isig', '-opost', '-icrnl', '-inlcr', '-igncr', '-istrip']
    missing = [word for word in wanted if not re.search(r'(^|[\s;])%s([\s;]|$)' % re.escape(word), settings)]
    if missing:
        fail('the driver holds other settings (%s missing): %s' % (' '.join(missing), settings))

    refused_text = files['refused/logger.out'].decode('latin-1')
    if 'COM5 (/dev/ttyUSB0) is in use by another program' not in refused_text:
        fail('the second logger did not show the port in use: %s' % refused_text[-600:])
    picture = files.get('refused/BMP000.BMP', b'')
    if len(picture) != PICTURE_BYTES or picture_row_ink(picture, 12 * 16) == 0:
        fail('the second logger left no picture with the reason on row 13')
    if 'in use' not in files['refused/logger.err'].decode('latin-1'):
        fail('the second logger gave no reason on standard error')

    if not re.search(r'^X,0,\d,\d+,\d+,\d+,\d+\r$', files['answered.out'].decode('latin-1'), re.M):
        fail('the adapter gave no reply after the replug and the sleep: %s' % files['answered.out'])
    check_run_files(files, ended, 'run')
    rows = rows_of(files['run/DATA001.CSV'])
    replies = module_replies(open(machine.path('modsim.log'), encoding='latin-1').read())
    check_rows_are_replies(rows, replies, first_request, gaps_allowed=True)
    column_ms = median_column_ms(rows)
    if abs(column_ms - 1000 * COLUMN_S) > 2:
        fail('the columns are %.1f ms apart at the median' % column_ms)
    data_rows = sum(1 for kind, _ in rows if kind == 'data')
    check_gap_note(rows, DISCONNECTED, last=False)
    check_gap_note(rows, ASLEEP, last=False)
    if data_rows >= 721:
        fail('%d data rows: the gaps were filled' % data_rows)
    return '%d data rows, columns %.1f ms apart at the median' % (data_rows, column_ms)


def pull_case(build_dir):
    """The cable pulled at 20 s and left out."""
    paths = {'logger': guest.PROGRAMS_DIR + '/logger'}
    with guest.Guest(build_dir, 'pull', CASE_PULL % paths) as machine:
        since, first_request = await_sampling(machine)
        sampling = time.monotonic()
        time.sleep(20)
        machine.pull()
        pulled = time.monotonic()
        ended = machine.wait_line(r'^@@ logger ended (\d+)', 120, since)[1]
        ended_after_s = time.monotonic() - sampling
        status, files = machine.finish()
    if status != 0:
        fail('the case script ended with status %d' % status)
    check_run_files(files, ended, 'pull')
    rows = rows_of(files['run/DATA001.CSV'])
    replies = module_replies(open(machine.path('modsim.log'), encoding='latin-1').read())
    check_rows_are_replies(rows, replies, first_request, gaps_allowed=False)
    data_rows = sum(1 for kind, _ in rows if kind == 'data')
    if data_rows < (pulled - sampling - 1) / COLUMN_S:
        fail('%d data rows, fewer than were sampled before the pull' % data_rows)
    check_gap_note(rows, DISCONNECTED, last=True)
    if ended_after_s < 59:
        fail('the run ended %.0f s after its start, before its end' % ended_after_s)
    return '%d data rows, the run ended %.0f s after its start' % (data_rows, ended_after_s)


CASES = {'run': run_case, 'pull': pull_case}


def main():
    if len(sys.argv) < 2 or not set(sys.argv[2:]) <= set(CASES):
        print(__doc__, file=sys.stderr)
        return 2
    build_dir = sys.argv[1]
    chosen = sys.argv[2:] or list(CASES)
    try:
        guest.guest_parts(build_dir)
    except guest.Skip as why:
        print('SKIP: usb guest tests: %s' % why)
        return 0
    failed = 0
    for name in chosen:
        began = time.monotonic()
        try:
            outcome = CASES[name](build_dir)
            print('usb guest %s: ok, %s (%.0f s)' % (name, outcome, time.monotonic() - began), flush=True)
        except (AssertionError, KeyError, guest.GuestFailure) as why:
            failed += 1
            print('usb guest %s: FAILED (%.0f s): %s' % (name, time.monotonic() - began, why), flush=True)
    print('%d passed, %d failed' % (len(chosen) - failed, failed))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
