#!/usr/bin/env python3
"""Converts every real GPX file with tervolin.exe to a waypoint file (with
and without --routes) and to a track log, and compares what it wrote with
two independent readers of the same file:

- Python's ElementTree: the counts, the order, positions within the
  sentence format's precision (1/100000 minute for waypoints, 1/1000 for
  track points), altitudes, names and the UTC times of track points;
- GPSBabel 1.8 (gpsbabel -i gpx ... -o magellanx): the counts and the
  positions within its 1/1000 minute.

A file without points of the kind asked for must fail with words and leave
no output."""
import datetime
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from host_check import SKIP, degrees, real_data, run_host, sentences  # noqa: E402

WAYPOINT_TOLERANCE = 1.5e-5 / 60   # degrees: 5 decimals of minutes, truncated
TRACK_TOLERANCE = 1.5e-3 / 60      # degrees: 3 decimals of minutes, truncated
GPSBABEL_TOLERANCE = 1.5e-3 / 60   # GPSBabel writes 3 decimals of minutes
# The comments of the geocaches, named by their code.
GEOCACHE_COMMENTS = {
    "GC7FA4": "Points g\u00e9od\u00e9siques du Qu\u00e9bec (Locationless (Reverse), Virtual, D1/T1)",
    "GCGCA8": "Oozy rat in a sanitary zoo (Unknown, Not chosen, D3/T2)",
}


def local(tag):
    return tag.rsplit("}", 1)[-1]


def namespace(tag):
    return tag[1:tag.index("}")] if tag.startswith("{") else ""


def child_text(element, name):
    for child in element:
        if local(child.tag) == name and namespace(child.tag) == namespace(element.tag):
            return (child.text or "").strip()
    return ""


def reference_points(path):
    """wpt, rtept and trkpt of the GPX namespace, in document order."""
    root = ET.parse(path).getroot()
    space = root.tag.split("}")[0] + "}" if root.tag.startswith("{") else ""
    kinds = {"wpt": [], "rtept": [], "trkpt": []}
    for element in root.iter():
        if element.tag.startswith(space) and local(element.tag) in kinds and (space or "}" not in element.tag):
            kinds[local(element.tag)].append(element)
    return kinds


def same_field(written, text):
    """Whether a name or comment was written as the field rules allow: the
    characters that separate fields or sentences (, * $ and control
    characters) replaced one for one, every other character kept."""
    text = text.encode("cp1252", "replace").decode("cp1252")
    return len(written) == len(text) and all(
        a == b or re.fullmatch(r"[,*$\x00-\x1f\x7f]", b) for a, b in zip(written, text))


def parse_time(text):
    match = re.fullmatch(r"(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)(?:\.(\d+))?(Z|[+-]\d\d:?\d\d)?", text.strip())
    year, month, day, hour, minute, second, fraction, zone = match.groups()
    ms = int((fraction or "0")[:3].ljust(3, "0"))
    value = datetime.datetime(int(year), int(month), int(day), int(hour), int(minute), int(second), ms * 1000)
    if zone and zone != "Z":
        sign = 1 if zone[0] == "+" else -1
        digits = zone[1:].replace(":", "")
        value -= sign * datetime.timedelta(hours=int(digits[:2]), minutes=int(digits[2:]))
    return value


def gpsbabel_positions(path, switches, kind):
    """What GPSBabel reads with each switch in turn (it reads one kind per run)."""
    positions = []
    for switch in switches:
        part = gpsbabel_run(path, switch, kind)
        if part is None:
            return None
        positions += part
    return positions


def gpsbabel_run(path, switch, kind):
    with tempfile.NamedTemporaryFile(suffix=".txt", delete=False) as out:
        name = out.name
    try:
        result = subprocess.run(["gpsbabel", switch, "-i", "gpx", "-f", path, "-o", "magellanx", "-F", name],
                                capture_output=True, text=True)
        if result.returncode != 0:
            return None
        return [(degrees(f[1], f[2]), degrees(f[3], f[4])) for f in sentences(name, kind)]
    finally:
        os.remove(name)


