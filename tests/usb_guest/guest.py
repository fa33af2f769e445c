"""A small QEMU guest whose own Linux kernel drives an emulated FTDI USB serial
adapter, with build/modsim answering on the adapter's far side: the programs
under test meet a real tty driver that can lose its cable and go to sleep."""
import base64
import io
import os
import re
import shutil
import socket
import subprocess
import tarfile
import threading
import time

# Load order matters: each needs the ones before it.
MODULES = ['drivers/usb/common/usb-common.ko', 'drivers/usb/core/usbcore.ko', 'drivers/usb/host/xhci-hcd.ko',
           'drivers/usb/host/xhci-pci.ko', 'drivers/usb/serial/usbserial.ko', 'drivers/usb/serial/ftdi_sio.ko']
# A serial number of its own, as a real chip has: without one QEMU makes it from
# the USB port, and a replug, which lands on the next port, would be another adapter.
ADAPTER = 'usb-serial,id=ftdi0,chardev=ser0,bus=xhci.0,serial=FT4LOG01'

INIT = r'''#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /out
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /tmp
for module in /modules/*.ko; do insmod "$module"; done
for i in $(seq 300); do [ -e /dev/ttyUSB0 ] && break; sleep 0.1; done
echo "@@ ready $(ls /dev/ttyUSB* 2>/dev/null)"
cd /out
sh /case.sh
echo "@@ case ended $?"
# Kernel messages now would break the lines of the files.
echo 1 >/proc/sys/kernel/printk
echo "@@ files"
tar -c . | gzip | base64
echo "@@ end of files"
poweroff -f
'''


class Skip(Exception):
    """The guest cannot be built on this machine (a package is missing)."""


class GuestFailure(Exception):
    pass


def _run(command, **kwargs):
    return subprocess.run(command, check=True, capture_output=True, text=True, **kwargs).stdout


def _download(cache, package, members):
    """Extracts the members (tar wildcards) of a Debian package into cache/<package>/
    once; returns that folder."""
    folder = os.path.join(cache, package)
    if os.path.exists(os.path.join(folder, '.extracted')):
        return folder
    try:
        _run(['apt-get', 'download', package], cwd=cache)
    except (OSError, subprocess.CalledProcessError) as error:
        raise Skip('cannot download %s: %s' % (package, getattr(error, 'stderr', error)))
    deb = [name for name in os.listdir(cache) if name.startswith(package + '_') and name.endswith('.deb')][0]
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    subprocess.run('dpkg-deb --fsys-tarfile "%s" | tar -x -C "%s" --wildcards %s' % (
        deb, folder, ' '.join("'%s'" % member for member in members)), shell=True, check=True, cwd=cache)
    os.remove(os.path.join(cache, deb))
    open(os.path.join(folder, '.extracted'), 'w').close()
    return folder


def guest_parts(build_dir):
    """The kernel image, its module folder and a static busybox, downloaded once per build folder."""
    for tool in ('qemu-system-x86_64', 'cpio', 'apt-get', 'dpkg-deb'):
        if shutil.which(tool) is None:
            raise Skip('%s is not installed (scripts/setup --guest)' % tool)
    cache = os.path.abspath(os.path.join(build_dir, 'usb-guest-cache'))
    os.makedirs(cache, exist_ok=True)
    try:
        depends = _run(['apt-cache', 'depends', 'linux-image-amd64'])
    except subprocess.CalledProcessError as error:
        raise Skip('apt-cache knows no linux-image-amd64 (apt-get update first): %s' % error.stderr.strip())
    match = re.search(r'Depends: (linux-image-\S+)', depends)
    if match is None:
        raise Skip('apt-cache names no kernel package for linux-image-amd64')
    kernel = _download(cache, match.group(1), ['./boot/vmlinuz-*'] + ['*/kernel/' + module for module in MODULES])
    busybox = os.path.join(_download(cache, 'busybox-static', ['./bin/busybox']), 'bin', 'busybox')
    vmlinuz = [name for name in os.listdir(os.path.join(kernel, 'boot')) if name.startswith('vmlinuz-')][0]
    release = vmlinuz[len('vmlinuz-'):]
    return os.path.join(kernel, 'boot', vmlinuz), os.path.join(kernel, 'lib', 'modules', release, 'kernel'), busybox


