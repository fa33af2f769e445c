#!/usr/bin/python3
"""Turns the outputs of one scripts/bench run into the figures section of
BENCHMARKS.md: reads the result files in a folder, prints the section, and
with --update puts it between the figures markers of the given file."""
import argparse
import json
import os
import re
import sys

def marks(label):
    """The markers around one labelled section of figures."""
    name = f'figures-{label}' if label else 'figures'
    return f'<!-- {name}:begin -->', f'<!-- {name}:end -->'

SUMMARY = re.compile(r'^(\w+) median (\S+) p99 (\S+) max (\S+)')


def read_lines(folder, name):
    path = os.path.join(folder, name)
    if not os.path.exists(path):
        return []
    with open(path, encoding='utf-8', errors='replace') as result:
        return result.read().splitlines()


def summaries(lines):
    """name -> (median, p99, max) from lines like 'name median 1 p99 2 max 3 (n 4)'."""
    found = {}
    for line in lines:
        match = SUMMARY.match(line)
        if match:
            found[match.group(1)] = tuple(float(match.group(i)) for i in (2, 3, 4))
    return found


def fields(lines, key):
    """The words after `key` at the start of a line, as a dict of name -> value."""
    for line in lines:
        words = line.split()
        if words and words[0] == key:
            return dict(zip(words[1::2], words[2::2]))
    return {}


def verdict(ok):
    if ok is None:
        return 'not measured'
    return 'met' if ok else '**missed**'


def ms(value):
    return f'{value:.2f} ms'


