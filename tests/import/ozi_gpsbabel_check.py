#!/usr/bin/env python3
"""Converts the real OziExplorer files with tervolin.exe and reads the
results back with GPSBabel, an independent Magellan reader: the same number
of points must come back at the same coordinates (within 1e-4 degrees) as
GPSBabel reads from the OziExplorer originals.

GPSBabel garbles names after a decimal waypoint altitude and ignores the
track altitude unit, so only positions are compared here; names, altitudes
and times are checked by the project's own tests."""
import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from host_check import SKIP, real_data, run_host  # noqa: E402

GPX = {"g": "http://www.topografix.com/GPX/1/0", "g11": "http://www.topografix.com/GPX/1/1"}


def points(gpx_text, kind):
    root = ET.fromstring(gpx_text)
    tag = "wpt" if kind == "-w" else "trkpt"
    found = root.iter()
    return [(float(e.get("lat")), float(e.get("lon"))) for e in found if e.tag.endswith("}" + tag)]


def gpsbabel_read(kind, fmt, path):
    result = subprocess.run(["gpsbabel", kind, "-i", fmt, "-f", path, "-o", "gpx", "-F", "-"],
                            capture_output=True, text=True, check=True)
    return points(result.stdout, kind)


def main():
    data = real_data("ozi")
    if not data:
        return SKIP
    cases = [
        ("gpsbabel-ozi.wpt", "-w", "waypoints"),
        ("gpsbabel-20070813_short.plt", "-t", "track"),
        ("gpsbabel-ozitracks-gpx-1.plt", "-t", "track"),
        ("gpsbabel-packed-3segments.plt", "-t", "track"),
    ]
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        for name, kind, conversion in cases:
            source = os.path.join(data, name)
            out = os.path.join(tmp, name + ".magellan")
            result = run_host("convert", conversion, source, out)
            if result.returncode != 0:
                print(f"{name}: the conversion failed ({result.returncode}): {result.stderr.strip()}")
                failures += 1
                continue
            original = gpsbabel_read(kind, "ozi", source)
            converted = gpsbabel_read(kind, "magellanx", out)
            if len(original) != len(converted) or not original:
                print(f"{name}: {len(original)} points in the original, {len(converted)} after conversion")
                failures += 1
                continue
            for i, (a, b) in enumerate(zip(original, converted)):
                if abs(a[0] - b[0]) > 1e-4 or abs(a[1] - b[1]) > 1e-4:
                    print(f"{name}: point {i + 1}: {a} became {b}")
                    failures += 1
                    break
            else:
                print(f"{name}: {len(converted)} points agree")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
