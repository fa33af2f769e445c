#!/usr/bin/env python3
"""The logger on a real kernel's USB serial driver, in two QEMU guests:
  run  - the link test and a one-minute run on COM5 (/dev/ttyUSB0), with comscan, the driver's settings read
         back, a second logger refused, the cable pulled at 20 s and plugged back, and a sleep to RAM at 40 s
  pull - the cable pulled at 20 s and left out
Usage: cases.py BUILD_DIR [CASE...]. Prints SKIP and exits 0 where the guest cannot be built."""
import os
import pathlib
import re
import statistics
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # nothing written into the source tree
import guest  # noqa: E402

PICTURE_BYTES = 481078
COLUMN_S = 60.0 / 720
CHECK_ROWS = os.path.join(os.path.dirname(__file__), '..', 'e2e', 'check_rows.py')
GAP_NOTE = rb'"No data from (\d\d:\d\d:\d\d) to (\d\d:\d\d:\d\d): ([^"]*)\. "\r\n("\d|$)'

# The guest's side. On a busy machine the link test may miss its 50 ms window and
# end the program: then the run is started again (twice at most), a second later.
CASE = r'''
sampled() { grep -q '^"[0-9]' run/DATA001.CSV 2>/dev/null; }
for attempt in 1 2 3; do
  rm -rf run && mkdir run && echo "@@ attempt $attempt"
  [ $attempt = 1 ] || sleep 1
  (cd run && printf '5\n1\nV\n' | LOGGER_WINDOW=headless $programs/logger >logger.out 2>logger.err
   echo "@@ logger ended $?" | tee ended) &
  until sampled || [ -e run/ended ]; do sleep 0.1; done
  sampled && break
  cat run/logger.err
done
sampled && echo "@@ sampling" || poweroff -f
%s
wait
'''
SIDE_STEPS = r'''
(sleep 40; echo mem >/sys/power/state) &
$programs/comscan </dev/null >comscan.out 2>&1
stty -F /dev/ttyUSB0 -a >stty.out 2>&1
mkdir refused; (cd refused && printf '5\n' | LOGGER_WINDOW=terminal $programs/logger >logger.out 2>logger.err)
'''
SETTINGS = 'cs8 -parenb -cstopb -crtscts -ixon -ixoff -icanon -echo -isig -opost -icrnl -inlcr -igncr -istrip'


def expect(holds, why):
    if not holds:
        raise AssertionError(why)


def read(path):
    return pathlib.Path(path).read_bytes()


def seconds(clock):
    hours, minutes, whole = (int(part) for part in clock.split(b':'))
    return hours * 3600 + minutes * 60 + whole


def await_sampling(machine):
    """Waits for the run's first column; returns the module's requests before the link test of that run."""
    since, earlier = 0, 0
    while True:
        since, match = machine.wait_line(r'^@@ (sampling|attempt [23])$', 90, since)
        if match.group(1) == 'sampling':
            return earlier
        earlier, since = read(machine.path('modsim.log')).count(b' request '), since + 1


def replug_and_sleep(machine, sampling):
    """Plugs the cable back at 24 s, and wakes the guest 10 s after it suspended itself."""
    time.sleep(4)
    machine.command('device_add ' + guest.ADAPTER)
    machine.until(lambda: 'suspended' in machine.command('info status'), 'the guest to suspend', 60)
    time.sleep(10)
    machine.command('system_wakeup')


def await_run_end(machine, sampling):
    machine.wait_line(r'^@@ files', 120)
    ended_after_s = time.monotonic() - sampling
    expect(ended_after_s > 59, 'the run ended %.0f s after its start, before its end' % ended_after_s)


def check_side_programs(out):
    expect('COM5' in out('comscan.out').split(), 'comscan did not list COM5: %s' % out('comscan.out'))
    settings = set(re.split(r'[\s;]+', out('stty.out')))
    expect('speed 38400 baud' in out('stty.out') and settings >= set(SETTINGS.split()),
           'the driver holds other settings than 38400 baud, %s: %s' % (SETTINGS, out('stty.out')))
    expect('COM5 (/dev/ttyUSB0) is in use by another program' in out('refused/logger.out'),
           'the second logger did not show the port in use: %s' % out('refused/logger.out')[-600:])
    expect('in use' in out('refused/logger.err'), 'the second logger gave no reason on standard error')
    picture = out('refused/BMP000.BMP')
    # Text row 13 (16 lines) of the 800 x 600 picture of 8-bit pixels, stored bottom line first, is not blank.
    row_13 = picture[1078 + (600 - 16 * 13) * 800:1078 + (616 - 16 * 13) * 800]
    expect(len(picture) == PICTURE_BYTES and len(set(row_13)) > 1,
           'the second logger left no picture with the reason on row 13')


