#!/usr/bin/env python3
"""Sampling accuracy of one logger run, from the module simulator's log.

Each "request N" line carries the simulator's monotonic time of the request.
The run's first request (the one after the link test) marks its start; column
k (0..720) is due at start + k * interval. Prints the lateness of every column
against that ideal as median, 99th percentile and maximum, in milliseconds.
With --exit-at (a monotonic time in seconds) it also prints when the process
ended against the ideal end: start + 721 * interval + the final 1000 ms wait."""
import argparse
import datetime
import re
import statistics
import sys

LINK_TEST_EXCHANGES = 50
COLUMNS = 721
LAST_COLUMN_WAIT_S = 1.0

REQUEST = re.compile(r'^(\d+\.\d+) \S+ \S+ request (\d+) ')


def request_times(log_path):
    """Monotonic request times by request number."""
    times = {}
    with open(log_path, encoding='latin-1') as log:
        for line in log:
            match = REQUEST.match(line)
            if match:
                times[int(match.group(2))] = float(match.group(1))
    return times


def wall_minus_monotonic_s(log_path):
    """The system clock less the monotonic one, from the simulator's log lines,
    which carry both: turns a file's modification time into a monotonic moment."""
    offsets = []
    with open(log_path, encoding='latin-1') as log:
        for line in log:
            words = line.split(' ', 3)
            if len(words) < 4:
                continue
            try:
                wall = datetime.datetime.strptime(words[1] + ' ' + words[2], '%Y-%m-%d %H:%M:%S.%f')
                offsets.append(wall.timestamp() - float(words[0]))
            except ValueError:
                continue
    if not offsets:
        raise ValueError('the log has no timed lines')
    return statistics.median(offsets)


def percentile(sorted_values, fraction):
    """Nearest-rank percentile of an already sorted list."""
    if not sorted_values:
        return float('nan')
    rank = max(1, min(len(sorted_values), int(-(-fraction * len(sorted_values) // 1))))
    return sorted_values[rank - 1]


def column_lateness_ms(times, interval_s, skip=LINK_TEST_EXCHANGES):
    """Lateness of columns 1.. of the run against start + k * interval, in ms."""
    first = skip + 1
    if first not in times:
        raise ValueError(f'the log has no request {first}: the run did not start')
    start = times[first]
    lateness = []
    for k in range(1, COLUMNS):
        moment = times.get(first + k)
        if moment is None:
            break
        lateness.append((moment - (start + k * interval_s)) * 1000.0)
    return start, lateness


def against_earliest_fit(lateness_ms):
    """The same lateness against the earliest start any column allows: a first
    request that itself arrived late makes every later column look early, so the
    column that came earliest against the schedule sets its origin instead."""
    earliest = min([0.0] + lateness_ms)
    return [value - earliest for value in lateness_ms]


def summary(values):
    ordered = sorted(values)
    middle = len(ordered) // 2
    median = ordered[middle] if len(ordered) % 2 else (ordered[middle - 1] + ordered[middle]) / 2
    return median, percentile(ordered, 0.99), ordered[-1]


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('log')
    parser.add_argument('--minutes', type=float, default=1.0, help='run length (1, 60 or 1440)')
    parser.add_argument('--exit-at', type=float, help='monotonic time the logger exited')
    parser.add_argument('--skip', type=int, default=LINK_TEST_EXCHANGES, help='requests before the run')
    args = parser.parse_args(argv)

    interval_s = 60.0 * args.minutes / 720.0
    start, lateness = column_lateness_ms(request_times(args.log), interval_s, args.skip)
    if not lateness:
        print('no columns after the first', file=sys.stderr)
        return 1
    median, p99, worst = summary(lateness)
    print(f'columns {len(lateness) + 1}')
    print(f'lateness_ms median {median:.3f} p99 {p99:.3f} max {worst:.3f}')
    median, p99, worst = summary(against_earliest_fit(lateness))
    print(f'lateness_earliest_fit_ms median {median:.3f} p99 {p99:.3f} max {worst:.3f}')
    if args.exit_at is not None:
        ideal_end = start + COLUMNS * interval_s + LAST_COLUMN_WAIT_S
        print(f'end_ms after_start {(args.exit_at - start) * 1000.0:.1f} '
              f'beyond_ideal {(args.exit_at - ideal_end) * 1000.0:.1f}')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
