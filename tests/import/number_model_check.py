#!/usr/bin/env python3
"""Compares the numbers that tervolin.exe writes with an independent model of
the sentence arithmetic in IEEE double precision, byte for byte.

A few thousand random coordinates, altitudes and day numbers (fixed seed)
are written as OziExplorer waypoints, an OziExplorer track and KML
placemarks in varied number forms: integers, a trailing point, blanks
around the number, one to nine fraction digits and negative zero. The
model parses each text and formats each field as the conversions do, with
every operation rounded to a double; a build whose arithmetic keeps more
precision than a double truncates some results differently."""
import datetime
import math
import os
import random
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from host_check import run_host  # noqa: E402

SEED = 20080101
COUNT = 3000

# Values whose exact products lie just above a truncation boundary.
KNOWN_WAYPOINTS = [("-0.358557", "-0.358557"), ("48.5", "-11.25"), ("-33.5", "0")]


# ----------------------------------------------------------------- inputs

def number_text(rng, integer_limit, allow_negative=True):
    """A decimal text in one of the forms people's files hold."""
    negative = allow_negative and rng.random() < 0.5
    integer = rng.randrange(integer_limit)
    if rng.random() < 0.05:
        integer = 0
    form = rng.choice(["integer", "point", "fraction", "fraction", "fraction", "blanks"])
    sign = "-" if negative else ""
    if form == "integer":
        text = f"{sign}{integer}"
    elif form == "point":
        text = f"{sign}{integer}."
    else:
        digits = "".join(rng.choice("0123456789") for _ in range(rng.randint(1, 9)))
        text = f"{sign}{integer}.{digits}"
    if form == "blanks":
        text = " " * rng.randint(1, 3) + text + " " * rng.randint(0, 2)
    return text


def day_text(rng):
    if rng.random() < 0.05:
        return rng.choice(["0", "0.5", "1", "1.", "1.5", "-1.25", "36526"])
    return number_text(rng, 60000, allow_negative=False)


# ------------------------------------------------------------------ model

def truncate(value):
    """A double truncated toward zero into an int, saturating like the module."""
    if math.isnan(value):
        return 0
    if value >= 2147483647.0:
        return 2147483647
    if value <= -2147483648.0:
        return -2147483648
    return int(value)


def parse_decimal(text):
    text = text.strip()
    if "." not in text:
        return float(text)
    integer_text, fraction_text = text.split(".", 1)
    value = float(integer_text)
    if fraction_text:
        fraction = float(int(fraction_text)) / math.pow(10.0, len(fraction_text))
        value += -fraction if integer_text.startswith("-") else fraction
    return value


def fixed_point(integer_format, value):
    integer = truncate(value)
    fraction = truncate((abs(value) - abs(math.trunc(value))) * 100000.0)
    sign = "-" if value < 0 and integer == 0 else ""
    return sign + integer_format % integer + ".%05d" % fraction


def degree_minutes(digits, value):
    absolute = abs(value)
    degrees = math.floor(absolute)
    return "%0*d" % (digits, truncate(degrees)) + fixed_point("%02d", (absolute - degrees) * 60.0)


def track_angle(form, value):
    sign = 1.0 if value >= 0 else -1.0
    absolute = sign * value
    degrees = truncate(absolute)
    fraction = absolute - degrees
    minutes = truncate(fraction * 60.0)
    thousandths = truncate((fraction - minutes / 60.0) * 60.0 * 1000.0)
    return form % (degrees, minutes, thousandths)


def system_time(day_number):
    """The platform's automation-date conversion: the date of the day number
    truncated toward zero, the time of its fraction's magnitude to the
    nearest second (with a tiny allowance for truncation); None where it
    fails."""
    if day_number <= -657435.0 or day_number >= 2958466.0:
        return None
    whole = math.ceil(day_number) if day_number < 0 else math.floor(day_number)
    part = abs(day_number - whole) + 0.00000000001
    if part >= 1.0:
        part -= 0.00000000001
    seconds = 0
    for unit, scale in ((3600, 24.0), (60, 60.0), (1, 60.0)):
        part *= scale
        seconds += unit * int(part)
        part -= int(part)
    if part > 0.5:
        seconds += 1
    return datetime.datetime(1899, 12, 30) + datetime.timedelta(days=int(day_number), seconds=seconds)


def sentence(body, checksum=True):
    data = body.encode("ascii")
    if checksum:
        value = 0
        for byte in data[1:]:
            value ^= byte
        data += b"*%02X" % value
    return data + b"\r\n"


def north(value):
    return "N" if value >= 0 else "S"


def east(value):
    return "E" if value >= 0 else "W"


