#!/usr/bin/env python3
"""Checks that two whole one-minute runs given the same replies wrote the same
files: DATA001.CSV equal but for the time of day and the seconds, BMP001.BMP
equal but for the elapsed-time readout (text row 3, columns 30 to 52).

  compare_runs.py FOLDER_A FOLDER_B [NAME_A NAME_B]"""
import sys

a_dir, b_dir = sys.argv[1], sys.argv[2]
a_name, b_name = (sys.argv[3], sys.argv[4]) if len(sys.argv) > 4 else (a_dir, b_dir)


def rows(folder):
    data = open(folder + '/DATA001.CSV', 'rb').read()
    assert data.endswith(b'\r\n'), folder + ': the last row is not complete'
    return data[:-2].split(b'\r\n')


def without_times(row):
    fields = row.split(b',')
    return fields[2:] if len(fields) == 14 else fields


a, b = rows(a_dir), rows(b_dir)
assert len(a) == len(b), f'{len(a)} rows on {a_name}, {len(b)} on {b_name}'
assert a[0] == b[0], 'the header rows differ'
samples = 0
for number, (x, y) in enumerate(zip(a[1:], b[1:]), start=2):
    assert without_times(x) == without_times(y), f'row {number}: {x!r} on {a_name}, {y!r} on {b_name}'
    samples += x.count(b',') == 13
assert samples == 721, f'{samples} samples'

p = open(a_dir + '/BMP001.BMP', 'rb').read()
q = open(b_dir + '/BMP001.BMP', 'rb').read()
assert len(p) == len(q) == 481078, (len(p), len(q))
assert p[:1078] == q[:1078], 'the picture headers or palettes differ'
for offset in range(1078, len(p)):
    if p[offset] != q[offset]:
        index = offset - 1078
        x, y = index % 800, 599 - index // 800  # rows are stored bottom up
        assert 232 <= x < 416 and 32 <= y < 48, f'the pictures differ at pixel ({x}, {y})'
print(f'{len(a)} rows and the pictures agree')
