#!/usr/bin/env python3
"""Drives "tervolin map" on maps made by scripts/make-map.py and checks the
results with a reader written here, independently of the module: layout,
check words, dropped and kept packed files, the rewritten configuration,
and that refused edits leave an existing output untouched."""
import os
import struct
import subprocess
import sys
import tempfile
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.join(HERE, "..", "..")


def xor16(data):
    value = 0
    for (word,) in struct.iter_unpack("<H", data):
        value ^= word
    return value


def read_map(path):
    """Entries {name: bytes} in order, after checking the layout this
    system writes: little-endian, data from 40 + 24N at even offsets,
    both check words, the MAGELLAN texts."""
    data = open(path, "rb").read()
    count, second = struct.unpack_from("<II", data, 0)
    assert count == second, "count words differ"
    header_end = 8 + 24 * count
    assert xor16(data[:header_end + 2]) == 0, "header check word"
    assert data[header_end + 2:header_end + 32] == b"MAGELLAN" + bytes(22), "header signature"
    assert data[-10:-2] == b"MAGELLAN", "trailer"
    assert xor16(data[header_end + 32:-10]) ^ struct.unpack_from("<H", data, len(data) - 2)[0] == 0, "file check word"
    entries = []
    expected_offset = header_end + 32
    for i in range(count):
        record = data[8 + 24 * i:8 + 24 * (i + 1)]
        base = record[:9].split(b"\0")[0].decode("ascii")
        ext = record[9:16].split(b"\0")[0].decode("ascii")
        offset, length = struct.unpack_from("<II", record, 16)
        assert offset == expected_offset, f"{base}.{ext} at {offset}, expected {expected_offset}"
        if length % 2:
            assert data[offset + length] == 0, "pad byte"
        expected_offset += length + length % 2
        entries.append((f"{base}.{ext}", data[offset:offset + length]))
    assert expected_offset == len(data) - 10, "data ends at the trailer"
    return entries


def write_map(path, files):
    """A little-endian container of (base, extension, data) with any bytes
    in the name fields, for maps no well-behaved tool would write."""
    header_end = 8 + 24 * len(files)
    directory = b""
    body = b""
    offset = header_end + 32
    for base, extension, data in files:
        directory += base.ljust(9, b"\0") + extension.ljust(7, b"\0") + struct.pack("<II", offset + len(body), len(data))
        body += data + bytes(len(data) % 2)
    header = struct.pack("<II", len(files), len(files)) + directory
    header += struct.pack("<H", xor16(header)) + b"MAGELLAN" + bytes(22)
    open(path, "wb").write(header + body + b"MAGELLAN" + struct.pack("<H", xor16(body)))


