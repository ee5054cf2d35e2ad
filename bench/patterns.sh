#!/usr/bin/env bash
# Inputs on which a backtracking pattern matcher without memo takes days:
# a map whose ADD_MAPS.CFG holds "1 a", 60 CR LF pairs and "!" (each pair
# is one line end or two), and a KML document whose namespace is the KML
# one followed by a megabyte of digits and a letter (every split of the
# digits between the two version numbers is tried). Prints the time of
# `tervolin map layers` and `tervolin convert kml` on each (both refuse the
# input), next to the same commands on the bundled samples.
# Goal: each well under a second beyond the sample's time.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

python3 - "$work" <<'EOF'
import struct, sys
folder = sys.argv[1]
pointer = b"1 a" + b"\r\n" * 60 + b"!"
files = [(b"ADD_MAPS", b"CFG", pointer), (b"A", b"", b"[LAYERS]\r\nNUMBER=0\r\n")]
header = bytearray(struct.pack("<II", len(files), len(files)))
offset = 8 + 24 * len(files) + 32
data = b""
for base, extension, content in files:
    header += base.ljust(9, b"\0") + extension.ljust(7, b"\0") + struct.pack("<II", offset + len(data), len(content))
    data += content + b"\0" * (len(content) % 2)
header += b"\0\0MAGELLAN\0" + b"\0" * 21
open(f"{folder}/pointer.imi", "wb").write(bytes(header) + data + b"MAGELLAN\0\0")
uri = "http://www.opengis.net/kml/" + "7" * (1 << 20) + "x"
open(f"{folder}/namespace.kml", "w").write(
    f'<kml xmlns="{uri}"><Document><Placemark><name>A</name>'
    '<Point><coordinates>1,2,3</coordinates></Point></Placemark></Document></kml>\n')
EOF

measure "map layers, the sample map" "$top/scripts/wine-run" "$host" map layers "$top/samples/tervolin-sample.imi"
# Both inputs are refused (exit code 1): time the refusal.
measure "map layers, 60 CR LF pairs in ADD_MAPS.CFG" bash -c '"$@" || true' refused "$top/scripts/wine-run" "$host" map layers "$work/pointer.imi"
measure "convert kml, the sample" "$top/scripts/wine-run" "$host" convert kml "$top/samples/alpine-huts.kml" "$work/huts.upt"
measure "convert kml, a 1 MB namespace" bash -c '"$@" || true' refused "$top/scripts/wine-run" "$host" convert kml "$work/namespace.kml" "$work/ns.upt"