def figures_table(folder):
    minute = read_lines(folder, 'minute.txt')
    escape = read_lines(folder, 'escape.txt')
    exchange = read_lines(folder, 'exchange.txt') + read_lines(folder, 'exchange_python.txt')
    soak = read_lines(folder, 'soak.txt')
    minute_s = summaries(minute)
    escape_s = summaries(escape)
    exchange_s = summaries(exchange)
    rows = []

    late = minute_s.get('lateness_ms')
    end = fields(minute, 'run_end_ms')
    picture = fields(minute, 'picture_written_ms')
    if late:
        ok = late[0] < 0.5 and late[2] < 5.0
        rows.append(('1. Sampling lateness against start + (x - 40) x interval, 1-minute run, '
                     'request times in the simulator\'s log',
                     f'median {ms(late[0])}, p99 {ms(late[1])}, max {ms(late[2])}',
                     'median < 0.5 ms, max < 5 ms', verdict(ok)))
    fitted = minute_s.get('lateness_earliest_fit_ms')
    if fitted and late and fitted != late:
        rows.append(('1. ... the same against the earliest start any column allows (a late first request '
                     'otherwise makes every column look early)',
                     f'median {ms(fitted[0])}, p99 {ms(fitted[1])}, max {ms(fitted[2])}', '-', '-'))
    in_process = exchange_s.get('column_lateness_in_process_ms')
    if in_process:
        rows.append(('1. ... the same lateness seen inside the logger (column start against its own clock)',
                     f'median {ms(in_process[0])}, p99 {ms(in_process[1])}, max {ms(in_process[2])}', '-', '-'))
    if picture:
        beyond = float(picture['beyond_ideal'])
        rows.append(('1. Run\'s end: picture written, against start + 721/12 s + the 1000 ms wait',
                     f'{beyond:+.1f} ms', 'within 5 ms', verdict(abs(beyond) <= 5.0)))
    if end:
        rows.append(('1. ... process exit against the same moment', f'{float(end["beyond_ideal"]):+.1f} ms', '-', '-'))
    for line in minute:
        if line.startswith('row2_seconds '):
            rows.append(('1. Second data row "Seconds" (ideal 1/12 + 0.05 = 0.1333)', line.split()[1], '-', '-'))
    ours = exchange_s.get('exchange_beyond_wait_ms')
    python = exchange_s.get('python_exchange_beyond_wait_ms')
    if ours:
        rows.append(('2. Exchange beyond the 50 ms wait (drain ... drawing), logger code',
                     f'median {ms(ours[0])}, p99 {ms(ours[1])}', 'median < 1 ms', verdict(ours[0] < 1.0)))
    overshoot = exchange_s.get('wait_overshoot_ms')
    if overshoot:
        rows.append(('2. ... of which the 50 ms sleep itself overshoots', f'median {ms(overshoot[0])}, '
                     f'p99 {ms(overshoot[1])}', '-', '-'))
    if python:
        ratio = f'; {python[0] / ours[0]:.1f} x the logger\'s median' if ours and ours[0] > 0 else ''
        rows.append(('2. Same exchange as a pyserial script (no drawing)',
                     f'median {ms(python[0])}, p99 {ms(python[1])}{ratio}', '-', '-'))
    display = exchange_s.get('display_latency_ms')
    if display:
        rows.append(('3. Drawing call to frame shown, while the sample clock runs',
                     f'median {ms(display[0])}, p99 {ms(display[1])}, max {ms(display[2])}',
                     'p99 < 20 ms', verdict(display[1] < 20.0)))
    lock_wait = exchange_s.get('display_lock_wait_ms')
    lock_hold = exchange_s.get('display_lock_hold_ms')
    work = exchange_s.get('display_pass_work_ms')
    if lock_wait and lock_hold and work:
        rows.append(('3. ... display pass: waiting for the screen lock / holding it / lock to frame shown',
                     f'p99 {ms(lock_wait[1])} / p99 {ms(lock_hold[1])}, max {ms(lock_hold[2])} / '
                     f'p99 {ms(work[1])}', '-', '-'))
    esc = escape_s.get('escape_to_exit_from_key_tool_launch_ms')
    esc_after = escape_s.get('escape_to_exit_after_key_tool_ended_ms')
    if esc:
        saved_text = ''
        for line in escape:
            if line.startswith('escape_snapshots_saved '):
                saved_text = '; picture saved in ' + ' '.join(line.split()[1:])
        after_text = f' (after the key tool ended: median {ms(esc_after[0])})' if esc_after else ''
        rows.append(('4. ESC key to process exit, picture saved',
                     f'median {ms(esc[0])}, max {ms(esc[2])}{after_text}{saved_text}', 'under 100 ms',
                     verdict(esc[2] < 100.0)))
    start_up = escape_s.get('start_up_to_prompt_ms')
    if start_up:
        rows.append(('5. Process start to the port prompt on the screen (Xvfb)',
                     f'median {ms(start_up[0])}, max {ms(start_up[2])}', 'under 300 ms',
                     verdict(start_up[2] < 300.0)))
    resident = fields(minute, 'resident_kb')
    if resident:
        peak_mb = int(resident['max']) / 1024
        rows.append(('6. Resident memory during a 1-minute run',
                     f'first {int(resident["first"]) / 1024:.1f} MB, max {peak_mb:.1f} MB, '
                     f'last {int(resident["last"]) / 1024:.1f} MB', 'under 30 MB', verdict(peak_mb < 30.0)))
    soak_rows = [line.split() for line in soak if line.startswith('rss ')]
    if soak_rows:
        first = int(soak_rows[0][5])
        last = int(soak_rows[-1][5])
        later = [int(row[5]) for row in soak_rows[1:]]
        flat = max(later) - min(later) <= 256 if later else None
        rows.append(('6. Resident memory over a 1440-minute run in virtual time (real window)',
                     f'column 0: {first / 1024:.1f} MB, column 120 to after the run: '
                     f'{min(later) / 1024:.1f} to {max(later) / 1024:.1f} MB',
                     'under 30 MB and flat', verdict(last / 1024 < 30.0 and flat)))
    rows += cpu_rows(minute, '1-minute', 5.0)
    rows += cpu_rows(read_lines(folder, 'hour.txt'), '60-minute', 2.0)
    rows += cpu_rows(read_lines(folder, 'hour_wine.txt'), '60-minute, logger.exe under Wine', 2.0)
    rows += share_rows(folder)
    lines = ['| figure | measured | aim | verdict |', '|---|---|---|---|']
    lines += [f'| {a} | {b} | {c} | {d} |' for a, b, c, d in rows]
    return '\n'.join(lines)


