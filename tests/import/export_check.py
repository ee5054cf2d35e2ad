#!/usr/bin/env python3
"""tervolin export, checked against independent readers.

Round trip: OziExplorer and KML files converted by tervolin into Magellan
files and exported back to GPX give the points of the originals (read here
with Python) in the same order: positions within the sentence format's
precision (1/100000 minute for waypoints, 1/1000 minute for track points),
altitudes within 1 m, times as the track log holds them, to the millisecond.

GPSBabel's files: Magellan files that GPSBabel 1.8 writes from the real
OziExplorer and GPX files are exported, and the points agree with what
GPSBabel itself reads from the same Magellan files.

Every GPX written is checked with ElementTree (GPX 1.1 namespace, element
order of the schema) and read back by GPSBabel; KML likewise. A table of
failures checks the words and that a failed export leaves the destination
as it was."""
import datetime
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from host_check import SKIP, run_host  # noqa: E402

GPX = "{http://www.topografix.com/GPX/1/1}"
GPX10 = "{http://www.topografix.com/GPX/1/0}"
KML = "{http://www.opengis.net/kml/2.2}"
FOOT = 0.3048
WAYPOINT_DEGREES = 1e-5 / 60 + 1e-9
TRACK_DEGREES = 1e-3 / 60 + 1e-9

here = os.path.dirname(os.path.abspath(__file__))
source_dir = os.path.join(here, "..", "..")
failures = []


def fail(message):
    print("FAIL " + message)
    failures.append(message)


def export(source, destination, *options):
    result = run_host("export", *options, source, destination)
    if result.returncode != 0:
        fail(f"export {os.path.basename(source)}: exit {result.returncode}: {result.stderr.strip()}")
    return result


# ---- the points of a GPX file, checked against the schema's shape --------------------------------

WPT_ORDER = ["ele", "time", "name", "cmt"]


def gpx_points(path):
    """(kind, [(lat, lon, ele, time, name, cmt, segment)]) of our GPX, its shape checked."""
    root = ET.parse(path).getroot()
    if root.tag != GPX + "gpx" or root.get("version") != "1.1":
        fail(f"{path}: root is {root.tag} version {root.get('version')}")
    points = []

    def point(element, segment):
        names = [child.tag[len(GPX):] for child in element]
        if names != [n for n in WPT_ORDER if n in names]:
            fail(f"{path}: children {names} out of the schema's order")
        lat, lon = float(element.get("lat")), float(element.get("lon"))
        if not (-90 <= lat <= 90 and -180 <= lon <= 180):
            fail(f"{path}: position {lat},{lon} out of range")
        text = {child.tag[len(GPX):]: child.text for child in element}
        ele = float(text["ele"]) if "ele" in text else None
        return (lat, lon, ele, text.get("time"), text.get("name"), text.get("cmt"), segment)

    kinds = {child.tag for child in root}
    if kinds - {GPX + "wpt", GPX + "trk"} or len(kinds) != 1:
        fail(f"{path}: top-level elements {kinds}")
    for wpt in root.iter(GPX + "wpt"):
        points.append(point(wpt, 0))
    for segment, trkseg in enumerate(root.iter(GPX + "trkseg")):
        for trkpt in trkseg.iter(GPX + "trkpt"):
            points.append(point(trkpt, segment))
    return ("wpt" if GPX + "wpt" in kinds else "trk"), points


def gpsbabel_gpx(kind, fmt, path):
    """What GPSBabel reads: [(lat, lon, ele, time, name)]."""
    result = subprocess.run(["gpsbabel", kind, "-i", fmt, "-f", path, "-o", "gpx", "-F", "-"],
                            capture_output=True, text=True, check=True)
    root = ET.fromstring(result.stdout)
    tag = "wpt" if kind == "-w" else "trkpt"
    found = []
    for element in root.iter():
        if not element.tag.endswith("}" + tag):
            continue
        text = {child.tag.split("}")[1]: child.text for child in element}
        found.append((float(element.get("lat")), float(element.get("lon")),
                      float(text["ele"]) if "ele" in text else None, text.get("time"), text.get("name")))
    return found


