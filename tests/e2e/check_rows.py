#!/usr/bin/env python3
"""Checks a logger data file against the module simulator's log.

  check_rows.py DATA_FILE MODSIM_LOG [--ending escape|no-reply|short|killed|run-end]
                [--spoiled N,N,...] [--rows N] [--disk-full] [--earlier N] [--lossy-gaps] [--times]

Every row is complete (the file ends with CR LF), the first is the header, then
data row k answers request 50 + k (after the link test), with the checksum note
after it when its checksum failed, and at most one ending note last. A gap's
note row is followed by the three unstored requests of the check that ended it;
with --ending run-end the gap's note is last. A data row carries exactly the
marker, switch, readings (clamped to 1..1023) and checksum of its reply, unless
the reply is --spoiled. The data rows fit the ending: all requests answered for
escape, the last one unanswered for no-reply and short, at most one answered
without its row after a kill; with --disk-full the rows may stop early. With
--times the first row is at 0 s and each row's time within 2 s of its request.
Prints the number of data rows."""
import argparse
import re
import sys

HEADER = b'"Time","Seconds","Marker","Switch","AD1","AD2","AD3","Checksum","V1","V2","V3","T1","T2","T3"'
CHECKSUM_NOTE = b'"Serial Error in Above Data Line"'
NO_REPLY_NOTE = b'"Program is ending early because no data was received from datalogger. "'
SHORT_NOTE = b'"Program is ending early because of an incomplete data string. "'
TIME_FIELD = re.compile(rb'^"\d\d:\d\d:\d\d",')
GAP_NOTE = re.compile(rb'^"No data from \d\d:\d\d:\d\d to \d\d:\d\d:\d\d: '
                      rb'(the computer was asleep|COM\d+ was disconnected)\. "$')
CHECK_REQUESTS = 3
SIMPLE_ESCAPES = {b'r': b'\r', b'n': b'\n', b't': b'\t', b'0': b'\0', b'\\': b'\\', b'"': b'"'}


def unescape(text):
    """The bytes of a reply from the simulator's log, where \\xNN and C escapes stand for bytes."""
    return re.sub(rb'\\(x[0-9A-Fa-f]{2}|.)', lambda m: bytes([int(m[1][1:], 16)]) if len(m[1]) == 3 else
                  SIMPLE_ESCAPES[m[1]], text.encode('latin-1'), flags=re.S)


def logged_replies(log_path):
    pattern = re.compile(r'^\S+ \S+ (\d\d:\d\d:\d\d)\S* request (\d+) (\S+) "(.*)"$')
    replies = {}
    for line in open(log_path, encoding='latin-1'):
        match = pattern.match(line.rstrip('\n'))
        if match:
            replies[int(match.group(2))] = (match.group(3), unescape(match.group(4)), seconds_of_day(match.group(1)))
    return replies


def seconds_of_day(text):
    hour, minute, second = (int(part) for part in text.split(':'))
    return hour * 3600 + minute * 60 + second


def clamp(value):
    return min(max(value, 1), 1023)


def fail(message):
    sys.exit('check_rows: ' + message)


def expected_fields(reply):
    """The marker, switch, readings and checksum a well-formed reply gives."""
    fields = reply.rstrip(b'\r\n').split(b',')
    if len(fields) != 7:
        return None
    marker, _spare, switch, ad1, ad2, ad3, checksum = fields
    readings = [str(clamp(int(v))).encode() for v in (ad1, ad2, ad3)]
    return [b'"' + marker + b'"', switch] + readings + [checksum]


