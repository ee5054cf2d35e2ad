#!/usr/bin/env python3
"""Converts the real KML files with tervolin.exe and compares the waypoint
positions and counts with those GPSBabel, an independent KML reader, reads
from the same files (gpsbabel -w -i kml ... -o gpx).

Files that the import refuses must fail with the expected problem. Two
Points-only files give their coordinates without altitude; copies with ",0"
appended to each coordinate tuple must give the same positions."""
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from host_check import SKIP, degrees, real_data, run_host, sentences  # noqa: E402

# file, options, expected problem in the message (None: converts), placemarks written
CASES = [
    ("libkml-unknown-elements-kml20.kml", [], None, 2),
    ("libkml-time-kml21.kml", [], None, 361),  # in a Document inside a Folder
    ("gpsbabel-kml-points.kml", [], None, 9),  # lon,lat without altitude
    ("libkml-points-puntas-nonascii.kml", [], None, 11),
    ("gpsbabel-earth-gc-nonascii.kml", [], None, 2),  # gx: extension elements
    ("libkml-kmlsamples.kml", ["--points-only"], None, 4),
    ("libkml-kmlsamples.kml", [], 'placemark 4: "Descriptive HTML": no Point', 0),
    ("libkml-all-balloons.kml", [], "the NetworkLink has neither a Url nor a Link element", 0),
    ("libkml-invalid-descriptions.kml", [], 'placemark 1: "bad_description0": no Point', 0),
    ("libkml-deprecated-networklink-url.kml", [], "kml/foo.kml: File not found", 0),
]
WITH_ALTITUDE = ["gpsbabel-kml-points.kml", "libkml-points-puntas-nonascii.kml"]


def gpsbabel_positions(path):
    result = subprocess.run(["gpsbabel", "-w", "-i", "kml", "-f", path, "-o", "gpx", "-F", "-"],
                            capture_output=True, text=True, check=True)
    root = ET.fromstring(result.stdout)
    return sorted((float(e.get("lat")), float(e.get("lon"))) for e in root.iter() if e.tag.endswith("}wpt"))


def upt_positions(path):
    return sorted((degrees(f[1], f[2]), degrees(f[3], f[4])) for f in sentences(path, "$PMGNWPL"))


def add_altitude(source, target):
    with open(source, encoding="utf-8") as f:
        text = f.read()
    text = re.sub(r"<coordinates>\s*([^,<\s]+),([^,<\s]+)\s*</coordinates>", r"<coordinates>\1,\2,0</coordinates>", text)
    with open(target, "w", encoding="utf-8") as f:
        f.write(text)


def main():
    data = real_data("kml")
    if not data:
        return SKIP
    failures = []

    with tempfile.TemporaryDirectory() as tmp:
        def convert(source, name, options=()):
            out = os.path.join(tmp, name + ".upt")
            if os.path.exists(out):
                os.remove(out)
            return run_host("convert", "kml", *options, source, out, cwd=tmp), out

        def compare(name, source, out, count):
            ours = upt_positions(out)
            theirs = gpsbabel_positions(source)
            if len(ours) != count:
                failures.append(f"{name}: {len(ours)} waypoints written, {count} expected")
            if count == 0:
                return
            if len(ours) != len(theirs):
                failures.append(f"{name}: {len(ours)} waypoints, GPSBabel reads {len(theirs)}")
                return
            for a, b in zip(ours, theirs):
                if abs(a[0] - b[0]) > 1e-5 or abs(a[1] - b[1]) > 1e-5:
                    failures.append(f"{name}: {a} written, GPSBabel reads {b}")
            print(f"{name}: {len(ours)} positions compared with GPSBabel")

        for name, options, problem, count in CASES:
            source = os.path.join(data, name)
            result, out = convert(source, name, options)
            if problem is None:
                if result.returncode != 0:
                    failures.append(f"{name}: {result.stderr.strip()}")
                    continue
                if f" {count} waypoints written" not in result.stderr:
                    failures.append(f"{name}: the report says {result.stderr.strip()!r}, {count} expected")
                compare(name, source, out, count)
            elif result.returncode != 1 or problem not in result.stderr or os.path.exists(out):
                failures.append(f"{name}: exit code {result.returncode}, {result.stderr.strip()!r}, "
                                f"expected {problem!r} and no output")

        for name in WITH_ALTITUDE:
            source = os.path.join(tmp, "altitude-" + name)
            add_altitude(os.path.join(data, name), source)
            result, out = convert(source, "altitude-" + name)
            if result.returncode != 0:
                failures.append(f"{name} with altitudes: {result.stderr.strip()}")
                continue
            compare(name + " with altitudes", source, out, len(gpsbabel_positions(source)))

    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