def iso_time(text):
    return datetime.datetime.strptime(text.rstrip("Z"), "%Y-%m-%dT%H:%M:%S.%f" if "." in text
                                      else "%Y-%m-%dT%H:%M:%S")


def read_back_by_gpsbabel(path, kind, count):
    fmt = "gpx" if path.endswith(".gpx") else "kml"
    read = gpsbabel_gpx(kind, fmt, path)
    if len(read) != count:
        fail(f"{os.path.basename(path)}: GPSBabel reads {len(read)} points, {count} were written")


# ---- the originals, read here --------------------------------------------------------------------

def ozi_fields(path, skip):
    with open(path, "rb") as f:
        lines = f.read().decode("cp1252").splitlines()[skip:]
    rows = []
    for line in lines:
        if line.strip():
            rows.append(next(iter(__import__("csv").reader([line], skipinitialspace=True))))
    return rows


def ozi_waypoints(path):
    return [(float(r[2]), float(r[3]), r[1].strip()) for r in ozi_fields(path, 4)]


def ozi_track(path):
    with open(path, "rb") as f:
        feet = "feet" in f.read().decode("cp1252").splitlines()[2].lower()
    epoch = datetime.datetime(1899, 12, 30)
    return [(float(r[0]), float(r[1]), float(r[3]) * (FOOT if feet else 1.0),
             epoch + datetime.timedelta(days=float(r[4]))) for r in ozi_fields(path, 6)]


def kml_placemarks(path):
    root = ET.parse(path).getroot()
    found = []
    for placemark in root.iter(KML + "Placemark"):
        lon, lat, *alt = placemark.find(f".//{KML}coordinates").text.strip().split(",")
        found.append((float(lat), float(lon), float(alt[0]) if alt else 0.0, placemark.findtext(KML + "name")))
    return found


def log_times(path):
    """The time fields of a track log, as the export must carry them."""
    times = []
    with open(path, "rb") as f:
        for line in f.read().decode("cp1252").splitlines():
            fields = line.split("*")[0].split(",")
            if fields[0] == "$PMGNTRK":
                times.append(fields[7])
    return times


# ---- the checks ----------------------------------------------------------------------------------

def compare_position(name, index, expected, got, tolerance):
    if abs(expected[0] - got[0]) > tolerance or abs(expected[1] - got[1]) > tolerance:
        fail(f"{name}: point {index + 1}: {expected[:2]} became {got[:2]}")
        return False
    return True


def round_trip_waypoints(tmp, name, conversion, original, separators_pass, by_name=False):
    magellan = os.path.join(tmp, name + ".upt")
    gpx = os.path.join(tmp, name + ".gpx")
    source = original_path(name)
    if run_host("convert", conversion, source, magellan).returncode != 0:
        return fail(f"{name}: convert failed")
    export(magellan, gpx)
    kind, points = gpx_points(gpx)
    if kind != "wpt" or len(points) != len(original):
        return fail(f"{name}: {len(points)} {kind} points for {len(original)} waypoints")
    # The KML conversion writes a document's own placemarks before those of
    # its folders: its points are paired by name.
    if by_name:
        original = sorted(original, key=lambda p: p[-1])
        points = sorted(points, key=lambda p: p[4] or "")
    for i, (want, got) in enumerate(zip(original, points)):
        if not compare_position(name, i, want, got, WAYPOINT_DEGREES):
            break
        # The Magellan writers of main write names verbatim: one with a
        # sentence separator does not come back whole.
        if separators_pass or not re.search(r"[,*$]", want[-1]):
            if got[4] != want[-1]:
                fail(f"{name}: point {i + 1}: name {want[-1]!r} became {got[4]!r}")
        if len(want) == 4 and abs((got[2] or 0.0) - want[2]) > 1.0:
            fail(f"{name}: point {i + 1}: altitude {want[2]} became {got[2]}")
    read_back_by_gpsbabel(gpx, "-w", len(points))
    print(f"{name}: {len(points)} waypoints come back")


