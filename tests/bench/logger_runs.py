#!/usr/bin/python3
"""Whole logger runs under an X display, measured from outside as a user
would see them, against the module simulator:

  minute   one 1-minute run (or --minutes 60) to its last column: sampling
           lateness (from the simulator's log), the run's end, resident
           memory and the share of a core it uses while it samples
  escape   short runs ended with ESC: start-up to the port prompt on the
           screen, and ESC to process exit with the picture saved
  share    the share of a core of a run of --minutes, taken over
           --sample-s seconds of its sampling (the share is steady), then ESC

Needs DISPLAY, xdotool, the build folder's logger and modsim, and (for the
start-up figure) the build's tests/bench/window_watch. With --wine EXE it
measures logger.exe under Wine instead, against the same Linux simulator; it
then runs inside tests/wine/sandbox.sh. Prints one figure a line."""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import lateness  # noqa: E402

PORT = 3
LINK_TEST_EXCHANGES = 50
SNAPSHOT_BYTES = 481078
# The port prompt: row 10 from column 10, 30 cells ("Enter COM Port Number (1-10): ").
PROMPT_REGION = (72, 144, 240, 16)


class Processes:
    """Everything a measurement starts, ended by its own pid when done."""

    def __init__(self):
        self.started = []

    def start(self, args, **kwargs):
        process = subprocess.Popen(args, **kwargs)
        self.started.append(process)
        return process

    def stop_all(self):
        for process in reversed(self.started):
            if process.poll() is None:
                process.terminate()
        for process in reversed(self.started):
            try:
                process.wait(timeout=3)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


def wait_until(condition, timeout_s, step_s=0.005):
    deadline = time.monotonic() + timeout_s
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(step_s)
    return True


def requests_logged(log_path):
    try:
        with open(log_path, encoding='latin-1') as log:
            return sum(1 for line in log if ' request ' in line)
    except FileNotFoundError:
        return 0


class ExitWatch:
    """Notes the monotonic moment a process ends, from a thread blocked in wait."""

    def __init__(self, process):
        self.process = process
        self.exited_at = None
        self.thread = threading.Thread(target=self._wait, daemon=True)
        self.thread.start()

    def _wait(self):
        self.process.wait()
        self.exited_at = time.monotonic()

    def join(self, timeout_s):
        self.thread.join(timeout_s)
        return self.exited_at


def cpu_seconds(pid):
    """User and system time of the process so far, all its threads."""
    try:
        with open(f'/proc/{pid}/stat') as stat:
            fields = stat.read().rsplit(')', 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf('SC_CLK_TCK')
    except (FileNotFoundError, ProcessLookupError, IndexError, ValueError):
        return None


def cpu_seconds_by_thread(pid):
    """Thread id -> user and system time so far."""
    times = {}
    try:
        for task in os.listdir(f'/proc/{pid}/task'):
            with open(f'/proc/{pid}/task/{task}/stat') as stat:
                fields = stat.read().rsplit(')', 1)[1].split()
            times[int(task)] = (int(fields[11]) + int(fields[12])) / os.sysconf('SC_CLK_TCK')
    except (FileNotFoundError, ProcessLookupError, IndexError, ValueError):
        pass
    return times


def resident_kb(pid):
    try:
        with open(f'/proc/{pid}/status') as status:
            for line in status:
                if line.startswith('VmRSS:'):
                    return int(line.split()[1])
    except (FileNotFoundError, ProcessLookupError):
        pass
    return None


MAP_WINE_PORTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'wine', 'map_ports.sh')


def wineserver_pid():
    """The server of this sandbox's prefix (it runs as wineserver64 on 64-bit Debian; other prefixes have their own)."""
    result = subprocess.run(['pgrep', '^wineserver'], capture_output=True, text=True)
    wanted = f'WINEPREFIX={os.environ.get("WINEPREFIX", "")}'.encode()
    for pid in result.stdout.split():
        try:
            with open(f'/proc/{pid}/environ', 'rb') as environ:
                if wanted in environ.read().split(b'\0'):
                    return int(pid)
        except OSError:
            pass
    return None


