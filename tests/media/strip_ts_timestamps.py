#!/usr/bin/env python3
"""Copies an MPEG-TS file with every PES header's PTS and DTS taken out: the
flags say none, and the bytes they took become the header's stuffing. The
packets' clock references stay.

Usage: strip_ts_timestamps.py IN OUT"""
import sys

PACKET = 188


def main():
    source, target = sys.argv[1], sys.argv[2]
    data = bytearray(open(source, 'rb').read())
    stripped = 0
    for at in range(0, len(data) - PACKET + 1, PACKET):
        if data[at] != 0x47 or not data[at + 1] & 0x40:
            continue
        header = at + 4 + (1 + data[at + 4] if data[at + 3] & 0x20 else 0)
        # PES of the stream ids that carry an optional header.
        if data[header:header + 3] != b'\0\0\1' or data[header + 3] < 0xbd:
            continue
        flags = data[header + 7] >> 6  # 2: PTS only, 3: PTS and DTS
        if flags not in (2, 3):
            continue
        length = 5 if flags == 2 else 10
        data[header + 7] &= 0x3f
        data[header + 9:header + 9 + length] = b'\xff' * length
        stripped += 1
    if stripped == 0:
        sys.exit('%s has no PES timestamps' % source)
    open(target, 'wb').write(data)


main()