class Host:
    def __init__(self, build):
        self.command = [os.path.join(TOP, "scripts", "wine-run"), os.path.join(build, "bin", "tervolin.exe"), "map"]
        self.env = dict(os.environ, TERVOLIN_WINEPREFIX=os.environ["WINEPREFIX"])

    def run(self, *arguments):
        return subprocess.run(self.command + list(arguments), capture_output=True, text=True, env=self.env)


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def main():
    host = Host(os.environ["TERVOLIN_BUILD"])
    with tempfile.TemporaryDirectory() as tmp:
        sources = {}
        for order in ("little", "big"):
            path = os.path.join(tmp, f"sample-{order}.imi")
            subprocess.run([sys.executable, os.path.join(TOP, "scripts", "make-map.py"), "sample", path]
                           + (["--big-endian"] if order == "big" else []), check=True)
            sources[order] = path
        original = read_map(sources["little"])
        committed = open(os.path.join(TOP, "samples", "tervolin-sample.imi"), "rb").read()
        check(committed == open(sources["little"], "rb").read(), "samples/tervolin-sample.imi is not what make-map.py makes")

        # list: every entry with grouped offset and length, check words verified.
        listing = host.run("list", sources["big"])
        check(listing.returncode == 0, listing.stderr)
        lines = listing.stdout.splitlines()
        check(len(lines) == len(original) + 2, listing.stdout)
        check("big-endian" in lines[-1] and lines[-1].count(" verifies") == 2, lines[-1])
        check(lines[2].split()[:2] == ["SAMPLE.INI", "486"] and lines[3].split()[2] == "1,500", lines[3])

        # A broken check word is a warning, not a refusal.
        broken = bytearray(open(sources["little"], "rb").read())
        broken[-1] ^= 1
        broken_path = os.path.join(tmp, "broken.imi")
        open(broken_path, "wb").write(broken)
        warned = host.run("list", broken_path)
        check(warned.returncode == 0 and "warning" in warned.stderr, warned.stderr)

        # edit of the big-endian source: written little-endian, layer dropped.
        out = os.path.join(tmp, "edited.imi")
        edit = host.run("edit", sources["big"], out, "--remove", "Rivers", "--color", "lakes=red",
                        "--zoom", "Streets=Low:detail-to=8")
        check(edit.returncode == 0, edit.stderr)
        edited = read_map(out)
        names = [name for name, _ in edited]
        check(names == [n for n, _ in original if not n.startswith("00RIV.")], names)
        source_data = dict(original)
        for name, data in edited:
            if name != "SAMPLE.INI":
                check(data == source_data[name], f"{name} changed")
        config = dict(edited)["SAMPLE.INI"].decode("ascii")
        check("NUMBER=6\r\n" in config and "Rivers" not in config, config)
        check("ORDERDRAW=3 4 5 2 1 0\r\n" in config, config)
        check(" RED SOLID_FILL\r\n" in config, config)

        # Refused edits leave an existing output alone.
        kept = os.path.join(tmp, "kept.imi")
        for arguments, code in ((["--remove", "NoSuchLayer"], 1), (["--style", "Lakes=NO_STYLE"], 2),
                                (["--up", "Lakes"], 1), (["--zoom", "Lakes=Lowest:names-to=18"], 2)):
            open(kept, "wb").write(b"keep")
            refused = host.run("edit", sources["little"], kept, *arguments)
            check(refused.returncode == code, f"{arguments}: {refused.returncode} {refused.stderr!r}")
            check(open(kept, "rb").read() == b"keep", f"{arguments} touched the output")

        # Writing over the source fails and keeps it.
        before = open(sources["little"], "rb").read()
        same = host.run("edit", sources["little"], sources["little"], "--remove", "Rivers")
        check(same.returncode == 1 and open(sources["little"], "rb").read() == before, f"over source: {same.stderr!r}")

        # extract and describe.
        folder = os.path.join(tmp, "extracted")
        extract = host.run("extract", sources["big"], folder)
        check(extract.returncode == 0, extract.stderr)
        for name, data in original:
            check(open(os.path.join(folder, name), "rb").read() == data, f"extracted {name}")
        # Packed file names that would leave the destination folder are
        # refused before anything is written.
        nested = os.path.join(tmp, "x", "y")
        os.makedirs(nested)
        for base in (b"..\\..\\ab", b"../../ab", b"c:ab", b"NUL", b"com1", b"CON ", b"lpt9\r\n"):
            hostile = os.path.join(tmp, "hostile.imi")
            write_map(hostile, [(b"PLAIN", b"TXT", b"plain"), (base, b"TXT", b"escaped")])
            refused = host.run("extract", hostile, os.path.join(nested, "out"))
            check(refused.returncode == 1 and "PLAIN.TXT" not in os.listdir(nested) + os.listdir(tmp)
                  and os.listdir(nested) == [] and not os.path.exists(os.path.join(tmp, "x", "ab.TXT")),
                  f"{base!r}: {refused.returncode} {refused.stderr!r}")
            check(len(refused.stderr.splitlines()) == 1, f"{base!r}: one line: {refused.stderr!r}")
        # Names that differ only in letter case are extracted side by side.
        twins = os.path.join(tmp, "twins.imi")
        write_map(twins, [(b"ROADS", b"LAY", b"one"), (b"roads", b"lay", b"two")])
        twin_folder = os.path.join(tmp, "twins")
        extracted = host.run("extract", twins, twin_folder)
        check(extracted.returncode == 0 and "2 files extracted" in extracted.stdout
              and "1 renamed" in extracted.stdout, extracted.stdout + extracted.stderr)
        check(sorted(os.listdir(twin_folder)) == ["ROADS.LAY", "roads (2).lay"]
              and open(os.path.join(twin_folder, "roads (2).lay"), "rb").read() == b"two", os.listdir(twin_folder))
        # A link at the destination is replaced; the file it points to is
        # never written through, by extraction or by edit.
        elsewhere = os.path.join(tmp, "elsewhere.txt")
        linked_folder = os.path.join(tmp, "linked")
        os.makedirs(linked_folder)
        for arguments, link in ((["extract", sources["little"], linked_folder, "SAMPLE.INI"],
                                 os.path.join(linked_folder, "SAMPLE.INI")),
                                (["edit", sources["little"], os.path.join(linked_folder, "edited.imi")],
                                 os.path.join(linked_folder, "edited.imi"))):
            open(elsewhere, "wb").write(b"not yours")
            os.symlink(elsewhere, link)
            through = host.run(*arguments)
            check(through.returncode == 0, f"{arguments[0]}: {through.stderr!r}")
            check(open(elsewhere, "rb").read() == b"not yours", f"{arguments[0]} wrote through the link")
            check(not os.path.islink(link) and os.path.getsize(link) > 9, f"{arguments[0]} left the link")
        # Any other file is not a map, and says so.
        not_map = os.path.join(tmp, "lakes.wpt")
        with open(not_map, "wb") as stream:
            stream.write(b"OziExplorer Waypoint File Version 1.1\r\nWGS 84\r\n")
        listed = host.run("list", not_map)
        check(listed.returncode == 1 and "not a Magellan map file" in listed.stderr, listed.stderr)
        described = host.run("describe", sources["little"], "00riv.lay")
        check(described.stdout.splitlines() == ["File Name: 00RIV.LAY",
                                                "File Type: Map layer data (map objects with coordinates)",
                                                "Location: 4,431 bytes at offset 8,890"], described.stdout)

        layers = host.run("layers", out)
        check(layers.returncode == 0 and "Rivers" not in layers.stdout, layers.stdout)
        check("Low      detail visible Any to 5.0 km" in layers.stdout, layers.stdout)
    print("map command checks passed")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except AssertionError:
        traceback.print_exc(file=sys.stdout)
        sys.exit(1)