def main():
    data = real_data("gpx")
    if not data:
        return SKIP
    failures = []

    with tempfile.TemporaryDirectory() as tmp:
        def convert(source, out, options=()):
            return run_host("convert", "gpx", *options, source, out, cwd=tmp)

        def check_waypoints(name, source, options, expected, switches):
            out = os.path.join(tmp, name + ("-routes" if options else "") + ".upt")
            result = convert(source, out, options)
            label = f"{name} {' '.join(options)} -> .upt"
            if not expected:
                if result.returncode != 1 or "no waypoints" not in result.stderr or os.path.exists(out):
                    failures.append(f"{label}: exit code {result.returncode}, {result.stderr.strip()!r}")
                return
            if result.returncode != 0:
                failures.append(f"{label}: {result.stderr.strip()}")
                return
            ours = sentences(out, "$PMGNWPL")
            if len(ours) != len(expected):
                failures.append(f"{label}: {len(ours)} waypoints written, {len(expected)} in the file")
                return
            for index, (fields, element) in enumerate(zip(ours, expected)):
                lat, lon = degrees(fields[1], fields[2]), degrees(fields[3], fields[4])
                ele = float(child_text(element, "ele") or 0)
                code = child_text(element, "name")
                wanted = (float(element.get("lat")), float(element.get("lon")), float(fields[5]))
                if (abs(lat - wanted[0]) > WAYPOINT_TOLERANCE or abs(lon - wanted[1]) > WAYPOINT_TOLERANCE
                        or abs(wanted[2] - ele) > 1e-4):
                    failures.append(f"{label}: waypoint {index + 1} at {lat},{lon},{fields[5]}, file has {wanted[:2]},{ele}")
                if not same_field(fields[7], code):
                    failures.append(f"{label}: waypoint {index + 1} named {fields[7]!r}, file has {code!r}")
                if code in GEOCACHE_COMMENTS and not same_field(fields[8], GEOCACHE_COMMENTS[code]):
                    failures.append(f"{label}: geocache {code} described {fields[8]!r}")
            theirs = gpsbabel_positions(source, switches, "$PMGNWPL")
            if theirs is None:
                print(f"{label}: GPSBabel refuses the file, compared with ElementTree only")
            elif len(theirs) != len(ours):
                failures.append(f"{label}: {len(ours)} waypoints, GPSBabel reads {len(theirs)}")
            else:
                for fields, b in zip(ours, theirs):
                    a = (degrees(fields[1], fields[2]), degrees(fields[3], fields[4]))
                    if abs(a[0] - b[0]) > GPSBABEL_TOLERANCE or abs(a[1] - b[1]) > GPSBABEL_TOLERANCE:
                        failures.append(f"{label}: {a} written, GPSBabel reads {b}")
                print(f"{label}: {len(ours)} waypoints compared with ElementTree and GPSBabel")

        def check_track(name, source, expected):
            out = os.path.join(tmp, name + ".log")
            result = convert(source, out)
            if not expected:
                if result.returncode != 1 or "no track points" not in result.stderr or os.path.exists(out):
                    failures.append(f"{name} -> .log: exit code {result.returncode}, {result.stderr.strip()!r}")
                return
            if result.returncode != 0:
                failures.append(f"{name} -> .log: {result.stderr.strip()}")
                return
            ours = sentences(out, "$PMGNTRK")
            if len(ours) != len(expected):
                failures.append(f"{name}: {len(ours)} track points written, {len(expected)} in the file")
                return
            for index, (fields, element) in enumerate(zip(ours, expected)):
                lat, lon = degrees(fields[1], fields[2]), degrees(fields[3], fields[4])
                wanted = (float(element.get("lat")), float(element.get("lon")))
                if abs(lat - wanted[0]) > TRACK_TOLERANCE or abs(lon - wanted[1]) > TRACK_TOLERANCE:
                    failures.append(f"{name}: track point {index + 1} at {lat},{lon}, file has {wanted}")
                ele = child_text(element, "ele")
                if fields[5] != str(int(float(ele or 0))) or fields[6] != "M":
                    failures.append(f"{name}: track point {index + 1} altitude {fields[5]},{fields[6]}, file has {ele}")
                time = child_text(element, "time")
                want = ["", ""]
                if time:
                    utc = parse_time(time)
                    want = [utc.strftime("%H%M%S.") + f"{utc.microsecond // 1000:03d}", utc.strftime("%d%m%y")]
                if [fields[7], fields[10]] != want:
                    failures.append(f"{name}: track point {index + 1} time {fields[7]},{fields[10]}, file has {time!r}")
            theirs = gpsbabel_positions(source, ["-t"], "$PMGNTRK")
            if theirs is None or len(theirs) != len(ours):
                failures.append(f"{name}: {len(ours)} track points, GPSBabel reads {theirs and len(theirs)}")
                return
            for fields, b in zip(ours, theirs):
                a = (degrees(fields[1], fields[2]), degrees(fields[3], fields[4]))
                if abs(a[0] - b[0]) > GPSBABEL_TOLERANCE or abs(a[1] - b[1]) > GPSBABEL_TOLERANCE:
                    failures.append(f"{name}: {a} written, GPSBabel reads {b}")
            print(f"{name} -> .log: {len(ours)} track points compared with ElementTree and GPSBabel")

        names = sorted(f for f in os.listdir(data) if f.endswith(".gpx"))
        for name in names:
            source = os.path.join(data, name)
            points = reference_points(source)
            check_waypoints(name, source, [], points["wpt"], ["-w"])
            check_waypoints(name, source, ["--routes"], points["wpt"] + points["rtept"], ["-w", "-r"])  # one run each
            check_track(name, source, points["trkpt"])

    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