def checksum_holds(reply):
    fields = reply.rstrip(b'\r\n').split(b',')
    switch, ad1, ad2, ad3, checksum = (int(v) for v in fields[2:7])
    return checksum == switch + ad1 + ad2 + ad3


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('data_file')
    parser.add_argument('modsim_log')
    parser.add_argument('--ending', default='escape', choices=['escape', 'no-reply', 'short', 'killed', 'run-end'])
    parser.add_argument('--spoiled', default='')
    parser.add_argument('--rows', type=int)
    parser.add_argument('--earlier', type=int, default=0, help='requests logged before this run\'s link test')
    parser.add_argument('--lossy-gaps', action='store_true',
                        help='a real adapter may take requests with it when it goes: a row after a gap may skip some')
    parser.add_argument('--times', action='store_true', help='check the time columns against the requests')
    parser.add_argument('--disk-full', action='store_true',
                        help='rows after the disk filled up are lost: fewer rows than answers is no fault')
    args = parser.parse_args()
    spoiled = {int(n) for n in args.spoiled.split(',') if n}

    data = open(args.data_file, 'rb').read()
    replies = logged_replies(args.modsim_log)
    last_request = max(replies) if replies else 0
    if not data:
        if args.ending == 'killed' and last_request <= 50:
            print(0)
            return
        fail('the data file is empty')
    if not data.endswith(b'\r\n'):
        fail('the last row is not complete: %r' % data[-80:])
    rows = data[:-2].split(b'\r\n')
    if rows[0] != HEADER:
        fail('the first row is not the header: %r' % rows[0][:120])

    data_rows = 0
    unstored = args.earlier
    after_gap = False
    ending_note = None
    i = 1
    while i < len(rows):
        row = rows[i]
        if GAP_NOTE.match(row) and i == len(rows) - 1:
            ending_note = 'gap'
            break
        if GAP_NOTE.match(row):
            unstored += CHECK_REQUESTS
            after_gap = args.lossy_gaps
            i += 1
            continue
        if row in (NO_REPLY_NOTE, SHORT_NOTE):
            if i != len(rows) - 1:
                fail('an ending note is not the last row')
            ending_note = row
            break
        if not TIME_FIELD.match(row):
            fail('row %d is neither a data row nor a note: %r' % (i, row[:120]))
        data_rows += 1
        request = 50 + unstored + data_rows
        while after_gap and request in replies and row.split(b',')[2:8] != expected_fields(replies[request][1]):
            unstored, request = unstored + 1, request + 1
        after_gap = False
        if request not in replies:
            fail('data row %d answers request %d, which the simulator never saw' % (data_rows, request))
        label, reply, request_time = replies[request]
        if args.times:
            drift = (seconds_of_day(row[1:9].decode()) - request_time) % 86400
            if drift > 2 or (data_rows == 1 and float(row.split(b',')[1]) != 0.0):
                fail('data row %d: time %r is %d s after its request' % (data_rows, row[:30], drift))
        note_follows = i + 1 < len(rows) and rows[i + 1] == CHECKSUM_NOTE
        if request not in spoiled:
            expected = expected_fields(reply)
            if expected is None:
                fail('request %d (%s) is not a plain reply; list it with --spoiled' % (request, label))
            if row.split(b',')[2:8] != expected:
                fail('data row %d: %r, but the simulator sent %r' % (data_rows, row.split(b',')[2:8], reply))
            if note_follows == checksum_holds(reply):
                fail('data row %d: checksum note %s' % (data_rows, 'without a failure' if note_follows else 'missing'))
        i += 2 if note_follows else 1

    expected_note = {'no-reply': NO_REPLY_NOTE, 'short': SHORT_NOTE, 'run-end': 'gap'}.get(args.ending)
    if ending_note != expected_note:
        fail('the ending note is %r, expected %r' % (ending_note, expected_note))
    answered = last_request - 50 - unstored
    if args.disk_full and data_rows > answered:
        fail('%d data rows for %d requests after the link test' % (data_rows, answered))
    if args.ending == 'escape' and not args.disk_full and data_rows != answered:
        fail('%d data rows for %d requests after the link test' % (data_rows, answered))
    if args.ending == 'run-end' and data_rows not in (answered, answered - 1):
        fail('%d data rows, but %d requests were answered before the port went away' % (data_rows, answered))
    if args.ending in ('no-reply', 'short') and data_rows != answered - 1:
        fail('%d data rows, but the run ended at request %d' % (data_rows, last_request))
    if args.ending == 'killed' and data_rows not in (answered, answered - 1):
        fail('%d data rows survived the kill, but %d requests had been answered' % (data_rows, answered))
    if args.rows is not None and data_rows != args.rows:
        fail('%d data rows, expected %d' % (data_rows, args.rows))
    print(data_rows)


main()
