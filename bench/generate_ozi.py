#!/usr/bin/env python3
"""Writes OziExplorer benchmark inputs: a track of N points and a waypoint
file of M waypoints, shaped like real files (padded columns, CR LF).

usage: generate_ozi.py OUT_FOLDER TRACK_POINTS WAYPOINTS"""
import math
import os
import sys


def write_track(path, count):
    with open(path, "w", newline="\r\n") as f:
        f.write("OziExplorer Track Point File Version 2.1\nWGS 84\nAltitude is in Feet\nReserved 3\n"
                "0,2,255,Benchmark track               ,0,0,2,8421376\n%d\n" % count)
        day = 45000.25
        for i in range(count):
            lat = 46.0 + 0.5 * math.sin(i / 5000.0)
            lon = 7.0 + 0.5 * math.cos(i / 7000.0)
            alt = 1500.0 + 800.0 * math.sin(i / 3000.0)
            f.write("%11.6f,%11.6f,%d,%7.1f,%.7f, 15-Mar-23, 06:00:00\n" % (lat, lon, 1 if i == 0 else 0, alt,
                                                                          day + i / 86400.0))


def write_waypoints(path, count, first=0):
    with open(path, "w", newline="\r\n") as f:
        f.write("OziExplorer Waypoint File Version 1.1\nWGS 84\nReserved 2\nReserved 3\n")
        for i in range(first, first + count):
            lat = -60.0 + 120.0 * ((i * 7919) % 100000) / 100000.0
            lon = -179.0 + 358.0 * ((i * 104729) % 100000) / 100000.0
            f.write("%d,WPT%06d,%.6f,%.6f,,0,1,3,0,65535,Generated waypoint %d,0,0,0,-777,6,0,17\n"
                    % (i + 1, i, lat, lon, i))


def main():
    out, points, waypoints = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    os.makedirs(out, exist_ok=True)
    write_track(os.path.join(out, "track.plt"), points)
    write_waypoints(os.path.join(out, "waypoints.wpt"), waypoints)
    # GPSBabel's eXplorist writer refuses more than 500 waypoints per file.
    parts = os.path.join(out, "waypoints-500")
    os.makedirs(parts, exist_ok=True)
    for part in range(waypoints // 500):
        write_waypoints(os.path.join(parts, "part%03d.wpt" % part), 500, part * 500)


if __name__ == "__main__":
    main()
