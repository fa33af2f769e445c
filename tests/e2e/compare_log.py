#!/usr/bin/env python3
"""Checks a logger data file against the module simulator's log: the n-th
sample row must carry the reply to the n-th request after the 50 link-test
exchanges (marker, switch, readings clamped to 1..1023, checksum), less the
three unstored exchanges that check the port after each gap's note row."""
import re
import sys


def replies(log_path):
    found = {}
    pattern = re.compile(r'^\S+ \S+ (\d\d):(\d\d):(\d\d)\S* request (\d+) (\S+) "(.*)"$')
    for line in open(log_path, encoding='latin-1'):
        match = pattern.match(line.rstrip('\n'))
        if match:
            hour, minute, second = (int(match.group(i)) for i in (1, 2, 3))
            found[int(match.group(4))] = (hour * 3600 + minute * 60 + second, match.group(6))
    return found


def clamp(value):
    return min(max(value, 1), 1023)


def main():
    data_path, log_path = sys.argv[1], sys.argv[2]
    sent = replies(log_path)
    rows = open(data_path, 'rb').read().decode('latin-1').split('\r\n')[1:]
    samples, unstored = [], 0
    for row in rows:
        if row.startswith('"No data from '):
            unstored += 3
        elif row.count(',') == 13:
            samples.append((row, unstored))
    for index, (row, skipped) in enumerate(samples):
        logged = sent.get(51 + skipped + index)
        if logged is None:
            sys.exit('row %d: the simulator logged no request %d' % (index + 1, 51 + skipped + index))
        request_time, reply = logged
        fields = reply.replace('\\r\\n', '').split(',')
        marker, _spare, switch, ad1, ad2, ad3, checksum = fields
        columns = row.split(',')
        expected = ['"%s"' % marker, switch, str(clamp(int(ad1))), str(clamp(int(ad2))), str(clamp(int(ad3))),
                    checksum]
        if columns[2:8] != expected:
            sys.exit('row %d: %s, but the simulator sent %s' % (index + 1, columns[2:8], reply))
        hour, minute, second = (int(part) for part in columns[0].strip('"').split(':'))
        drift = (hour * 3600 + minute * 60 + second - request_time) % 86400
        if drift > 2:
            sys.exit('row %d: time %s is %d s after the request' % (index + 1, columns[0], drift))
    print('%d rows match the simulator log' % len(samples))


main()
