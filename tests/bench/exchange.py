#!/usr/bin/python3
"""The logger's exchange written the way a user would with pyserial: drain,
request, the 50 ms wait, read the reply one byte per read, check it, convert
the readings, format the readouts and append a data row. Prints the cost of
each exchange beyond the 50 ms wait (median, 99th percentile, maximum)."""
import argparse
import math
import os
import sys
import tempfile
import time

import serial

REQUEST_WAIT_S = 0.050
MINIMUM_REPLY_BYTES = 21


def temperature_f(reading):
    """The thermistor formula, in the same order of operations as the logger."""
    q = 1024.0 / reading - 1.0
    resistance = 10000.0 / q / 0.01312577
    kelvin = 4038.0 / math.log(resistance)
    return kelvin * 1.8 - 459.67


def exchange(port, data_file, start_s):
    port.reset_input_buffer()
    port.write(b'X\r\n')
    time.sleep(REQUEST_WAIT_S)
    elapsed_s = time.monotonic() - start_s
    waiting = port.in_waiting
    if waiting == 0:
        raise RuntimeError('no reply')
    if waiting < MINIMUM_REPLY_BYTES:
        raise RuntimeError('short reply')
    reply = bytearray()
    while True:
        byte = port.read(1)
        if not byte:
            break
        reply += byte
        if byte == b'\n':
            break
    fields = reply.decode('latin-1').strip().split(',')
    marker = fields[0]
    switch, ad1, ad2, ad3, checksum = (int(field) for field in fields[2:7])
    checksum_holds = checksum == switch + ad1 + ad2 + ad3
    marker_holds = marker == 'X'
    readings = [min(max(ad, 1), 1023) for ad in (ad1, ad2, ad3)]
    volts = [ad * 0.005 for ad in (ad1, ad2, ad3)]
    degrees = [temperature_f(ad) for ad in readings]
    readouts = [f'V{i + 1}= {v:5.3f}' for i, v in enumerate(volts)]
    row = ','.join([f'"{time.strftime("%H:%M:%S")}"', repr(elapsed_s), f'"{marker}"', str(switch)]
                   + [str(ad) for ad in readings] + [str(checksum)]
                   + [f'{v:.7g}' for v in volts] + [f'{t:.7g}' for t in degrees])
    data_file.write(row + '\r\n')
    data_file.flush()
    return checksum_holds and marker_holds and len(readouts) == 3


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('device')
    parser.add_argument('--count', type=int, default=300)
    args = parser.parse_args(argv)

    costs = []
    with serial.Serial(args.device, 38400, bytesize=8, parity='N', stopbits=1, timeout=0.020) as port, \
            tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, 'DATA001.CSV'), 'w', newline='') as data_file:
            start_s = time.monotonic()
            for _ in range(args.count):
                begin_s = time.monotonic()
                exchange(port, data_file, start_s)
                costs.append(time.monotonic() - begin_s - REQUEST_WAIT_S)
    costs.sort()
    median = costs[len(costs) // 2]
    p99 = costs[min(len(costs), max(1, math.ceil(0.99 * len(costs)))) - 1]
    print(f'python_exchange_beyond_wait_ms median {median * 1e3:.3f} p99 {p99 * 1e3:.3f} '
          f'max {costs[-1] * 1e3:.3f} (n {len(costs)})')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
