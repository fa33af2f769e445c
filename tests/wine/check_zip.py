#!/usr/bin/env python3
"""Checks the Windows zip: exactly logger.exe, comscan.exe, README.txt and
LICENSE at its top, the programs as Windows programs with a version resource, the texts with Windows
line ends, the licence named in the quick start, and the quick start's advice
to extract first, past the unknown-program warning and to the COM number. Exits 77 when there is no
zip (scripts/build-windows makes it)."""
import os
import sys
import zipfile

path = sys.argv[1]
if not os.path.exists(path):
    print(f'SKIP: {path} is not there; scripts/build-windows makes it')
    sys.exit(77)
with zipfile.ZipFile(path) as archive:
    names = sorted(archive.namelist())
    assert names == ['LICENSE', 'README.txt', 'comscan.exe', 'logger.exe'], names
    for program in ('logger.exe', 'comscan.exe'):
        assert archive.read(program)[:2] == b'MZ', f'{program} is no Windows program'
        assert 'Serial Data Logger'.encode('utf-16-le') in archive.read(program), f'{program} has no version resource'
    for text in ('README.txt', 'LICENSE'):
        data = archive.read(text)
        assert data.count(b'\r\n') == data.count(b'\n') > 0, f'{text} has line ends other than CR LF'
    assert b'GNU GENERAL PUBLIC LICENSE' in archive.read('LICENSE')
    readme = archive.read('README.txt')
    assert b'General Public License' in readme and b'console-data' in readme, 'README.txt names no licence'
    for advice in (b'Extract All', b'"Run anyway"', b'"Ports (COM & LPT)"', b'programming editor'):
        assert advice in readme.replace(b'\r\n', b' '), f'README.txt lacks {advice!r}'
print(f'{path}: {", ".join(names)}')
