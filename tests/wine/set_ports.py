#!/usr/bin/env python3
"""Makes a stopped Wine prefix's COM port mapping exactly the given ports.

    set_ports.py SYSTEM_REG [COM<n>=PATH ...]

Edits the mapping in system.reg itself, while no wineserver runs: the next
server reads it as it starts, with no Wine program involved.
"""
import re
import sys
import time

PORTS_KEY = re.compile(r'^(\[Software\\\\Wine\\\\Ports\][^\n]*\n(?:#[^\n]*\n)*)((?:"[^\n]*\n)*)', re.M)


def registry_string(text):
    return '"' + text.replace('\\', '\\\\').replace('"', '\\"') + '"'


def port_values(mappings):
    values = []
    for mapping in mappings:
        name, sep, path = mapping.partition('=')
        if not re.fullmatch(r'COM[1-9][0-9]*', name) or not sep or not path or '\n' in path:
            sys.exit(f'set_ports: not a mapping COM<n>=PATH: {mapping}')
        values.append(f'{registry_string(name)}={registry_string(path)}\n')
    return ''.join(values)


def main():
    path, mappings = sys.argv[1], sys.argv[2:]
    values = port_values(mappings)
    with open(path, encoding='utf-8', errors='surrogateescape', newline='') as f:
        text = f.read()
    key = PORTS_KEY.search(text)
    if key:
        changed = text[:key.start(2)] + values + text[key.end(2):]
    elif values:
        changed = text.rstrip('\n') + f'\n\n[Software\\\\Wine\\\\Ports] {int(time.time())}\n' + values
    else:
        changed = text
    if changed != text:
        with open(path, 'w', encoding='utf-8', errors='surrogateescape', newline='') as f:
            f.write(changed)


main()
