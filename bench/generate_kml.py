#!/usr/bin/env python3
"""Writes a KML document of N point placemarks (default 100000) in folders:
top-level folders of ten subfolders of 100 placemarks each, pretty-printed
as KML editors write it, with names, descriptions and altitudes. With
PARTS_DIR, also writes the same placemarks in files of 500 (GPSBabel's
Magellan writers take at most 500 waypoints per file).
    generate_kml.py OUT.kml [N] [PARTS_DIR]"""
import os
import random
import sys

PER_FOLDER, SUBFOLDERS, PART_SIZE = 100, 10, 500


def placemarks(count):
    rng = random.Random(3)
    for number in range(1, count + 1):
        lon, lat, alt = rng.uniform(-180, 180), rng.uniform(-85, 85), rng.uniform(-100, 4000)
        yield (f"        <Placemark>\n          <name>Point {number:06d}</name>\n"
               f"          <description>Generated point number {number}, caf\u00e9 nearby</description>\n"
               f"          <Point>\n            <coordinates>{lon:.7f},{lat:.7f},{alt:.1f}</coordinates>\n"
               f"          </Point>\n        </Placemark>\n")


def write_document(path, items):
    with open(path, "w", encoding="utf-8", newline="\n") as out:
        out.write('<?xml version="1.0" encoding="UTF-8"?>\n<kml xmlns="http://www.opengis.net/kml/2.2">\n'
                  "  <Document>\n    <name>Generated placemarks</name>\n")
        for index, item in enumerate(items):
            if index % (PER_FOLDER * SUBFOLDERS) == 0:
                if index:
                    out.write("      </Folder>\n    </Folder>\n")
                out.write(f"    <Folder>\n      <name>Region {index // (PER_FOLDER * SUBFOLDERS) + 1}</name>\n")
            elif index % PER_FOLDER == 0:
                out.write("      </Folder>\n")
            if index % PER_FOLDER == 0:
                out.write(f"      <Folder>\n        <name>Area {index // PER_FOLDER + 1}</name>\n")
            out.write(item)
        if items:
            out.write("      </Folder>\n    </Folder>\n")
        out.write("  </Document>\n</kml>\n")


def main():
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 100000
    items = list(placemarks(count))
    write_document(sys.argv[1], items)
    if len(sys.argv) > 3:
        os.makedirs(sys.argv[3], exist_ok=True)
        for start in range(0, count, PART_SIZE):
            write_document(os.path.join(sys.argv[3], f"part-{start // PART_SIZE:04d}.kml"),
                           items[start:start + PART_SIZE])


if __name__ == "__main__":
    main()
