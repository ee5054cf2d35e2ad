#!/usr/bin/env python3
"""Writes a GPX 1.1 track of N track points (default 1000000) with
elevation and time, and a GPX 1.1 file of M waypoints (default 100000) with
names, comments and elevation, pretty-printed as mapping programs write
them. With PARTS_DIR, also writes the waypoints in files of 500 (GPSBabel's
Magellan writers take at most 500 waypoints per file).
    generate_gpx.py TRACK.gpx WAYPOINTS.gpx [N] [M] [PARTS_DIR]"""
import datetime
import os
import random
import sys

PART_SIZE = 500
HEADER = ('<?xml version="1.0" encoding="UTF-8"?>\n'
          '<gpx version="1.1" creator="generate_gpx.py" xmlns="http://www.topografix.com/GPX/1/1">\n')


def track_points(count):
    rng = random.Random(5)
    lat, lon, ele = 46.5, 13.8, 800.0
    start = datetime.datetime(2023, 6, 1, 6, 0, 0)
    for number in range(count):
        lat += rng.uniform(-0.0002, 0.0002)
        lon += rng.uniform(-0.0002, 0.0002)
        ele += rng.uniform(-2, 2)
        time = (start + datetime.timedelta(seconds=number)).strftime("%Y-%m-%dT%H:%M:%SZ")
        yield (f'      <trkpt lat="{lat:.7f}" lon="{lon:.7f}">\n        <ele>{ele:.1f}</ele>\n'
               f'        <time>{time}</time>\n      </trkpt>\n')


def waypoints(count):
    rng = random.Random(7)
    for number in range(1, count + 1):
        lat, lon, ele = rng.uniform(-85, 85), rng.uniform(-180, 180), rng.uniform(-100, 4000)
        yield (f'  <wpt lat="{lat:.7f}" lon="{lon:.7f}">\n    <ele>{ele:.1f}</ele>\n'
               f'    <name>WPT{number:06d}</name>\n    <cmt>Generated point {number}, caf\u00e9</cmt>\n  </wpt>\n')


def write(path, body, footer=""):
    with open(path, "w", encoding="utf-8", newline="\n") as out:
        out.write(HEADER)
        out.writelines(body)
        out.write(footer + "</gpx>\n")


def main():
    track, points = sys.argv[1], sys.argv[2]
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 1000000
    waypoint_count = int(sys.argv[4]) if len(sys.argv) > 4 else 100000
    with open(track, "w", encoding="utf-8", newline="\n") as out:
        out.write(HEADER + "  <trk>\n    <name>Generated</name>\n    <trkseg>\n")
        out.writelines(track_points(count))
        out.write("    </trkseg>\n  </trk>\n</gpx>\n")
    items = list(waypoints(waypoint_count))
    write(points, items)
    if len(sys.argv) > 5:
        parts = sys.argv[5]
        os.makedirs(parts, exist_ok=True)
        for start in range(0, len(items), PART_SIZE):
            write(os.path.join(parts, f"part{start // PART_SIZE:04d}.gpx"), items[start:start + PART_SIZE])


if __name__ == "__main__":
    main()