def check_run(machine, earlier, ending, gaps):
    """The run's picture; its rows, one for each of the module's replies, the last at its time; the
    columns' spacing; one note for each gap, in order, followed by a data row unless the run ended in it."""
    expect(read(machine.path('out/run/ended')) == b'@@ logger ended 0\n',
           'the logger ended with an error: %s' % read(machine.path('out/run/logger.err')))
    expect(len(read(machine.path('out/run/BMP001.BMP'))) == PICTURE_BYTES, 'no picture BMP001.BMP of its size')
    data_file, log_file = machine.path('out/run/DATA001.CSV'), machine.path('modsim.log')
    checked = subprocess.run([sys.executable, CHECK_ROWS, data_file, log_file, '--ending', ending, '--earlier',
                              str(earlier), '--lossy-gaps'], capture_output=True, text=True)
    expect(checked.returncode == 0, checked.stderr)
    data = read(data_file)
    notes = re.findall(GAP_NOTE, data)
    expect([(cause.decode(), following != b'') for _, _, cause, following in notes] == gaps,
           'the gap notes are %s, expected %s' % (notes, gaps))
    expect(all((seconds(end) - seconds(start)) % 86400 < 600 for start, end, _, _ in notes), 'a gap of ten minutes')
    rows = [row.split(b',') for row in data.split(b'\r\n') if re.match(rb'"\d\d:\d\d:\d\d",', row)]
    # The guest's clock is set from the emulated RTC at boot: it may be a second or so behind or ahead.
    last_request = re.findall(rb'^\S+ \S+ (\d\d:\d\d:\d\d)\S* request ', read(log_file), re.M)[-1]
    expect(abs((seconds(rows[-1][0].strip(b'"')) - seconds(last_request) + 43200) % 86400 - 43200) <= 2,
           'the last row is of %s, its request of %s' % (rows[-1][0], last_request))
    times = [float(row[1]) for row in rows]
    column_ms = 1000 * statistics.median(b - a for a, b in zip(times, times[1:]) if b - a < 2 * COLUMN_S)
    expect(abs(column_ms - 1000 * COLUMN_S) <= 2, 'the columns are %.1f ms apart at the median' % column_ms)
    return '%d data rows, columns %.1f ms apart at the median' % (len(rows), column_ms)


# Name: the guest's steps beside the run, what the host does after pulling the cable, the run's ending and gaps.
CASES = {
    'run': (SIDE_STEPS, replug_and_sleep, 'escape',
            [('COM5 was disconnected', True), ('the computer was asleep', True)]),
    'pull': ('', await_run_end, 'run-end', [('COM5 was disconnected', False)]),
}


def run_case(build_dir, name):
    side_steps, after_pull, ending, gaps = CASES[name]
    machine = guest.Guest(build_dir, name, CASE % side_steps)
    try:
        earlier, sampling = await_sampling(machine), time.monotonic()
        time.sleep(20)
        machine.command('device_del ftdi0')
        after_pull(machine, sampling)
        machine.finish()
    finally:
        machine.kill()
    if side_steps:
        check_side_programs(lambda file: read(machine.path('out/' + file)).decode('latin-1'))
    return check_run(machine, earlier, ending, gaps)


def main():
    if len(sys.argv) < 2 or not set(sys.argv[2:]) <= set(CASES):
        sys.exit(__doc__)
    build_dir, chosen = sys.argv[1], sys.argv[2:] or list(CASES)
    try:
        guest.guest_parts(build_dir)
    except guest.Skip as why:
        return print('SKIP: usb guest tests: %s' % why)
    failed = 0
    for name in chosen:
        began = time.monotonic()
        try:
            outcome = 'ok, ' + run_case(build_dir, name)
        except (AssertionError, OSError) as why:
            failed, outcome = failed + 1, 'FAILED: %s' % why
        print('usb guest %s: %s (%.0f s)' % (name, outcome, time.monotonic() - began), flush=True)
    print('%d passed, %d failed' % (len(chosen) - failed, failed))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
