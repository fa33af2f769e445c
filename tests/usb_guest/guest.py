"""A small QEMU guest whose own Linux kernel drives an emulated FTDI USB serial adapter, with build/modsim
answering on its far side: the programs meet a real tty driver that can lose its cable and go to sleep."""
import base64
import glob
import io
import os
import re
import shutil
import socket
import subprocess
import tarfile
import time

# In load order: each needs the ones before it.
MODULES = ['common/usb-common', 'core/usbcore', 'host/xhci-hcd', 'host/xhci-pci', 'serial/usbserial', 'serial/ftdi_sio']
# A serial number of its own, as a real chip has: without one QEMU makes it from
# the USB port, and a replug, which lands on the next port, would be another adapter.
ADAPTER = 'usb-serial,id=ftdi0,chardev=ser0,bus=xhci.0,serial=FT4LOG01'
# The 50 ms reply window is real time: where allowed, the guest goes before background work.
PRIORITY = (lambda: os.nice(-10)) if os.geteuid() == 0 else None
# The programs' folder in the guest: their build paths may lie below /tmp, a tmpfs there.
PROGRAMS = '/opt/serial-logger'

# The case's files go to the console as a base64 tarball between marker lines.
INIT = r'''#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin programs=%s
mkdir -p /proc /sys /tmp /out; mount -t proc proc /proc; mount -t sysfs sysfs /sys; mount -t tmpfs tmpfs /tmp
mount -t devtmpfs devtmpfs /dev; mkdir -p /dev/pts; mount -t devpts devpts /dev/pts
for module in /modules/*.ko; do insmod $module; done
for i in $(seq 300); do [ -e /dev/ttyUSB0 ] && break; sleep 0.1; done
cd /out
%s
# Kernel messages now would break the lines of the files.
echo 1 >/proc/sys/kernel/printk
echo "@@ files"; tar -c . | gzip | base64; echo "@@ end of files"
poweroff -f
'''


class Skip(Exception):
    """The guest cannot be built on this machine (a package is missing)."""


def _download(cache, package, members):
    """Extracts the members (tar wildcards) of a Debian package into cache/<package>/ once; returns that folder."""
    folder = os.path.join(cache, package)
    if not os.path.exists(folder + '/.extracted'):
        fetched = subprocess.run(['apt-get', 'download', package], cwd=cache, capture_output=True, text=True)
        if fetched.returncode != 0:
            raise Skip('cannot download %s: %s' % (package, fetched.stderr.strip()))
        deb = glob.glob('%s/%s_*.deb' % (cache, package))[0]
        os.makedirs(folder, exist_ok=True)
        subprocess.run("dpkg-deb --fsys-tarfile '%s' | tar -x -C '%s' --wildcards '%s'" % (
            deb, folder, "' '".join(members)), shell=True, check=True)
        os.remove(deb)
        open(folder + '/.extracted', 'w').close()
    return folder


def guest_parts(build_dir):
    """The kernel image, its module folder and a static busybox, downloaded once per build folder."""
    for tool in ('qemu-system-x86_64', 'cpio', 'apt-get', 'dpkg-deb'):
        if shutil.which(tool) is None:
            raise Skip('%s is not installed (scripts/setup --guest)' % tool)
    cache = os.path.abspath(os.path.join(build_dir, 'usb-guest-cache'))
    os.makedirs(cache, exist_ok=True)
    depends = subprocess.run(['apt-cache', 'depends', 'linux-image-amd64'], capture_output=True, text=True).stdout
    package = re.search(r'Depends: (linux-image-\S+)', depends)
    if package is None:
        raise Skip('apt-cache names no kernel package for linux-image-amd64 (apt-get update first)')
    kernel = _download(cache, package.group(1), ['./boot/vmlinuz-*'] + ['*/usb/%s.ko' % name for name in MODULES])
    vmlinuz = glob.glob(kernel + '/boot/vmlinuz-*')[0]
    modules = '%s/lib/modules/%s/kernel/drivers/usb' % (kernel, os.path.basename(vmlinuz)[len('vmlinuz-'):])
    return vmlinuz, modules, _download(cache, 'busybox-static', ['./bin/busybox']) + '/bin/busybox'


