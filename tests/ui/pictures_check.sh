#!/usr/bin/env bash
# The committed pictures are exactly what scripts/make-pictures.py draws,
# with the sizes and colour depths the wizards expect.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
fresh="$(mktemp -d)"
trap 'rm -rf "$fresh"' EXIT
/usr/bin/python3 "$top/scripts/make-pictures.py" "$fresh"
status=0
for name in WizardHeader.bmp WizardWatermark.bmp Tervolin.ico SetupWatermark.bmp SetupHeader.bmp; do
    if ! cmp -s "$fresh/$name" "$top/resources/ui/$name"; then
        echo "resources/ui/$name differs from what scripts/make-pictures.py makes" >&2
        status=1
    fi
done
/usr/bin/python3 - "$top/resources/ui" <<'PY' || status=1
import struct, sys
folder = sys.argv[1]
def bitmap(name, width, height):
    data = open(f"{folder}/{name}", "rb").read()
    size, w, h, planes, bits = struct.unpack_from("<IiiHH", data, 14)
    assert (w, h, bits) == (width, height, 8), f"{name}: {w}x{h}, {bits} bits per pixel"
bitmap("WizardHeader.bmp", 49, 49)
bitmap("WizardWatermark.bmp", 164, 384)
bitmap("SetupWatermark.bmp", 164, 314)
bitmap("SetupHeader.bmp", 150, 57)
data = open(f"{folder}/Tervolin.ico", "rb").read()
_, kind, count = struct.unpack_from("<HHH", data, 0)
sizes = []
for i in range(count):
    w, h, colours, _, planes, bits, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
    header_bits = struct.unpack_from("<H", data, offset + 14)[0]
    header_width = struct.unpack_from("<i", data, offset + 4)[0]
    sizes.append((w or 256, h or 256, bits, header_bits, header_width))
expected = [(n, n, 8, 8, n) for n in (16, 32, 48, 256)]
assert kind == 1 and sorted(sizes) == expected, f"Tervolin.ico: {sizes}"
PY
exit $status