class Run:
    """One logger run in its own folder against its own simulator."""

    def __init__(self, build, processes, folder, logger_path=None, wine_exe=None):
        self.build = build
        self.processes = processes
        self.folder = folder
        self.ports = os.path.join(folder, 'ports')
        self.run_dir = os.path.join(folder, 'run')
        self.log = os.path.join(folder, 'modsim.log')
        self.logger_path = logger_path or os.path.join(build, 'logger')
        self.wine_exe = wine_exe
        os.makedirs(self.ports)
        os.makedirs(self.run_dir)
        self.window = None
        self.logger = None
        self.started_at = None

    def start_modsim(self):
        self.processes.start([os.path.join(self.build, 'modsim'), '--ports-dir', self.ports, '--port', str(PORT),
                              '--values', '1000,700,800', '--log', self.log],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_until(lambda: os.path.exists(os.path.join(self.ports, f'COM{PORT}')), 10):
            raise RuntimeError('modsim did not create its port')

    def start_logger(self, scale=None):
        environment = dict(os.environ, LOGGER_PORTS=self.ports)
        environment.pop('LOGGER_WINDOW', None)
        if scale:
            environment['GDK_SCALE'] = str(scale)  # the desktop's stated scale (Linux)
        command = [self.logger_path]
        if self.wine_exe:
            # The simulator's pseudo-terminal becomes Wine's COM3; the wine
            # command's process becomes logger.exe's own.
            port = os.path.realpath(os.path.join(self.ports, f'COM{PORT}'))
            subprocess.run(['bash', MAP_WINE_PORTS, f'COM{PORT}={port}'], check=True)
            command = ['wine', self.wine_exe]
        self.started_at = time.monotonic()
        self.logger = self.processes.start(command, cwd=self.run_dir, env=environment,
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def find_window(self):
        def found():
            result = subprocess.run(['xdotool', 'search', '--name', '^logger$'], capture_output=True, text=True)
            ids = result.stdout.split()
            if ids:
                self.window = ids[0]
            return bool(ids)
        if not wait_until(found, 10, 0.02):
            raise RuntimeError('the logger window did not appear')

    def focus(self):
        # A window just found may not be mapped yet, and cannot take the focus until it is.
        if not wait_until(lambda: subprocess.run(['xdotool', 'windowfocus', '--sync', self.window],
                                                 stderr=subprocess.DEVNULL).returncode == 0, 5, 0.1):
            raise RuntimeError('the logger window did not take the focus')

    def type_line(self, text):
        self.focus()
        subprocess.run(['xdotool', 'type', '--delay', '30', text], check=True)
        subprocess.run(['xdotool', 'key', 'Return'], check=True)

    def answer_prompts(self, minutes=1):
        """Port, then (after the link test) a run of that length in volts; returns when sampling has begun."""
        self.type_line(str(PORT))
        if not wait_until(lambda: requests_logged(self.log) >= LINK_TEST_EXCHANGES, 20, 0.05):
            raise RuntimeError('the link test did not finish')
        time.sleep(0.3)
        self.type_line(str(minutes))
        self.type_line('V')
        if not wait_until(lambda: requests_logged(self.log) > LINK_TEST_EXCHANGES, 20, 0.01):
            raise RuntimeError('sampling did not begin')

    def snapshot_saved(self):
        path = os.path.join(self.run_dir, 'BMP001.BMP')
        return os.path.exists(path) and os.path.getsize(path) == SNAPSHOT_BYTES

    def data_seconds(self):
        """The Seconds column of the data rows."""
        path = os.path.join(self.run_dir, 'DATA001.CSV')
        rows = open(path, 'rb').read().split(b'\r\n')[1:]
        return [float(row.split(b',')[1]) for row in rows if row.count(b',') == 13]


def summary_text(values_ms):
    ordered = sorted(values_ms)
    p99 = lateness.percentile(ordered, 0.99)
    return f'median {statistics.median(ordered):.3f} p99 {p99:.3f} max {ordered[-1]:.3f} (n {len(ordered)})'


def measure_minute(args, processes):
    folder = tempfile.mkdtemp(prefix='bench_minute_')
    try:
        run = Run(args.build, processes, folder, args.logger, args.wine)
        run.start_modsim()
        run.start_logger()
        run.find_window()
        run.answer_prompts(args.minutes)
        server = wineserver_pid() if args.wine else None
        server_first = cpu_seconds(server) if server else None
        interval_s = args.minutes * 60.0 / 720.0
        watch = ExitWatch(run.logger)
        samples = []
        cpu_first = (time.monotonic(), cpu_seconds(run.logger.pid))
        cpu_last = cpu_first
        while watch.exited_at is None and time.monotonic() - run.started_at < 721 * interval_s + 60:
            kb = resident_kb(run.logger.pid)
            if kb is not None:
                samples.append(kb)
            cpu = cpu_seconds(run.logger.pid)
            if cpu is not None and watch.exited_at is None:
                cpu_last = (time.monotonic(), cpu)
            time.sleep(0.25)
        exited_at = watch.join(5)
        if exited_at is None or run.logger.returncode != 0:
            raise RuntimeError('the logger did not end the run by itself')
        start, late_ms = lateness.column_lateness_ms(lateness.request_times(run.log), interval_s)
        print(f'columns {len(late_ms) + 1}')
        print(f'lateness_ms {summary_text(late_ms)}')
        print(f'lateness_earliest_fit_ms {summary_text(lateness.against_earliest_fit(late_ms))}')
        ideal_end = start + 721.0 * interval_s + 1.0
        picture = os.path.join(run.run_dir, 'BMP001.BMP')
        picture_at = os.stat(picture).st_mtime_ns * 1e-9 - lateness.wall_minus_monotonic_s(run.log)
        print(f'picture_written_ms beyond_ideal {(picture_at - ideal_end) * 1e3:.1f}')
        print(f'run_end_ms after_start {(exited_at - start) * 1e3:.1f} beyond_ideal {(exited_at - ideal_end) * 1e3:.1f}')
        seconds = run.data_seconds()
        beyond = [(s - k * interval_s - 0.050) * 1e3 for k, s in enumerate(seconds) if k > 0]
        print(f'row2_seconds {seconds[1]:.4f}')
        print(f'row_seconds_beyond_schedule_and_wait_ms {summary_text(beyond)}')
        quarter = max(1, len(samples) // 4)
        print(f'resident_kb first {samples[0]} max {max(samples)} last {samples[-1]} '
              f'first_quarter_max {max(samples[:quarter])} last_quarter_max {max(samples[-quarter:])}')
        print(f'snapshot_saved {run.snapshot_saved()}')
        cpu_s = cpu_last[1] - cpu_first[1] if cpu_first[1] is not None else float('nan')
        print(f'cpu_share_during_sampling_percent {100.0 * cpu_s / max(cpu_last[0] - cpu_first[0], 1e-9):.2f} '
              f'(cpu {cpu_s:.2f} s of {cpu_last[0] - cpu_first[0]:.1f} s)')
        server_last = cpu_seconds(server) if server else None
        if server_first is not None and server_last is not None:
            # Wine's server does part of each system call's work for the program.
            print(f'wineserver_cpu_share_percent {100.0 * (server_last - server_first) / (exited_at - cpu_first[0]):.2f}')
    finally:
        processes.stop_all()
        if not args.keep:
            shutil.rmtree(folder, ignore_errors=True)


def set_wine_scale(scale):
    """The DPI Wine gives its programs is LogPixels (96 per whole scale); it is read when the server starts."""
    subprocess.run(['wine', 'reg', 'add', r'HKCU\Control Panel\Desktop', '/v', 'LogPixels', '/t', 'REG_DWORD',
                    '/d', str(96 * scale), '/f'], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(['wineserver', '-k'], check=False)
    subprocess.run(['wineserver', '-w'], check=False)


def window_size(window):
    result = subprocess.run(['xdotool', 'getwindowgeometry', window], capture_output=True, text=True)
    found = re.search(r'Geometry: (\d+x\d+)', result.stdout)
    return found.group(1) if found else 'unknown'


def measure_share(args, processes):
    if args.wine:
        set_wine_scale(args.scale or 1)
    folder = tempfile.mkdtemp(prefix='bench_share_')
    try:
        run = Run(args.build, processes, folder, args.logger, args.wine)
        run.start_modsim()
        run.start_logger(None if args.wine else args.scale)
        run.find_window()
        run.answer_prompts(args.minutes)
        if args.full_screen:
            run.focus()
            subprocess.run(['xdotool', 'key', 'F11'], check=True)
            time.sleep(1.0)
            screen = subprocess.run(['xdotool', 'getdisplaygeometry'], capture_output=True, text=True).stdout.split()
            if window_size(run.window) != 'x'.join(screen):
                # Without a window manager (a bare Xvfb) nobody grants full screen: a window of the
                # screen's size at its corner shows the same picture.
                subprocess.run(['xdotool', 'windowsize', run.window, *screen], check=True)
                subprocess.run(['xdotool', 'windowmove', run.window, '0', '0'], check=True)
                print('full_screen_by_resize True')
        time.sleep(3.0)  # past the first columns and any resize
        server = wineserver_pid() if args.wine else None
        first = (time.monotonic(), cpu_seconds(run.logger.pid), cpu_seconds(server) if server else None)
        threads_first = cpu_seconds_by_thread(run.logger.pid)
        time.sleep(args.sample_s)
        last = (time.monotonic(), cpu_seconds(run.logger.pid), cpu_seconds(server) if server else None)
        threads = cpu_seconds_by_thread(run.logger.pid)
        print(f'window_size {window_size(run.window)}')
        wall_s = last[0] - first[0]
        if first[1] is None or last[1] is None:
            raise RuntimeError('the logger ended before its sample was taken')
        print(f'cpu_share_during_sampling_percent {100.0 * (last[1] - first[1]) / wall_s:.2f} '
              f'(cpu {last[1] - first[1]:.2f} s of {wall_s:.1f} s)')
        # The busiest threads' shares: the program's thread is the one whose id is the pid.
        busiest = sorted(((threads[t] - threads_first.get(t, 0.0), t) for t in threads), reverse=True)[:3]
        print('cpu_share_by_thread_percent ' + ' '.join(
            f'{"program" if t == run.logger.pid else "other"}:{100.0 * used / wall_s:.2f}' for used, t in busiest))
        if first[2] is not None and last[2] is not None:
            print(f'wineserver_cpu_share_percent {100.0 * (last[2] - first[2]) / wall_s:.2f}')
        run.focus()
        subprocess.run(['xdotool', 'key', 'Escape'], check=True)
        if ExitWatch(run.logger).join(10) is None:
            raise RuntimeError('the logger did not exit after ESC')
    finally:
        processes.stop_all()
        if args.wine:
            set_wine_scale(1)
        if not args.keep:
            shutil.rmtree(folder, ignore_errors=True)


def measure_escape(args, processes):
    start_up_ms = []
    escape_from_launch_ms = []
    escape_after_key_tool_ms = []
    saved = 0
    for attempt in range(args.runs):
        folder = tempfile.mkdtemp(prefix='bench_escape_')
        try:
            run = Run(args.build, processes, folder, args.logger, args.wine)
            run.start_modsim()
            watch_prompt = None
            if args.window_watch:
                x, y, w, h = PROMPT_REGION
                watch_prompt = processes.start([args.window_watch, 'logger', str(x), str(y), str(w), str(h),
                                                '15000', '500'], stdout=subprocess.PIPE, text=True)
                time.sleep(0.2)  # the watcher is polling before the logger starts
            run.start_logger()
            if watch_prompt is not None:
                output, _ = watch_prompt.communicate(timeout=20)
                shown = re.search(r'^shown (\S+)$', output, re.M)
                if shown:
                    start_up_ms.append((float(shown.group(1)) - run.started_at) * 1e3)
            run.find_window()
            run.answer_prompts()
            time.sleep(1.0)  # well inside the sampling loop
            run.focus()
            watch = ExitWatch(run.logger)
            launched_at = time.monotonic()
            subprocess.run(['xdotool', 'key', 'Escape'], check=True)
            key_tool_done_at = time.monotonic()
            exited_at = watch.join(10)
            if exited_at is None:
                raise RuntimeError('the logger did not exit after ESC')
            escape_from_launch_ms.append((exited_at - launched_at) * 1e3)
            escape_after_key_tool_ms.append((exited_at - key_tool_done_at) * 1e3)
            saved += 1 if run.snapshot_saved() else 0
        finally:
            processes.stop_all()
            if not args.keep:
                shutil.rmtree(folder, ignore_errors=True)
    if start_up_ms:
        print(f'start_up_to_prompt_ms {summary_text(start_up_ms)}')
    print(f'escape_to_exit_from_key_tool_launch_ms {summary_text(escape_from_launch_ms)}')
    print(f'escape_to_exit_after_key_tool_ended_ms {summary_text(escape_after_key_tool_ms)}')
    print(f'escape_snapshots_saved {saved} of {args.runs}')
    print('escape_runs_ms ' + ' '.join(f'{launch:.1f}/{after:.1f}'
                                       for launch, after in zip(escape_from_launch_ms, escape_after_key_tool_ms)))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('mode', choices=['minute', 'escape', 'share'])
    parser.add_argument('--build', required=True, help='build folder with logger and modsim')
    parser.add_argument('--logger', help='another logger program to measure (default: the build\'s)')
    parser.add_argument('--wine', help='logger.exe to measure under Wine (inside tests/wine/sandbox.sh)')
    parser.add_argument('--window-watch', help='the window_watch program, for the start-up figure')
    parser.add_argument('--runs', type=int, default=5)
    parser.add_argument('--minutes', type=int, choices=[1, 60, 1440], default=1, help='run length of the minute mode')
    parser.add_argument('--keep', action='store_true', help='keep the run folders')
    parser.add_argument('--sample-s', type=float, default=120.0, help='how long the share mode measures')
    parser.add_argument('--scale', type=int, help='the window scale the desktop states (GDK_SCALE; Wine: LogPixels)')
    parser.add_argument('--full-screen', action='store_true', help='F11 once sampling has begun')
    args = parser.parse_args(argv)
    args.build = os.path.abspath(args.build)
    args.logger = os.path.abspath(args.logger) if args.logger else None
    args.wine = os.path.abspath(args.wine) if args.wine else None
    args.window_watch = os.path.abspath(args.window_watch) if args.window_watch else None
    if not os.environ.get('DISPLAY'):
        print('logger_runs: DISPLAY is not set', file=sys.stderr)
        return 2
    processes = Processes()
    try:
        if args.mode == 'minute':
            measure_minute(args, processes)
        elif args.mode == 'share':
            measure_share(args, processes)
        else:
            measure_escape(args, processes)
    finally:
        processes.stop_all()
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