def _make_initrd(folder, build_dir, case_script):
    """The init script, busybox, the modules, and logger and comscan with every library ldd names."""
    vmlinuz, modules, busybox = guest_parts(build_dir)
    root = os.path.join(folder, 'root')
    files = [(busybox, '/bin/busybox')]
    # Numbered so that the init script's glob loads them in order.
    files += [('%s/%s.ko' % (modules, name), '/modules/%d.ko' % number) for number, name in enumerate(MODULES)]
    for program in (os.path.abspath(os.path.join(build_dir, name)) for name in ('logger', 'comscan')):
        files.append((program, PROGRAMS + '/' + os.path.basename(program)))
        libraries = re.findall(r'(/\S+) \(0x', subprocess.check_output(['ldd', program], text=True))
        files += [(library, os.path.abspath(library)) for library in libraries]
    for source, target in files:
        os.makedirs(os.path.dirname(root + target), exist_ok=True)
        shutil.copy(source, root + target)
    with open(root + '/init', 'w') as init:
        init.write(INIT % (PROGRAMS, case_script))
    os.chmod(root + '/init', 0o755)
    subprocess.run('find . | cpio -o -H newc --quiet | gzip -1 >../initrd.gz', shell=True, check=True, cwd=root)
    shutil.rmtree(root)
    return vmlinuz, os.path.join(folder, 'initrd.gz')


class Guest:
    """One boot: QEMU with the adapter, modsim on its socket, the console in console.log."""

    def __init__(self, build_dir, name, case_script):
        self.folder = os.path.abspath(os.path.join(build_dir, 'usb-guest', name))
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        self.started = time.monotonic()
        vmlinuz, initrd = _make_initrd(self.folder, build_dir, case_script)
        serial = self.path('ser.sock')
        self.modsim = subprocess.Popen(
            [os.path.join(build_dir, 'modsim'), '--socket', serial, '--log', self.path('modsim.log')],
            stdout=open(self.path('modsim.out'), 'w'), stderr=subprocess.STDOUT, env=dict(os.environ, TZ='UTC'),
            preexec_fn=PRIORITY)
        self.qemu = subprocess.Popen(
            ['qemu-system-x86_64', '-accel', 'tcg', '-m', '768', '-smp', '1', '-nographic', '-no-reboot',
             '-kernel', vmlinuz, '-initrd', initrd, '-append', 'console=ttyS0 quiet panic=-1',
             '-device', 'qemu-xhci,id=xhci', '-chardev', 'socket,id=ser0,path=%s,server=on,wait=off' % serial,
             '-device', ADAPTER, '-monitor', 'unix:%s,server,nowait' % self.path('mon.sock')],
            stdin=subprocess.DEVNULL, stdout=open(self.path('console.log'), 'wb'), stderr=subprocess.STDOUT,
            preexec_fn=PRIORITY)
        self.monitor = socket.socket(socket.AF_UNIX)
        self.until(lambda: self.monitor.connect_ex(self.path('mon.sock')) == 0, 'the monitor socket', 30)
        self.monitor.settimeout(10)
        self.command(None)

    def path(self, name):
        return os.path.join(self.folder, name)

    def console(self):
        """The console's whole lines so far."""
        with open(self.path('console.log'), encoding='latin-1') as console:
            return console.read().replace('\r', '').split('\n')[:-1]

    def fail(self, why):
        self.kill()
        raise AssertionError('%s (%.0f s into the boot); the console ended:\n%s' % (
            why, time.monotonic() - self.started, '\n'.join(self.console()[-40:])))

    def until(self, done, waiting_for, timeout_s):
        """Polls done() until it returns a true value, and returns that; fails if the guest ends first."""
        until = time.monotonic() + timeout_s
        while True:
            ended = self.qemu.poll() is not None
            value = done()
            if value:
                return value
            if ended or time.monotonic() > until:
                self.fail('%s waiting for %s' % ('the guest ended' if ended else 'time ran out', waiting_for))
            time.sleep(0.1)

    def wait_line(self, pattern, timeout_s, since=0):
        """The first console line from line number `since` on that matches: its line number and the match."""
        return self.until(lambda: next(((index, match) for index, match in enumerate(
            map(re.compile(pattern).search, self.console())) if match and index >= since), None),
            '"%s" on the console' % pattern, timeout_s)

    def command(self, text):
        """Sends a monitor command (None: none) and returns the monitor's reply."""
        if text:
            self.monitor.sendall(text.encode() + b'\n')
        reply = b''
        while not reply.endswith(b'(qemu) '):
            chunk = self.monitor.recv(4096)
            if not chunk:
                self.fail('the monitor closed')
            reply += chunk
        return reply.decode('latin-1')

    def finish(self):
        """Waits for the guest to power off and unpacks the files its case left into out/."""
        self.until(lambda: self.qemu.poll() is not None, 'the guest to power off', 180)
        text = '\n'.join(self.console())
        if '\n@@ end of files' not in text:
            self.fail('the guest printed no files')
        encoded = text.split('@@ files\n')[1].split('\n@@ end of files')[0]
        with tarfile.open(fileobj=io.BytesIO(base64.b64decode(encoded)), mode='r:gz') as archive:
            archive.extractall(self.path('out'))

    def kill(self):
        for process in (self.qemu, self.modsim):
            if process.poll() is None:
                process.kill()
                process.wait()