def round_trip_track(tmp, name):
    magellan = os.path.join(tmp, name + ".log")
    gpx = os.path.join(tmp, name + ".gpx")
    source = original_path(name)
    if run_host("convert", "track", source, magellan).returncode != 0:
        return fail(f"{name}: convert failed")
    export(magellan, gpx)
    original = ozi_track(source)
    times = log_times(magellan)
    kind, points = gpx_points(gpx)
    if kind != "trk" or len(points) != len(original):
        return fail(f"{name}: {len(points)} {kind} points for {len(original)} track points")
    for i, (want, got, logged) in enumerate(zip(original, points, times)):
        if not compare_position(name, i, want, got, TRACK_DEGREES):
            break
        if abs(got[2] - want[2]) > 1.0:
            fail(f"{name}: point {i + 1}: altitude {want[2]:.2f} m became {got[2]}")
            break
        if logged:
            if got[3] is None or got[3][11:23].replace(":", "") != logged:
                fail(f"{name}: point {i + 1}: time {logged} became {got[3]}")
                break
            if abs((iso_time(got[3]) - want[3]).total_seconds()) > 1.0:
                fail(f"{name}: point {i + 1}: time {want[3]} became {got[3]}")
                break
    read_back_by_gpsbabel(gpx, "-t", len(points))
    print(f"{name}: {len(points)} track points come back")


def gpsbabel_written(tmp, label, kind, fmt, source):
    """A Magellan file written by GPSBabel, exported, against GPSBabel's own reading of it."""
    magellan = os.path.join(tmp, label + (".upt" if kind == "-w" else ".log"))
    written = subprocess.run(["gpsbabel", kind, "-i", fmt, "-f", source, "-o", "magellanx", "-F", magellan],
                             capture_output=True, text=True)
    if written.returncode != 0:
        print(f"{label}: GPSBabel does not write it ({written.stderr.strip()}): passed over")
        return
    gpx = os.path.join(tmp, label + ".gpx")
    expected = gpsbabel_gpx(kind, "magellanx", magellan)
    if not expected:
        if run_host("export", magellan, gpx).returncode != 1:
            fail(f"{label}: a file without points was exported")
        return
    if export(magellan, gpx).returncode != 0:
        return
    _, points = gpx_points(gpx)
    if len(points) != len(expected):
        return fail(f"{label}: {len(points)} points exported, GPSBabel reads {len(expected)}")
    for i, (want, got) in enumerate(zip(expected, points)):
        if not compare_position(label, i, want, got, 1e-7):
            return
        if want[2] is not None and abs((got[2] or 0.0) - want[2]) > 1.0:
            return fail(f"{label}: point {i + 1}: altitude {want[2]} became {got[2]}")
        if kind == "-t" and want[3] and (got[3] is None or
                                         abs((iso_time(got[3]) - iso_time(want[3])).total_seconds()) > 0.0005):
            return fail(f"{label}: point {i + 1}: time {want[3]} became {got[3]}")
        if kind == "-w" and (got[4] or "") != (want[4] or ""):
            return fail(f"{label}: point {i + 1}: name {want[4]!r} became {got[4]!r}")
    print(f"{label}: {len(points)} points of GPSBabel's file agree")


def kml_output(tmp):
    source = os.path.join(tmp, "huts.upt")
    run_host("convert", "kml", original_path("alpine-huts.kml"), source)
    kml = os.path.join(tmp, "huts.kml")
    export(source, kml)
    placemarks = kml_placemarks(kml)
    if sorted(p[3] for p in placemarks) != sorted(p[3] for p in kml_placemarks(original_path("alpine-huts.kml"))):
        fail("huts.kml: the placemarks' names differ from the original's")
    read_back_by_gpsbabel(kml, "-w", len(placemarks))

    track = os.path.join(tmp, "ridge.log")
    run_host("convert", "track", original_path("ridge-walk.plt"), track)
    track_kml = os.path.join(tmp, "ridge.kml")
    export(track, track_kml, "--points")
    root = ET.parse(track_kml).getroot()
    lines = root.findall(f".//{KML}LineString")
    folder_points = root.findall(f".//{KML}Folder/{KML}Placemark")
    count = len(ozi_track(original_path("ridge-walk.plt")))
    coordinates = sum(len(line.findtext(KML + "coordinates").split()) for line in lines)
    if coordinates != count or len(folder_points) != count:
        fail(f"ridge.kml: {coordinates} line and {len(folder_points)} point placemarks for {count} points")
    else:
        print(f"ridge.kml: a line of {count} points and {count} point placemarks")


