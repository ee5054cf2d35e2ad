#!/usr/bin/env python3
"""Writes Magellan map containers with made-up content, for the project's
sample map, its tests and the map benchmark.

  make-map.py sample OUT.imi                 the small sample map
  make-map.py large OUT.imi --megabytes 512 --layers 99
                                             a large map: 2 x layers + 2 entries
  make-map.py sample OUT.img --big-endian    the same, counts and offsets big-endian

Layout: count N twice, N directory entries of 24 bytes (base name 9 bytes,
extension 7 bytes, offset, length), header check word (XOR of the 16-bit
words before it), "MAGELLAN\\0" and 21 zero bytes, the packed files at even
offsets (odd lengths padded with a zero byte), "MAGELLAN" and the file check
word (XOR of the packed-file words). Payloads of layer files are
pseudo-random bytes from a fixed seed, not real map data.
"""
import argparse
import random
import struct

SIGNATURE = b"MAGELLAN"


def xor_words(data):
    """XOR of the little-endian 16-bit words of data (even length). The
    words are folded in halves as one big integer, which is fast for
    buffers of megabytes."""
    if len(data) % 2:
        raise ValueError("odd length")
    width = 16
    while width < len(data) * 8:
        width *= 2
    value = int.from_bytes(data, "little")
    while width > 16:
        width //= 2
        value = (value >> width) ^ (value & ((1 << width) - 1))
    return value


def split_name(name):
    base, _, ext = name.rpartition(".")
    return base.encode("ascii"), ext.encode("ascii")


def payload(data):
    """(size, chunk factory) of bytes, or the pair itself."""
    if isinstance(data, (bytes, bytearray)):
        return len(data), lambda: [data]
    return data


def write_container(path, entries, big_endian=False):
    """entries: (name, bytes) or (name, (size, factory of even-sized chunks
    but the last))."""
    entries = [(name, payload(data)) for name, data in entries]
    count = len(entries)
    order = ">" if big_endian else "<"
    directory = bytearray(struct.pack(order + "II", count, count))
    offset = 8 + 24 * count + 32
    for name, (size, _) in entries:
        base, ext = split_name(name)
        directory += base.ljust(9, b"\0") + ext.ljust(7, b"\0") + struct.pack(order + "II", offset, size)
        offset += size + (size & 1)
    check = 0
    with open(path, "wb") as out:
        out.write(directory)
        out.write(struct.pack("<H", xor_words(bytes(directory))))
        out.write(SIGNATURE + b"\0" + bytes(21))
        for name, (size, chunks) in entries:
            for chunk in chunks():
                if len(chunk) % 2:
                    chunk = bytes(chunk) + b"\0"
                check ^= xor_words(chunk)
                out.write(chunk)
        out.write(SIGNATURE + struct.pack("<H", check))


def layer_line(identifier, stem, group, zooms, colour, style):
    return " ".join([identifier, stem, "20", "1", str(group)] + [str(z) for z in zooms] + [colour, style])


def zoom_tokens(detail_to):
    """Per detail level: detail from Any to detail_to, base map never hidden,
    names up to two levels below the detail."""
    tokens = []
    for level in range(5):
        upper = max(1, detail_to - level)
        tokens += [0, upper, 0, 0, 0, max(1, upper - 2)]
    return tokens


SAMPLE_LAYERS = [
    ("Motorways", "00mwy", 0, 11, "RED", "US_INTERSTATE_HW_LINE"),
    ("Main_Roads", "00main", 0, 9, "DARK_RED", "US_MAJOR_RD_LINE"),
    ("Streets", "00str", 0, 6, "DARK_GRAY", "US_STREET_LINE"),
    ("Rivers", "00riv", 2, 8, "BLUE", "RIVER_LINE"),
    ("Lakes", "00lake", 2, 10, "CYAN", "SOLID_FILL"),
    ("Woods", "00wood", 3, 7, "GREEN", "DOT_FILL"),
    ("Footpaths", "00path", 4, 5, "BROWN", "TRAIL_LINE"),
]


def configuration(layers, draw_order, colours4):
    lines = ["[MAP_INFO]", "MAP_NAME=Tervolin Sample", "BYTE_ORDER=I", "", "[LAYERS]", "DB_NAME=db00",
             "NUMBER=%d" % len(layers)]
    for number, (identifier, stem, group, detail_to, colour, style) in enumerate(layers):
        lines.append("%d=%s" % (number, layer_line(identifier, stem, group, zoom_tokens(detail_to), colour, style)))
    lines.append("ORDERDRAW=" + " ".join(str(n) for n in draw_order))
    lines += ["", "[COLORS4BITS]", "LAY_COLOR=" + colours4, ""]
    return "\r\n".join(lines).encode("ascii")


def sample_entries():
    rng = random.Random(4)
    entries = [("ADD_MAPS.CFG", b"1 SAMPLE.INI\r\n"),
               ("SAMPLE.INI", configuration(SAMPLE_LAYERS, [4, 5, 3, 6, 2, 1, 0], "1 4 BLUE SOLID_FILL"))]
    for index, layer in enumerate(SAMPLE_LAYERS):
        stem = layer[1].upper()
        size = 0 if stem == "00PATH" else 1500 + 977 * index
        entries.append((stem + ".LAY", bytes(rng.getrandbits(8) for _ in range(size))))
        entries.append((stem + ".CLT", bytes(rng.getrandbits(8) for _ in range(12 * (index + 1)))))
    entries.append(("DB00.DBD", bytes(rng.getrandbits(8) for _ in range(1024))))
    entries.append(("GR0.AUX", bytes(rng.getrandbits(8) for _ in range(513))))
    return entries


def large_entries(megabytes, layer_count):
    rng = random.Random(7)
    block = bytes(rng.getrandbits(8) for _ in range(1 << 20))
    layers = [("Layer_%03d" % n, "00l%03d" % n, n % 8, 5 + n % 10, "BLACK", "SINGLE_LINE")
              for n in range(layer_count)]
    entries = [("ADD_MAPS.CFG", b"1 LARGE.INI\r\n"),
               ("LARGE.INI", configuration(layers, list(range(layer_count)), "0"))]
    per_layer = (megabytes << 20) // layer_count

    def chunks(size):
        def produce():
            left = size
            while left:
                piece = min(left, len(block))
                yield block[:piece]
                left -= piece
        return produce

    for index, layer in enumerate(layers):
        size = per_layer - 1 - index % 2  # some odd lengths
        entries.append((layer[1].upper() + ".LAY", (size, chunks(size))))
        entries.append((layer[1].upper() + ".CLT", bytes(rng.getrandbits(8) for _ in range(48 + index))))
    return entries


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("kind", choices=["sample", "large"])
    parser.add_argument("output")
    parser.add_argument("--big-endian", action="store_true")
    parser.add_argument("--megabytes", type=int, default=512)
    parser.add_argument("--layers", type=int, default=99)
    args = parser.parse_args()
    entries = sample_entries() if args.kind == "sample" else large_entries(args.megabytes, args.layers)
    write_container(args.output, entries, args.big_endian)


if __name__ == "__main__":
    main()