# Where the programs under test are in the guest: not their build paths, which
# may lie below /tmp, where the guest mounts a tmpfs of its own.
PROGRAMS_DIR = '/opt/serial-logger'


def _copy_with_libraries(program, root):
    """Copies a program into PROGRAMS_DIR in root, with every shared library ldd names
    (the loader too) at its own path."""
    os.makedirs(root + PROGRAMS_DIR, exist_ok=True)
    shutil.copy(program, root + PROGRAMS_DIR)
    for path in re.findall(r'(/\S+) \(0x', _run(['ldd', program])):
        target = root + os.path.abspath(path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy(path, target)


def _prioritise():
    try:
        os.nice(-10)
    except OSError:
        pass


def make_initramfs(folder, build_dir, case_script):
    vmlinuz, modules, busybox = guest_parts(build_dir)
    root = os.path.join(folder, 'root')
    shutil.rmtree(root, ignore_errors=True)
    for sub in ('bin', 'modules', 'proc', 'sys', 'dev', 'tmp'):
        os.makedirs(os.path.join(root, sub))
    shutil.copy(busybox, os.path.join(root, 'bin', 'busybox'))
    for number, module in enumerate(MODULES):
        # Numbered so that the init script's glob loads them in this order.
        loaded_as = '%d-%s' % (number, os.path.basename(module))
        shutil.copy(os.path.join(modules, module), os.path.join(root, 'modules', loaded_as))
    for program in ('logger', 'comscan'):
        _copy_with_libraries(os.path.abspath(os.path.join(build_dir, program)), root)
    for name, text in (('init', INIT), ('case.sh', case_script)):
        with open(os.path.join(root, name), 'w') as script:
            script.write(text)
        os.chmod(os.path.join(root, name), 0o755)
    initrd = os.path.join(folder, 'initrd.gz')
    subprocess.run('find . | cpio -o -H newc --quiet | gzip -1 >"%s"' % initrd, shell=True, check=True, cwd=root)
    shutil.rmtree(root)
    return vmlinuz, initrd


class Guest:
    """One boot: QEMU with the adapter, modsim on its socket, the console read line by line.
    Every wait counts against one time limit; past it the guest is killed and the
    failure carries the console's tail."""

    def __init__(self, build_dir, name, case_script, modsim_args=(), time_limit_s=300):
        self.folder = os.path.abspath(os.path.join(build_dir, 'usb-guest', name))
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        self.build_dir = build_dir
        self.deadline = time.monotonic() + time_limit_s
        self.lines = []
        self.console_closed = False
        self.changed = threading.Condition()
        self.started = time.monotonic()
        vmlinuz, initrd = make_initramfs(self.folder, build_dir, case_script)
        serial_socket, monitor_socket = self.path('ser.sock'), self.path('mon.sock')
        self.modsim = subprocess.Popen(
            [os.path.join(build_dir, 'modsim'), '--socket', serial_socket, '--log', self.path('modsim.log')]
            + list(modsim_args), stdout=open(self.path('modsim.out'), 'w'), stderr=subprocess.STDOUT,
            env=dict(os.environ, TZ='UTC'), preexec_fn=_prioritise)
        # The 50 ms reply window is real time: where allowed, the guest goes before
        # background work on a busy machine.
        self.qemu = subprocess.Popen(
            ['qemu-system-x86_64', '-accel', 'tcg', '-m', '768', '-smp', '1', '-nographic', '-no-reboot',
             '-kernel', vmlinuz, '-initrd', initrd, '-append', 'console=ttyS0 quiet panic=-1',
             '-device', 'qemu-xhci,id=xhci',
             '-chardev', 'socket,id=ser0,path=%s,server=on,wait=off' % serial_socket, '-device', ADAPTER,
             '-monitor', 'unix:%s,server,nowait' % monitor_socket],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, preexec_fn=_prioritise)
        threading.Thread(target=self._read_console, daemon=True).start()
        self.monitor = None
        while self.monitor is None:
            try:
                self.monitor = socket.socket(socket.AF_UNIX)
                self.monitor.connect(monitor_socket)
            except OSError:
                self.monitor = None
                self._check_time('the monitor socket')
                time.sleep(0.05)
        self._monitor_reply()

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.kill()

    def path(self, name):
        return os.path.join(self.folder, name)

    def _read_console(self):
        with open(self.path('console.log'), 'wb') as log:
            for raw in self.qemu.stdout:
                log.write(raw)
                log.flush()
                with self.changed:
                    self.lines.append(raw.decode('latin-1').rstrip('\r\n'))
                    self.changed.notify_all()
        with self.changed:
            self.console_closed = True
            self.changed.notify_all()

    def elapsed_s(self):
        return time.monotonic() - self.started

    def fail(self, why):
        self.kill()
        tail = '\n'.join(self.lines[-40:])
        raise GuestFailure('%s (%.0f s into the boot); the console ended:\n%s' % (why, self.elapsed_s(), tail))

    def _check_time(self, waiting_for):
        if time.monotonic() > self.deadline:
            self.fail('time limit reached waiting for ' + waiting_for)

    def wait_line(self, pattern, timeout_s=60, since=0):
        """Waits for a console line from line number `since` on that matches pattern;
        returns its line number and the match."""
        expression = re.compile(pattern)
        until = min(self.deadline, time.monotonic() + timeout_s)
        seen = since
        with self.changed:
            while True:
                for index in range(seen, len(self.lines)):
                    match = expression.search(self.lines[index])
                    if match:
                        return index, match
                seen = len(self.lines)
                if self.console_closed:
                    self.fail('the guest ended before "%s"' % pattern)
                if time.monotonic() > until:
                    self.fail('no "%s" on the console' % pattern)
                self.changed.wait(0.5)

    def requests_logged(self):
        return open(self.path('modsim.log'), encoding='latin-1').read().count(' request ')

    def _monitor_reply(self):
        reply = b''
        self.monitor.settimeout(10)
        while not reply.endswith(b'(qemu) '):
            chunk = self.monitor.recv(4096)
            if not chunk:
                self.fail('the monitor closed')
            reply += chunk
        return reply.decode('latin-1')

    def command(self, text):
        self.monitor.sendall(text.encode() + b'\n')
        return self._monitor_reply()

    def pull(self):
        self.command('device_del ftdi0')

    def plug(self):
        self.command('device_add ' + ADAPTER)

    def wake_after(self, asleep_s, timeout_s=60):
        """Waits until the guest has suspended itself to RAM, leaves it asleep for asleep_s, wakes it."""
        until = min(self.deadline, time.monotonic() + timeout_s)
        while 'suspended' not in self.command('info status'):
            if time.monotonic() > until:
                self.fail('the guest did not suspend')
            time.sleep(0.2)
        time.sleep(asleep_s)
        self.command('system_wakeup')

    def finish(self):
        """Waits for the case to end and the guest to power off; returns the case's exit
        status and the files it left in its folder (name -> bytes)."""
        status = int(self.wait_line(r'^@@ case ended (\d+)', self.deadline - time.monotonic())[1].group(1))
        self.wait_line(r'^@@ end of files', 60)
        try:
            self.qemu.wait(max(1, self.deadline - time.monotonic()))
        except subprocess.TimeoutExpired:
            self.fail('the guest did not power off')
        self.kill()
        text = '\n'.join(self.lines)
        encoded = text[text.index('@@ files\n') + len('@@ files\n'):text.index('\n@@ end of files')]
        files = {}
        with tarfile.open(fileobj=io.BytesIO(base64.b64decode(encoded)), mode='r:gz') as archive:
            for member in archive.getmembers():
                if member.isfile():
                    files[os.path.normpath(member.name)] = archive.extractfile(member).read()
        for name, data in files.items():
            os.makedirs(os.path.dirname(self.path('out/' + name)), exist_ok=True)
            with open(self.path('out/' + name), 'wb') as copy:
                copy.write(data)
        return status, files

    def kill(self):
        for process in (self.qemu, self.modsim):
            if process.poll() is None:
                process.kill()
                process.wait()