def waypoint_sentence(latitude, longitude, altitude_text, name):
    return sentence(f"$PMGNWPL,{degree_minutes(2, latitude)},{north(latitude)},"
                    f"{degree_minutes(3, longitude)},{east(longitude)},{altitude_text},M,{name},,a")


def track_sentence(latitude, longitude, altitude, day_number):
    time_text = date_text = ""
    moment = system_time(day_number)
    if moment:
        if day_number > 1.0:
            time_text = moment.strftime("%H%M%S.000")
        date_text = "%02d%02d%02d" % (moment.day, moment.month, moment.year % 100)
    return sentence(f"$PMGNTRK,{track_angle('%02d%02d.%03d', latitude)},{north(latitude)},"
                    f"{track_angle('%03d%02d.%03d', longitude)},{east(longitude)},{truncate(altitude)},M,"
                    f"{time_text},A,,{date_text}")


# ------------------------------------------------------------- documents

def waypoint_case(rng):
    lines = [b"OziExplorer Waypoint File Version 1.1\r\n", b"WGS 84\r\n", b"Reserved 2\r\n", b"garmin\r\n"]
    expected = b""
    pairs = KNOWN_WAYPOINTS + [(number_text(rng, 90), number_text(rng, 180)) for _ in range(COUNT)]
    for number, (latitude, longitude) in enumerate(pairs, 1):
        lines.append(f"{number},W{number},{latitude},{longitude},,0,1,3\r\n".encode("ascii"))
        expected += waypoint_sentence(parse_decimal(latitude), parse_decimal(longitude), "0.00000", f"W{number}")
    return "waypoints", ".wpt", b"".join(lines), expected + sentence("$PMGNCMD,END")


def track_case(rng):
    lines = [b"OziExplorer Track Point File Version 2.1\r\n", b"WGS 84\r\n", b"Altitude is in Meters\r\n",
             b"Reserved 3\r\n", b"0,2,255,Model,0,0,2,8421376\r\n", b"0\r\n"]
    expected = b""
    for _ in range(COUNT):
        fields = (number_text(rng, 90), number_text(rng, 180), number_text(rng, 9000), day_text(rng))
        lines.append("{},{},0,{},{}\r\n".format(*fields[:2], *fields[2:]).encode("ascii"))
        latitude, longitude, altitude, day_number = (parse_decimal(f) for f in fields)
        expected += track_sentence(latitude, longitude, altitude, day_number)
    return "track", ".plt", b"".join(lines), expected + sentence("$PMGNCMD,END")


def kml_case(rng):
    placemarks = []
    expected = b""
    for number in range(1, COUNT + 1):
        longitude, latitude, altitude = number_text(rng, 180), number_text(rng, 90), number_text(rng, 9000)
        placemarks.append(f"<Placemark><name>K{number}</name><Point><coordinates>"
                          f"{longitude},{latitude},{altitude}</coordinates></Point></Placemark>\n")
        lon, lat, alt = float(longitude), float(latitude), float(altitude)
        expected += waypoint_sentence(lat, lon, fixed_point("%d", alt), f"K{number}")
    document = ('<?xml version="1.0" encoding="UTF-8"?>\n<kml xmlns="http://www.opengis.net/kml/2.2"><Document>\n'
                + "".join(placemarks) + "</Document></kml>\n")
    return "kml", ".kml", document.encode("ascii"), expected + sentence("$PMGNCMD,END", checksum=False)


def differences(expected, written):
    """The first few sentences that differ."""
    report = []
    for index, (want, got) in enumerate(zip(expected.split(b"\r\n"), written.split(b"\r\n"))):
        if want != got:
            report.append(f"  sentence {index + 1}: expected {want.decode()}\n"
                          f"  {' ' * len(str(index + 1))}           written  {got.decode()}")
            if len(report) == 5:
                break
    return report


def main():
    rng = random.Random(SEED)
    failed = False
    with tempfile.TemporaryDirectory() as folder:
        for kind, extension, source_bytes, expected in (waypoint_case(rng), track_case(rng), kml_case(rng)):
            source = os.path.join(folder, kind + extension)
            output = os.path.join(folder, kind + ".out")
            with open(source, "wb") as f:
                f.write(source_bytes)
            result = run_host("convert", kind, source, output, timeout=120)
            if result.returncode != 0:
                print(f"{kind}: exit code {result.returncode}: {result.stderr.strip()}")
                failed = True
                continue
            with open(output, "rb") as f:
                written = f.read()
            if written == expected:
                print(f"{kind}: {expected.count(b'$PMGN') - 1} sentences agree with the model")
                continue
            failed = True
            wrong = sum(a != b for a, b in zip(expected.split(b"\r\n"), written.split(b"\r\n")))
            print(f"{kind}: {wrong} sentences differ from the model", *differences(expected, written), sep="\n")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