def failure_table(tmp):
    good = os.path.join(tmp, "good.log")
    with open(good, "wb") as f:
        f.write(b"$PMGNTRK,4830.000,N,01115.000,W,10,M,120000.00,A,,010108\r\n")
    cases = [
        ("broken number", b"$PMGNCMD,VERSION\r\n$PMGNTRK,48x0.000,N,01115.000,W,10,M,,A,,\r\n", "out.gpx", 1,
         "line 2: the latitude '48x0.000' is not a number"),
        ("unknown extension", None, "out.txt", 1, "the destination must end in .gpx or .kml"),
        ("not a sentence file", b"<?xml version='1.0'?>\r\n<gpx/>\r\n", "out.gpx", 1,
         "not a Magellan waypoint or track file"),
        ("wrong checksum counted", b"$PMGNTRK,4830.000,N,01115.000,W,10,M,,A,,*00\r\n"
         b"$PMGNTRK,4830.000,N,01115.000,W,10,M,,A,,\r\n", "out.gpx", 0,
         "skipped 1 sentence with a wrong checksum"),
    ]
    for label, contents, destination_name, exit_code, words in cases:
        source = good
        if contents is not None:
            source = os.path.join(tmp, "case.log")
            with open(source, "wb") as f:
                f.write(contents)
        destination = os.path.join(tmp, destination_name)
        with open(destination, "w") as f:
            f.write("kept")
        result = run_host("export", source, destination)
        if result.returncode != exit_code or words not in result.stderr:
            fail(f"{label}: exit {result.returncode}, words {result.stderr.strip()!r}")
            continue
        with open(destination) as f:
            kept = f.read() == "kept"
        if kept != (exit_code != 0):
            fail(f"{label}: the destination was {'kept' if kept else 'replaced'}")
            continue
        print(f"{label}: {result.stderr.strip()}")


def original_path(name):
    for folder in (os.path.join(source_dir, "samples"), os.path.join(os.environ.get("TERVOLIN_TESTDATA_LINUX", ""), "ozi")):
        path = os.path.join(folder, name)
        if os.path.exists(path):
            return path
    raise FileNotFoundError(name)


def main():
    data = os.environ.get("TERVOLIN_TESTDATA_LINUX", "")
    with tempfile.TemporaryDirectory() as tmp:
        round_trip_waypoints(tmp, "lakes.wpt", "waypoints", ozi_waypoints(original_path("lakes.wpt")), False)
        round_trip_waypoints(tmp, "alpine-huts.kml", "kml", kml_placemarks(original_path("alpine-huts.kml")), True,
                             by_name=True)
        round_trip_track(tmp, "ridge-walk.plt")
        kml_output(tmp)
        failure_table(tmp)
        if not os.path.isdir(os.path.join(data, "ozi")):
            print("real-world test data (../shared/testdata) is absent: its files skipped")
            return 1 if failures else SKIP
        round_trip_waypoints(tmp, "gpsbabel-ozi.wpt", "waypoints", ozi_waypoints(original_path("gpsbabel-ozi.wpt")),
                             False)
        for name in ("gpsbabel-20070813_short.plt", "gpsbabel-ozitracks-gpx-1.plt", "gpsbabel-packed-3segments.plt"):
            round_trip_track(tmp, name)
            gpsbabel_written(tmp, "gpsbabel-" + name, "-t", "ozi", original_path(name))
        gpsbabel_written(tmp, "gpsbabel-ozi-wpt", "-w", "ozi", original_path("gpsbabel-ozi.wpt"))
        gpx_folder = os.path.join(data, "gpx")
        for name in sorted(os.listdir(gpx_folder)) if os.path.isdir(gpx_folder) else []:
            if name.endswith(".gpx"):
                for kind in ("-w", "-t"):
                    gpsbabel_written(tmp, f"{name}{kind}", kind, "gpx", os.path.join(gpx_folder, name))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
