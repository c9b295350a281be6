#!/usr/bin/env python3
"""Copies an MPEG-TS file with the PTS (and DTS, when present) of one PES
header on the video PID moved by a number of 90 kHz ticks.

Usage: shift_ts_timestamp.py IN OUT NTH TICKS
NTH counts the video PID's PES headers from 1; TICKS may be negative."""
import sys

VIDEO_PID = 0x100  # the first video stream of ffmpeg's MPEG-TS muxer
PACKET = 188


def read_stamp(b):
    return (b[0] >> 1 & 7) << 30 | b[1] << 22 | (b[2] >> 1) << 15 | b[3] << 7 | b[4] >> 1


def write_stamp(value, prefix):
    value &= (1 << 33) - 1
    return bytes([prefix << 4 | (value >> 30 & 7) << 1 | 1, value >> 22 & 255,
                  (value >> 15 & 127) << 1 | 1, value >> 7 & 255, (value & 127) << 1 | 1])


def main():
    source, target, nth, ticks = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    data = bytearray(open(source, 'rb').read())
    seen = 0
    for at in range(0, len(data) - PACKET + 1, PACKET):
        pid = (data[at + 1] & 0x1f) << 8 | data[at + 2]
        if data[at] != 0x47 or pid != VIDEO_PID or not data[at + 1] & 0x40:
            continue
        header = at + 4 + (1 + data[at + 4] if data[at + 3] & 0x20 else 0)
        if data[header:header + 3] != b'\0\0\1':
            continue
        seen += 1
        if seen < nth:
            continue
        flags = data[header + 7] >> 6  # 2: PTS only, 3: PTS and DTS
        pts = header + 9
        if flags not in (2, 3):
            sys.exit('PES header %d carries no timestamp' % nth)
        data[pts:pts + 5] = write_stamp(read_stamp(data[pts:pts + 5]) + ticks, flags)
        if flags == 3:
            data[pts + 5:pts + 10] = write_stamp(read_stamp(data[pts + 5:pts + 10]) + ticks, 1)
        open(target, 'wb').write(data)
        return
    sys.exit('%s has only %d video PES headers' % (source, seen))


main()