def cpu_rows(lines, run, aim_percent):
    """The share of a core used while sampling, and the lateness, of one whole run's output."""
    rows = []
    found = summaries(lines)
    inside = found.get('row_seconds_beyond_schedule_and_wait_ms')
    if inside and run == '1-minute':
        rows.append(('1. ... the same seen inside the logger: each row\'s "Seconds" beyond start + k x interval '
                     '+ the 50 ms wait', f'median {ms(inside[0])}, p99 {ms(inside[1])}, max {ms(inside[2])}',
                     '-', '-'))
    late = found.get('lateness_earliest_fit_ms')
    if late and run != '1-minute':
        rows.append((f'1. Sampling lateness, {run} run (against the earliest fit)',
                     f'median {ms(late[0])}, p99 {ms(late[1])}, max {ms(late[2])}', '-', '-'))
    for line in lines:
        words = line.split()
        if words and words[0] == 'cpu_share_during_sampling_percent':
            share = float(words[1])
            rows.append((f'8. Share of a core while sampling, {run} run (all the logger\'s threads, '
                         'user and system time)', f'{share:.2f} % {" ".join(words[2:])}',
                         f'at most {aim_percent:g} %', verdict(share <= aim_percent)))
        if words and words[0] == 'cpu_share_by_thread_percent':
            rows.append((f'8. ... by thread (the busiest three), {run} run',
                         ', '.join(w.replace(':', ' ') + ' %' for w in words[1:]), '-', '-'))
        if words and words[0] == 'wineserver_cpu_share_percent':
            rows.append((f'8. ... and of Wine\'s server meanwhile, {run} run', f'{float(words[1]):.2f} %', '-', '-'))
    return rows


def share_rows(folder):
    """scripts/bench --shares: one file a run, its first lines naming the run and the aim."""
    rows = []
    for name in sorted(n for n in os.listdir(folder) if n.startswith('share_')):
        lines = read_lines(folder, name)
        described = next((line[4:] for line in lines if line.startswith('run ')), name)
        where = next((line[6:] for line in lines if line.startswith('where ')), '')
        aim = next((float(line.split()[1]) for line in lines if line.startswith('aim ')), 1.0)
        size = next((line.split()[1] for line in lines if line.startswith('window_size ')), None)
        if 'full_screen_by_resize True' in lines:
            size = f'{size} (resized to the screen: a bare Xvfb grants no full screen)'
        described = f'{where}{f", window {size}" if size else ""}: a sample of a {described}'
        found = cpu_rows(lines, described, aim)
        rows += found or [(f'8. Share of a core while sampling, {described} run', 'no figure (the run failed)',
                           f'at most {aim:g} %', verdict(None))]
    return rows


def pieces_table(folder):
    path = os.path.join(folder, 'pieces.json')
    if not os.path.exists(path):
        return '(Google Benchmark is not installed: no piece costs.)'
    with open(path) as result:
        data = json.load(result)
    to_us = {'ns': 1e-3, 'us': 1.0, 'ms': 1e3, 's': 1e6}
    lines = ['| piece | wall time | CPU time | iterations |', '|---|---|---|---|']
    for bench in data.get('benchmarks', []):
        scale = to_us.get(bench.get('time_unit', 'ns'), 1e-3)
        name = bench['name'].removeprefix('BM_').replace('_', ' ')
        lines.append(f'| {name} | {bench["real_time"] * scale:.3f} us | {bench["cpu_time"] * scale:.3f} us | '
                     f'{bench["iterations"]} |')
    return '\n'.join(lines)


def section(folder, label):
    begin_mark, end_mark = marks(label)
    machine = read_lines(folder, 'machine.txt')
    parts = [begin_mark, '', '#### Machine, command, date', '']
    parts += [f'- {line}' for line in machine]
    parts += ['', '#### Figures', '', figures_table(folder), '']
    if label not in ('wine', 'hour') and not label.startswith('shares'):  # the pieces are the default run's
        parts += ['#### Costs of the pieces (Google Benchmark)', '', pieces_table(folder), '']
    parts += [end_mark]
    return '\n'.join(parts)


def update(path, text, label):
    begin_mark, end_mark = marks(label)
    with open(path, encoding='utf-8') as document:
        content = document.read()
    begin = content.find(begin_mark)
    end = content.find(end_mark)
    if begin < 0 or end < begin:
        content = content.rstrip('\n') + '\n\n' + text + '\n'
    else:
        content = content[:begin] + text + content[end + len(end_mark):]
    with open(path, 'w', encoding='utf-8') as document:
        document.write(content)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('results', help='folder of one bench run\'s outputs')
    parser.add_argument('--update', help='the BENCHMARKS.md to put the section into')
    parser.add_argument('--label', default='', help='which section: none for the plain run, "favoured" ...')
    args = parser.parse_args(argv)
    text = section(args.results, args.label)
    print(text)
    if args.update:
        update(args.update, text, args.label)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
