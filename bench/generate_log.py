#!/usr/bin/env python3
"""Writes a Magellan track log of N points for the export benchmark, as the
track conversion writes them: thousandths of a minute, altitudes in feet,
times with milliseconds (".000", which GPSBabel's reader takes), checksums,
CR LF, and the terminator.

usage: generate_log.py OUT.log TRACK_POINTS"""
import datetime
import math
import sys


def checksum(body):
    value = 0
    for byte in body[1:].encode("ascii"):
        value ^= byte
    return "%s*%02X\r\n" % (body, value)


def angle(value, degree_digits):
    magnitude = abs(value)
    degrees = int(magnitude)
    thousandths = int((magnitude - degrees) * 60000)
    return "%0*d%02d.%03d" % (degree_digits, degrees, thousandths // 1000, thousandths % 1000)


def main():
    path, count = sys.argv[1], int(sys.argv[2])
    start = datetime.datetime(2023, 3, 15, 6, 0, 0)
    with open(path, "w", newline="") as f:
        for i in range(count):
            lat = 46.0 + 0.5 * math.sin(i / 5000.0)
            lon = 7.0 + 0.5 * math.cos(i / 7000.0)
            alt = 1500.0 + 800.0 * math.sin(i / 3000.0)
            when = start + datetime.timedelta(seconds=i)
            f.write(checksum("$PMGNTRK,%s,N,%s,E,%d,F,%s.000,A,,%s" % (
                angle(lat, 2), angle(lon, 3), int(alt), when.strftime("%H%M%S"), when.strftime("%d%m%y"))))
        f.write(checksum("$PMGNCMD,END"))


if __name__ == "__main__":
    main()
